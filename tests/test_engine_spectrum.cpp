// The spectrum: the analysis of known signals, and what the engine reports of the sound being heard.
#include "playback/engine/SpectrumAnalyzer.h"
#include "playback/engine/VoiceBand.h"
#include "support/EngineFiles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <vector>

using namespace fixtures;
using namespace std::chrono_literals;

TEST(Spectrum, VoiceBandLevelOfSines)
{
    const struct {
        Signal signal;
        double frequency, dbfs;
        int expected, tolerance;
    } cases[] = {
        {Signal::Silence, 1000, -10, 0, 0}, {Signal::Sine, 1000, -10, 84, 2}, {Signal::Sine, 1000, -30, 42, 3},
        {Signal::Sine, 10000, -10, 0, 0},   {Signal::Sine, 100, -10, 0, 0},   {Signal::Sine, 3000, -20, 63, 3},
        {Signal::Sine, 1000, 0, 84, 0},     {Signal::Sine, 1000, -60, 0, 0},
    };
    for (int rate : {44100, 48000, 22050}) {
        SpectrumAnalyzer analyzer(rate);
        for (const auto &c : cases) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, " << c.frequency << " Hz at " << c.dbfs);
            Wave w{.rate = rate, .seconds = 0.1, .signal = c.signal, .frequency = c.frequency, .dbfs = c.dbfs};
            const std::vector<float> samples = samplesOf(w);
            std::array<float, kSpectrumSize> levels{};
            analyzer.analyse(samples.data() + 1000, levels);
            EXPECT_NEAR(levelToValue(levels[128]), c.expected, c.tolerance);

            // The engine's own measure: the band filtered in time, its mean square over the same window.
            VoiceBandFilter filter(rate);
            double sum = 0;
            for (size_t i = 0; i < size_t(1000 + analyzer.windowSize()); ++i) {
                const double band = filter.process(samples[i]);
                if (i >= 1000)
                    sum += band * band;
            }
            EXPECT_NEAR(levelToValue(meanSquareToDb(sum / analyzer.windowSize())), c.expected, c.tolerance);
        }
    }
}

TEST(Spectrum, OtherElementsAreLogBandsAndReleaseFollowsHeardTime)
{
    SpectrumAnalyzer analyzer(44100);
    const std::vector<float> tone = samplesOf(Wave{.seconds = 0.1, .frequency = 5000, .dbfs = -10});
    std::array<float, kSpectrumSize> levels{};
    analyzer.analyse(tone.data(), levels);
    levels[128] = -200.0f; // the voice band is not one of the log bands
    const auto loudest = std::max_element(levels.begin(), levels.end()) - levels.begin();
    const double bandLow = 20.0 * std::pow(22050.0 / 20.0, loudest / 256.0);
    const double bandHigh = 20.0 * std::pow(22050.0 / 20.0, (loudest + 1) / 256.0);
    EXPECT_LE(bandLow, 5100.0);
    EXPECT_GE(bandHigh, 4900.0);
    // The tone's energy spreads over neighbouring narrow bands, so its own band reads a little under it.
    EXPECT_GE(levelToValue(levels[size_t(loudest)]), 70);
    EXPECT_EQ(levelToValue(levels[20]), 0); // far below the tone

    LevelRelease release;
    std::array<float, kSpectrumSize> loud{}, quiet{};
    loud.fill(-10.0f);
    quiet.fill(-120.0f);
    release.apply(loud, 0.0);
    auto step = quiet;
    release.apply(step, 0.1); // 0.1 s of heard sound: 6 dB lower
    EXPECT_NEAR(step[128], -16.0f, 0.01f);
    step = quiet;
    release.apply(step, 0.0); // asked again at the same moment: no further fall
    EXPECT_NEAR(step[128], -16.0f, 0.01f);
    step = loud;
    release.apply(step, 0.01); // attack is instant
    EXPECT_EQ(step[128], -10.0f);
}

TEST_F(Engine, SpectrumDescribesTheHeardSound)
{
    Files &files = Files::get();
    const struct {
        Wave wave;
        int expected, tolerance;
    } cases[] = {
        {Wave{.seconds = 0.8, .frequency = 1000, .dbfs = -10}, 84, 2},
        {Wave{.rate = 48000, .channels = 2, .seconds = 0.8, .frequency = 1000, .dbfs = -30}, 42, 3},
        {Wave{.seconds = 0.8, .frequency = 10000, .dbfs = -10}, 0, 0},
        {Wave{.seconds = 0.8, .signal = Signal::Silence}, 0, 0},
    };
    int32_t first[kSpectrumSize], second[kSpectrumSize];
    for (const auto &c : cases) {
        const std::string path =
            files.wav("spectrum_" + std::to_string(c.wave.rate) + "_" + std::to_string(int(c.wave.frequency)) + "_" +
                          std::to_string(int(c.wave.dbfs)) + "_" + std::to_string(int(c.wave.signal)) + ".wav",
                      c.wave);
        SCOPED_TRACE(path);
        ASSERT_TRUE(engine.vbmp3_open(path, info));
        engine.vbmp3_play();
        // Mid-file the window lies wholly inside the tone.
        ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.3; }));
        engine.vbmp3_getSpectrum(first, second);
        EXPECT_NEAR(first[128], c.expected, c.tolerance);
        EXPECT_EQ(std::vector<int32_t>(first, first + kSpectrumSize),
                  std::vector<int32_t>(second, second + kSpectrumSize));
        engine.vbmp3_pause();
        engine.vbmp3_getSpectrum(first, second);
        EXPECT_EQ(*std::max_element(first, first + kSpectrumSize), 0);
        EXPECT_EQ(*std::max_element(second, second + kSpectrumSize), 0);
        engine.vbmp3_stop();
        engine.vbmp3_getSpectrum(first, second);
        EXPECT_EQ(*std::max_element(first, first + kSpectrumSize), 0);
    }
}

TEST_F(Engine, StereoSpectrumKeepsTheSidesApart)
{
    // Left channel loud, right silent: a stereo file written in code.
    TempFolder folder;
    const std::string path = folder.file("left.wav");
    Wave w{.channels = 2, .seconds = 0.8, .frequency = 1000, .dbfs = -10};
    ASSERT_TRUE(writeWav(path, w));
    // Silence the right side by rewriting the 16-bit samples after the 44-byte header.
    {
        std::FILE *f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        const size_t frames = size_t(0.8 * 44100);
        for (size_t i = 0; i < frames; ++i) {
            std::fseek(f, long(44 + i * 4 + 2), SEEK_SET);
            std::fputc(0, f);
            std::fputc(0, f);
        }
        std::fclose(f);
    }
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    engine.vbmp3_play();
    ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.3; }));
    int32_t first[kSpectrumSize], second[kSpectrumSize];
    engine.vbmp3_getSpectrum(first, second);
    EXPECT_NEAR(first[128], 84, 2);
    EXPECT_EQ(second[128], 0);
}
