#include "playback/engine/Decoder.h"
#include "playback/engine/FileGate.h"
#include "playback/engine/Mp3Frames.h"
#include "playback/engine/SampleMix.h"
#include "playback/engine/Vbmp3Engine.h"
#include "support/AudioFixtures.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace fixtures;
using namespace std::chrono_literals;

namespace {
// Polls until pred holds or a generous limit passes; the limit only keeps a broken engine from hanging.
bool waitUntil(const std::function<bool()> &pred, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

int32_t stateOf(AudioEngine &engine)
{
    int32_t elapsed = 0;
    return engine.vbmp3_getState(elapsed);
}

std::string text(const char (&field)[128])
{
    return std::string(field, strnlen(field, sizeof field));
}

int countEntries(const char *dir)
{
    int n = 0;
    if (DIR *d = opendir(dir)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

// The process's open descriptors, each with what it refers to: a path, socket:[inode], pipe:[inode]...
std::map<int, std::string> openDescriptors()
{
    std::map<int, std::string> open;
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return open;
    while (const dirent *e = readdir(d)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] == '.' || fd == dirfd(d))
            continue;
        char target[512];
        const ssize_t n = readlink(("/proc/self/fd/" + std::string(e->d_name)).c_str(), target, sizeof target);
        open[fd] = n > 0 ? std::string(target, size_t(n)) : std::string("?");
    }
    closedir(d);
    return open;
}

// The process's threads once any that are on their way out have gone: a sound library may end a helper
// thread of its own a moment after its device is closed. A thread left for good still counts.
int settledThreads(int atMost)
{
    int n = countEntries("/proc/self/task");
    for (int i = 0; i < 100 && n > atMost; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        n = countEntries("/proc/self/task");
    }
    return n;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every stereo frame the engine's own decoder yields for path, from its start to its end.
std::vector<float> decodeAll(const std::string &path, TrackInfo &info)
{
    std::vector<float> all;
    const GatedFile file = openGated(path);
    if (file.error != ErrNone)
        return all;
    OpenResult opened = openDecoder(file.fd, file.size, info);
    if (!opened.decoder)
        return all;
    std::vector<float> chunk(4096 * 2);
    while (const size_t got = opened.decoder->read(chunk.data(), 4096))
        all.insert(all.end(), chunk.begin(), chunk.begin() + ptrdiff_t(2 * got));
    return all;
}

Mp3FrameCount walkFrames(const std::string &path)
{
    const GatedFile file = openGated(path);
    if (file.error != ErrNone)
        return {};
    UniqueFd fd(file.fd);
    return countMp3Frames(fd.get(), skipId3v2(fd.get(), file.size), file.size);
}

// The files every test shares, made once.
class Files {
public:
    static Files &get()
    {
        static Files files;
        return files;
    }
    std::string wav(const std::string &name, const Wave &w)
    {
        const std::string path = folder.file(name);
        if (!std::filesystem::exists(path)) {
            EXPECT_TRUE(writeWav(path, w)) << path;
        }
        return path;
    }
    std::string mp3(const std::string &name, Mp3Kind kind, double seconds = 2.5, int channels = 2)
    {
        const std::string path = folder.file(name);
        if (!std::filesystem::exists(path)) {
            Wave w;
            w.channels = channels;
            w.seconds = seconds;
            w.signal = kind == Mp3Kind::Cbr128 ? Signal::Sine : Signal::Varied;
            const std::string source = folder.file(name + ".wav");
            EXPECT_TRUE(writeWav(source, w));
            EXPECT_TRUE(makeMp3(source, path, kind)) << "lame failed for " << name;
        }
        return path;
    }
    std::string good() { return wav("good.wav", Wave{.seconds = 0.3}); }
    TempFolder folder;
};

class Engine : public ::testing::Test {
protected:
    void SetUp() override { engine.vbmp3_init(); }
    Vbmp3Engine engine{OutputKind::Silent};
    TrackInfo info{};
};
} // namespace

TEST_F(Engine, ReportsTrackInfoForEveryFormat)
{
    Files &files = Files::get();
    struct Case {
        std::string path;
        const char *d1, *d2;
        int channels, bitValue, rate, seconds;
        int bitTolerance = 0;
    };
    auto wave = [&](int rate, int channels, int bits, bool floating = false, bool extensible = false) {
        Wave w{.rate = rate,
               .channels = channels,
               .bits = bits,
               .floating = floating,
               .extensible = extensible,
               .seconds = 2.5};
        return files.wav("info_" + std::to_string(rate) + "_" + std::to_string(channels) + "_" + std::to_string(bits) +
                             (floating ? "f" : "") + (extensible ? "x" : "") + ".wav",
                         w);
    };
    const std::string alaw = files.folder.file("alaw.wav");
    ASSERT_TRUE(soxConvert(wave(8000, 1, 16), alaw, "a-law"));
    const std::string mulaw = files.folder.file("mulaw.wav");
    ASSERT_TRUE(soxConvert(wave(8000, 1, 16), mulaw, "u-law"));
    // A data chunk claiming 10 s or 0xFFFFFFFF bytes of the 2.5 s the file holds, and a file cut 0.9 s
    // short in the middle of a frame: the length is what the file holds.
    const std::string stereo = readAll(wave(44100, 2, 16));
    auto withDataSize = [&](const std::string &name, uint32_t bytes) {
        std::string patched = stereo;
        for (int i = 0; i < 4; ++i)
            patched[size_t(40 + i)] = char((bytes >> (8 * i)) & 0xFF);
        const std::string path = files.folder.file(name);
        EXPECT_TRUE(writeText(path, patched));
        return path;
    };
    const std::string cut = files.folder.file("cut.wav");
    ASSERT_TRUE(writeText(cut, stereo.substr(0, 44 + size_t(1.6 * 44100) * 4 + 3)));
    const Case cases[] = {
        {wave(44100, 1, 8), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 1, 8, 44100, 2},
        {wave(44100, 2, 16), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 2},
        {wave(44100, 1, 24), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 1, 24, 44100, 2},
        {wave(48000, 2, 8), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 8, 48000, 2},
        {wave(48000, 1, 16), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 1, 16, 48000, 2},
        {wave(48000, 2, 24), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 24, 48000, 2},
        {wave(48000, 2, 32), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 32, 48000, 2},
        {wave(44100, 2, 24, false, true), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 24, 44100, 2},
        {wave(44100, 2, 32, true), "WAVE_FORMAT_IEEE_FLOAT", "WAVE_FORMAT_IEEE_FLOAT", 2, 2822, 44100, 2},
        {wave(48000, 1, 32, true, true), "WAVE_FORMAT_EXTENSIBLE", "WAVE_FORMAT_IEEE_FLOAT", 1, 1536, 48000, 2},
        {alaw, "WAVE_FORMAT_ALAW", "WAVE_FORMAT_ALAW", 1, 64, 8000, 2},
        {mulaw, "WAVE_FORMAT_MULAW", "WAVE_FORMAT_MULAW", 1, 64, 8000, 2},
        {wave(44100, 6, 16), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 6, 16, 44100, 2},
        {wave(48000, 8, 24), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 8, 24, 48000, 2},
        {withDataSize("oversized.wav", 44100 * 4 * 10), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 2},
        {withDataSize("allones.wav", 0xFFFFFFFF), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 2},
        {cut, "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 1},
        {files.mp3("cbr.mp3", Mp3Kind::Cbr128), "MPEG 1 Layer 3", "Joint Stereo", 2, 128, 44100, 2},
        {files.mp3("cbr_mono.mp3", Mp3Kind::Cbr128, 2.5, 1), "MPEG 1 Layer 3", "Mono", 1, 128, 44100, 2},
        // VBR: the file's average; lame -V 4 on this material lands well inside this range.
        {files.mp3("vbr.mp3", Mp3Kind::Vbr), "MPEG 1 Layer 3", "Joint Stereo", 2, 160, 44100, 2, 100},
        {files.mp3("vbr_noxing.mp3", Mp3Kind::VbrNoXing), "MPEG 1 Layer 3", "Joint Stereo", 2, 160, 44100, 2, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::memset(&info, 0x55, sizeof info); // the engine must pad with NULs itself
        ASSERT_TRUE(engine.vbmp3_open(c.path, info)) << engine.vbmp3_getLastErrorNo();
        EXPECT_EQ(text(info.Description1), c.d1);
        EXPECT_EQ(text(info.Description2), c.d2);
        EXPECT_EQ(info.Description1[127], 0);
        EXPECT_EQ(info.Description2[127], 0);
        EXPECT_EQ(info.Channels, c.channels);
        EXPECT_NEAR(info.BitValue, c.bitValue, c.bitTolerance);
        EXPECT_EQ(info.SamplingRate, c.rate);
        EXPECT_EQ(info.TotalSeconds, c.seconds);
    }
}

TEST_F(Engine, VbrLengthAndAverageMatchWithAndWithoutXingHeader)
{
    Files &files = Files::get();
    TrackInfo withXing{}, withoutXing{};
    ASSERT_TRUE(engine.vbmp3_open(files.mp3("vbr.mp3", Mp3Kind::Vbr), withXing));
    ASSERT_TRUE(engine.vbmp3_open(files.mp3("vbr_noxing.mp3", Mp3Kind::VbrNoXing), withoutXing));
    EXPECT_EQ(withXing.TotalSeconds, withoutXing.TotalSeconds);
    EXPECT_NEAR(withXing.BitValue, withoutXing.BitValue, 3);
}

TEST_F(Engine, SpeechAndJapaneseNamesOpen)
{
    Files &files = Files::get();
    const std::string speech = files.folder.file("起動音声.wav");
    ASSERT_TRUE(makeSpeech(speech, "System start. All lamps ready."));
    ASSERT_TRUE(engine.vbmp3_open(speech, info)) << engine.vbmp3_getLastErrorNo();
    EXPECT_EQ(text(info.Description1), "WAVE_FORMAT_PCM");
    EXPECT_EQ(info.Channels, 1);
    EXPECT_EQ(info.SamplingRate, 22050);
    EXPECT_EQ(info.BitValue, 16);
    EXPECT_GE(info.TotalSeconds, 1);

    // The voice moves element 128 while it is heard.
    engine.vbmp3_play();
    int32_t loudest = 0;
    int32_t first[kSpectrumSize], second[kSpectrumSize];
    waitUntil([&] {
        engine.vbmp3_getSpectrum(first, second);
        loudest = std::max(loudest, first[128]);
        EXPECT_EQ(first[128], second[128]);
        return loudest > 40;
    });
    EXPECT_GT(loudest, 40);
}

TEST_F(Engine, RefusesWhatItCannotPlayAndStaysUsable)
{
    Files &files = Files::get();
    TempFolder folder;
    const std::string fifo = folder.file("pipe.mp3");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string empty = folder.file("empty.wav");
    ASSERT_TRUE(writeText(empty, ""));
    const std::string textMp3 = folder.file("notes.mp3");
    ASSERT_TRUE(writeText(textMp3, std::string(4000, 'x') + "\nThis is not a song.\n"));
    const std::string adpcm = folder.file("adpcm.wav");
    ASSERT_TRUE(soxConvert(files.good(), adpcm, "ima-adpcm"));
    const std::string gsm = folder.file("gsm.wav");
    ASSERT_TRUE(soxConvert(files.wav("g8k.wav", Wave{.rate = 8000}), gsm, "gsm-full-rate"));
    const std::string zeroLink = folder.file("zero.mp3");
    ASSERT_EQ(symlink("/dev/zero", zeroLink.c_str()), 0);
    const std::string slowRate = folder.file("slow.wav");
    ASSERT_TRUE(writeWavHeaderOnly(slowRate, 1, 1, 500, 16));
    const std::string nineChannels = folder.file("nine.wav");
    ASSERT_TRUE(writeWavHeaderOnly(nineChannels, 1, 9, 44100, 16));
    const std::string onlyTag = folder.file("tag.mp3");
    ASSERT_TRUE(writeText(onlyTag, std::string("ID3\x03\x00\x00\x7f\x7f\x7f\x7f", 10) + "tiny"));

    const struct {
        std::string path;
        EngineError error;
    } cases[] = {
        {folder.file("missing.mp3"), ErrNotFound},
        {empty, ErrEmpty},
        {folder.path(), ErrNotRegular},
        {fifo, ErrNotRegular},
        {zeroLink, ErrNotRegular},
        {textMp3, ErrNotAudio},
        {onlyTag, ErrNotAudio},
        {adpcm, ErrUnsupported},
        {gsm, ErrUnsupported},
        {slowRate, ErrUnsupported},
        {nineChannels, ErrUnsupported},
    };
    const int openFiles = countEntries("/proc/self/fd");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        // A good file is playing when the bad one comes: it stops, and nothing of either stays open.
        ASSERT_TRUE(engine.vbmp3_open(files.good(), info));
        engine.vbmp3_play();
        EXPECT_FALSE(engine.vbmp3_open(c.path, info));
        EXPECT_EQ(engine.vbmp3_getLastErrorNo(), c.error);
        EXPECT_EQ(stateOf(engine), PlayStateStopped);
        engine.vbmp3_play(); // nothing is open: stays stopped
        EXPECT_EQ(stateOf(engine), PlayStateStopped);
        ASSERT_TRUE(waitUntil([&] { return countEntries("/proc/self/fd") <= openFiles; }));

        ASSERT_TRUE(engine.vbmp3_open(files.good(), info));
        EXPECT_EQ(engine.vbmp3_getLastErrorNo(), ErrNone);
        engine.vbmp3_play();
        EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    }
    Vbmp3Engine uninitialised(OutputKind::Silent);
    EXPECT_FALSE(uninitialised.vbmp3_open(files.good(), info));
    EXPECT_EQ(uninitialised.vbmp3_getLastErrorNo(), ErrNotInitialised);
}

TEST_F(Engine, StatesFollowPlayPauseRestartStopAndTheEnd)
{
    const std::string path = Files::get().wav("states.wav", Wave{.seconds = 0.6});
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    EXPECT_EQ(stateOf(engine), PlayStateStopped);
    engine.vbmp3_pause(); // nothing plays: stays stopped
    EXPECT_EQ(stateOf(engine), PlayStateStopped);

    engine.vbmp3_play();
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.1; }));
    engine.vbmp3_pause();
    EXPECT_EQ(stateOf(engine), PlayStatePaused);
    engine.vbmp3_pause();
    EXPECT_EQ(stateOf(engine), PlayStatePaused);
    // Once the device's buffer has drained, a paused position stands still.
    std::this_thread::sleep_for(50ms);
    const double paused = engine.heardSeconds();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(engine.heardSeconds(), paused);

    engine.vbmp3_restart();
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > paused; }));

    engine.vbmp3_stop();
    int32_t elapsed = -1;
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStateStopped);
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(engine.heardSeconds(), 0.0);
    engine.vbmp3_restart(); // only a paused file restarts
    EXPECT_EQ(stateOf(engine), PlayStateStopped);

    // From the beginning again, to the end: 0 only once the last sample was heard.
    engine.vbmp3_play();
    ASSERT_TRUE(waitUntil([&] { return stateOf(engine) == PlayStateStopped; }));
    EXPECT_NEAR(engine.heardSeconds(), 0.6, 0.001);
    // And once more after the natural end.
    engine.vbmp3_play();
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    EXPECT_LT(engine.heardSeconds(), 0.6);
}

// Through a sound server's buffer: after PAUSE has let the device play out, START must not move the heard
// position back (the first frames pulled again are heard a whole buffer later).
TEST(EngineSoundServer, HeardPositionNeverGoesBackAcrossPauseAndStart)
{
    const char *sink = std::getenv("VB_PULSE_SINK");
    if (!sink || !*sink)
        GTEST_SKIP() << "no PulseAudio sink (VB_PULSE_SINK unset)";
    const std::string path = Files::get().wav("resume.wav", Wave{.seconds = 2});
    Vbmp3Engine engine(OutputKind::Automatic);
    engine.vbmp3_init();
    TrackInfo info{};
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    engine.vbmp3_play();
    ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.3; }));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        engine.vbmp3_pause();
        // Played out: the position stands still.
        ASSERT_TRUE(waitUntil([&] {
            const double before = engine.heardSeconds();
            std::this_thread::sleep_for(20ms);
            return engine.heardSeconds() == before;
        }));
        engine.vbmp3_restart();
        double last = engine.heardSeconds();
        const double resumedAt = last;
        const auto until = std::chrono::steady_clock::now() + 300ms;
        while (std::chrono::steady_clock::now() < until) {
            const double now = engine.heardSeconds();
            ASSERT_GE(now, last) << "stepped back by " << (last - now) * 1000 << " ms";
            last = now;
            std::this_thread::sleep_for(500us);
        }
        EXPECT_GT(last, resumedAt); // and it did move on
    }
    engine.vbmp3_free();
}

TEST_F(Engine, ElapsedFollowsTheOutputClockNotTheDecoder)
{
    const std::string path = Files::get().wav("clock.wav", Wave{.seconds = 1.3});
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    engine.vbmp3_play();
    const auto started = std::chrono::steady_clock::now();
    double last = 0.0;
    int32_t maxElapsed = 0;
    ASSERT_TRUE(waitUntil([&] {
        int32_t elapsed = 0;
        const int32_t state = engine.vbmp3_getState(elapsed);
        const double heard = engine.heardSeconds();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        // The decoder runs most of a second ahead; what was heard can never be ahead of the clock.
        EXPECT_LE(heard, wall + 0.001);
        if (state == PlayStatePlaying) {
            EXPECT_GE(heard, last);
        }
        last = heard;
        maxElapsed = std::max(maxElapsed, elapsed);
        return state == PlayStateStopped;
    }));
    EXPECT_EQ(maxElapsed, 1);
}

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

TEST_F(Engine, OpeningAnotherFileStopsTheOldSound)
{
    Files &files = Files::get();
    const std::string tone = files.wav("long_tone.wav", Wave{.seconds = 3.0});
    ASSERT_TRUE(engine.vbmp3_open(tone, info));
    engine.vbmp3_play();
    ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.2; }));
    ASSERT_TRUE(engine.vbmp3_open(files.mp3("cbr.mp3", Mp3Kind::Cbr128), info));
    int32_t elapsed = -1;
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStateStopped);
    EXPECT_EQ(elapsed, 0);
    int32_t first[kSpectrumSize], second[kSpectrumSize];
    engine.vbmp3_getSpectrum(first, second);
    EXPECT_EQ(first[128], 0);
    // The new file plays from its start.
    engine.vbmp3_play();
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    EXPECT_LT(engine.heardSeconds(), 0.2);
}

TEST(EngineLifetime, FreeEndsEveryThreadAndOpeningRepeatedlyLeaksNothing)
{
    Files &files = Files::get();
    const std::string wav = files.good();
    const std::string mp3 = files.mp3("cbr.mp3", Mp3Kind::Cbr128);
    const int threadsBefore = countEntries("/proc/self/task");
    const std::map<int, std::string> filesBefore = openDescriptors();
    {
        Vbmp3Engine engine(OutputKind::Silent);
        engine.vbmp3_init();
        TrackInfo info{};
        for (int i = 0; i < 1000; ++i)
            ASSERT_TRUE(engine.vbmp3_open(i % 4 == 0 ? mp3 : wav, info)) << i;
        engine.vbmp3_play();
        EXPECT_EQ(stateOf(engine), PlayStatePlaying);
        engine.vbmp3_free();
        EXPECT_LE(settledThreads(threadsBefore), threadsBefore);
        EXPECT_EQ(openDescriptors(), filesBefore);
        EXPECT_EQ(stateOf(engine), PlayStateStopped);
        // Initialised again, it plays again.
        engine.vbmp3_init();
        ASSERT_TRUE(engine.vbmp3_open(wav, info));
        engine.vbmp3_play();
        EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    } // destroyed while playing
    EXPECT_LE(settledThreads(threadsBefore), threadsBefore);
    EXPECT_EQ(openDescriptors(), filesBefore);
}

// The engine's whole life, a thousand times over: each cycle starts the worker and an output (every
// tenth one the real device), opens and plays a file and frees it all again.
TEST(EngineLifetime, InitPlayFreeCyclesLeaveNoThreadOrDescriptor)
{
    Files &files = Files::get();
    const std::string wav = files.good();
    const std::string mp3 = files.mp3("cbr.mp3", Mp3Kind::Cbr128);
    auto cycle = [&](int i) {
        Vbmp3Engine engine(i % 10 == 0 ? OutputKind::Automatic : OutputKind::Silent);
        engine.vbmp3_init();
        TrackInfo info{};
        ASSERT_TRUE(engine.vbmp3_open(i % 2 == 0 ? mp3 : wav, info)) << i;
        engine.vbmp3_play();
        ASSERT_EQ(stateOf(engine), PlayStatePlaying) << i;
        engine.vbmp3_free();
    };
    cycle(0); // libraries that set themselves up once do it here
    const int threadsBefore = countEntries("/proc/self/task");
    const std::map<int, std::string> filesBefore = openDescriptors();
    for (int i = 1; i <= 1000; ++i) {
        cycle(i);
        if (i % 100 == 0) {
            ASSERT_LE(settledThreads(threadsBefore), threadsBefore) << "after " << i << " cycles";
            ASSERT_EQ(openDescriptors(), filesBefore) << "after " << i << " cycles";
        }
    }
}

// With no sound device at all the program still plays, through the silent output: the state and the
// elapsed time advance, and the only word about it is one line on stderr.
TEST(EngineNoDevice, PlaysSilentlyAndSaysSoOnce)
{
    const std::string file = Files::get().wav("three.wav", Wave{.seconds = 3});
    TempFolder folder;
    const struct {
        const char *what;
        std::vector<std::string> environment;
    } cases[] = {
        {"no such SDL driver", {"SDL_AUDIODRIVER=nosuchdriver"}},
        {"sound server nowhere", {"PULSE_SERVER=unix:" + folder.file("nowhere.sock"), "SDL_AUDIODRIVER=pulseaudio"}},
        {"sound server nowhere, any driver", {"PULSE_SERVER=unix:" + folder.file("nowhere.sock")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string command = "env -u VB_AUDIO_OUTPUT -u SDL_AUDIODRIVER -u PULSE_SERVER";
        for (const auto &setting : c.environment)
            command += " " + shellQuote(setting);
        const std::string errors = folder.file("stderr.txt");
        command += " " + shellQuote(VB_BINARY_DIR "/tests/no_device_probe") + " " + shellQuote(file) + " 2>" +
                   shellQuote(errors) + " >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << "the state or the elapsed time did not advance";
        std::ifstream in(errors);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        EXPECT_EQ(lines, std::vector<std::string>{"voicebox: no sound device, playing silently"});
    }
}

TEST(EngineSoundServer, SamplesReachThePulseAudioSink)
{
    const char *sink = std::getenv("VB_PULSE_SINK");
    if (!sink || !*sink)
        GTEST_SKIP() << "no PulseAudio sink (VB_PULSE_SINK unset)";
    TempFolder folder;
    // Seeded noise: any stretch of it appears exactly once, so finding it proves these samples arrived.
    const Wave noise{.channels = 2, .seconds = 0.6, .signal = Signal::Noise, .dbfs = -6};
    const std::string path = folder.file("noise.wav");
    ASSERT_TRUE(writeWav(path, noise));
    const std::string recording = folder.file("monitor.raw");

    const pid_t recorder = fork();
    ASSERT_GE(recorder, 0);
    if (recorder == 0) {
        if (!std::freopen(recording.c_str(), "wb", stdout))
            _exit(127);
        const std::string device = std::string("--device=") + sink + ".monitor";
        execlp("parec", "parec", device.c_str(), "--format=float32le", "--rate=44100", "--channels=2",
               "--latency-msec=20", static_cast<char *>(nullptr));
        _exit(127);
    }
    const bool recordingStarted = waitUntil([&] {
        std::error_code ignored;
        return std::filesystem::file_size(recording, ignored) > 4096;
    });

    Vbmp3Engine engine(OutputKind::Automatic);
    engine.vbmp3_init();
    TrackInfo info{};
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    engine.vbmp3_play();
    EXPECT_TRUE(waitUntil([&] { return stateOf(engine) == PlayStateStopped; }));
    std::this_thread::sleep_for(300ms); // what the sink still holds reaches the monitor
    engine.vbmp3_free();
    kill(recorder, SIGTERM);
    int status = 0;
    waitpid(recorder, &status, 0);
    ASSERT_TRUE(recordingStarted) << "parec recorded nothing";

    std::vector<float> recorded;
    {
        std::ifstream f(recording, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        recorded.resize(bytes.size() / sizeof(float));
        std::memcpy(recorded.data(), bytes.data(), recorded.size() * sizeof(float));
    }
    // Left channel of stretches of the file, each against every lag of the recording. A busy machine may
    // drop a period here and there; any clean stretch proves that the file's samples reach the sink.
    const std::vector<float> played = samplesOf(noise);
    constexpr size_t kProbe = 512;
    const size_t frames = recorded.size() / 2;
    double best = 0;
    for (size_t part = 1; part < 16; ++part) {
        const size_t probeStart = played.size() / 2 * part / 16;
        std::vector<float> probe(kProbe);
        double probeEnergy = 0;
        for (size_t i = 0; i < kProbe; ++i) {
            probe[i] = played[(probeStart + i) * 2];
            probeEnergy += double(probe[i]) * probe[i];
        }
        for (size_t lag = 0; lag + kProbe <= frames; ++lag) {
            double dot = 0, energy = 0;
            for (size_t i = 0; i < kProbe; ++i) {
                const double r = recorded[(lag + i) * 2];
                dot += r * probe[i];
                energy += r * r;
            }
            if (energy > 0)
                best = std::max(best, dot / std::sqrt(energy * probeEnergy));
        }
    }
    EXPECT_GT(best, 0.95) << "the file's samples were not found in " << frames << " recorded frames";
}

TEST_F(Engine, Mp3HeadersAreNotTakenOnTrust)
{
    const std::string cbr = Files::get().mp3("cbr.mp3", Mp3Kind::Cbr128);
    std::ifstream in(cbr, std::ios::binary);
    const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TempFolder folder;

    // An Info header claiming 2^31 frames (about 1.8 years): the length still comes from the frames.
    std::string lying = stream;
    const size_t tag = lying.find("Info");
    ASSERT_NE(tag, std::string::npos);
    lying[tag + 7] = char(lying[tag + 7] | 1); // the frame count is present
    lying.replace(tag + 8, 4, std::string("\x7f\xff\xff\xff", 4));
    const std::string lyingPath = folder.file("lying.mp3");
    ASSERT_TRUE(writeText(lyingPath, lying));

    // ID3v2 tags in front, one of them with a frame claiming far more than the tag holds.
    const std::string id3 = std::string("ID3\x03\x00\x00\x00\x00\x00\x14", 10) + "TLEN" +
                            std::string("\x7f\xff\xff\xff\x00\x00", 6) + std::string(10, '\0');
    const std::string taggedPath = folder.file("tagged.mp3");
    ASSERT_TRUE(writeText(taggedPath, id3 + id3 + stream));

    for (const std::string &path : {lyingPath, taggedPath}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(engine.vbmp3_open(path, info)) << engine.vbmp3_getLastErrorNo();
        EXPECT_EQ(info.TotalSeconds, 2);
        EXPECT_EQ(info.SamplingRate, 44100);
        EXPECT_EQ(info.BitValue, 128);
        engine.vbmp3_play();
        ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.2; }));
        int32_t first[kSpectrumSize], second[kSpectrumSize];
        engine.vbmp3_getSpectrum(first, second);
        EXPECT_NEAR(first[128], 84, 3); // the fixture's -10 dBFS 1 kHz tone
    }
}

TEST(Mp3Length, HeaderWalkCountsWhatLibmpg123Decodes)
{
    TempFolder folder;
    auto source = [&](int rate, int channels) {
        const std::string path =
            folder.file("source_" + std::to_string(rate) + "_" + std::to_string(channels) + ".wav");
        if (!std::filesystem::exists(path)) {
            EXPECT_TRUE(
                writeWav(path, Wave{.rate = rate, .channels = channels, .seconds = 1.7, .signal = Signal::Varied}));
        }
        return path;
    };
    auto lame = [&](const std::string &name, const std::string &wav, const std::string &options) {
        const std::string path = folder.file(name);
        EXPECT_TRUE(lameEncode(wav, path, options)) << options;
        return path;
    };
    auto written = [&](const std::string &name, const std::string &bytes) {
        const std::string path = folder.file(name);
        EXPECT_TRUE(writeText(path, bytes));
        return path;
    };
    const std::string stereo = source(44100, 2);
    const std::string cbr = readAll(lame("cbr.mp3", stereo, "-b 128"));
    const std::string bare = readAll(lame("bare.mp3", stereo, "-b 128 -t")); // no Info frame
    const std::string junk(333, 'j');

    const struct {
        std::string path;
        bool sure; // counted by the walk; otherwise libmpg123's scan counts
    } cases[] = {
        {folder.file("cbr.mp3"), true},
        {folder.file("bare.mp3"), true},
        {lame("mono.mp3", source(44100, 1), "-b 64"), true},
        {lame("vbr.mp3", stereo, "--vbr-new -V 4"), true},
        {lame("vbr_noxing.mp3", stereo, "--vbr-new -V 4 -t"), true},
        {lame("crc.mp3", stereo, "-p -b 128"), true},
        {lame("mpeg2.mp3", source(22050, 2), "--vbr-new -V 4"), true},
        {lame("mpeg25.mp3", source(8000, 1), "-b 16"), true},
        {lame("tags.mp3", stereo, "-b 128 --add-id3v2 --id3v1-only --tt Title"), true},
        {lame("tags2.mp3", stereo, "--vbr-new -V 4 --add-id3v2 --tt Title"), true},
        {lame("free.mp3", stereo, "--freeformat -b 256"), false},
        {written("garbage.mp3", bare + junk + bare), false},
        {written("garbage_xing.mp3", cbr + junk + bare), false},
        {written("cut.mp3", cbr.substr(0, cbr.size() - 100)), false},
        {written("tail.mp3", cbr + junk), false},
        {written("lead.mp3", junk + bare), false},
    };
    Vbmp3Engine engine(OutputKind::Silent);
    engine.vbmp3_init();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        TrackInfo decodedInfo{};
        const int64_t decoded = int64_t(decodeAll(c.path, decodedInfo).size() / 2);
        ASSERT_GT(decoded, 0);
        const Mp3FrameCount walked = walkFrames(c.path);
        EXPECT_EQ(walked.sure, c.sure);
        if (walked.sure) {
            EXPECT_EQ(walked.samples, decoded);
            EXPECT_EQ(walked.rate, decodedInfo.SamplingRate);
        }
        // Whichever way it was counted, the engine reports the length it plays.
        TrackInfo info{};
        ASSERT_TRUE(engine.vbmp3_open(c.path, info));
        EXPECT_EQ(info.TotalSeconds, decoded / info.SamplingRate);
    }
}

TEST(MixDown, EightFullScaleChannelsGiveFullScaleStereoWithoutClipping)
{
    TempFolder folder;
    const std::string path = folder.file("eight.wav");
    // 0 dBFS: every channel swings to full scale at once, the worst case for a sum.
    ASSERT_TRUE(writeWav(path, Wave{.channels = 8, .bits = 24, .seconds = 0.2, .frequency = 440, .dbfs = 0}));
    TrackInfo info{};
    const std::vector<float> stereo = decodeAll(path, info);
    ASSERT_EQ(stereo.size(), size_t(0.2 * 44100) * 2);
    float peakLeft = 0, peakRight = 0;
    for (size_t i = 0; i < stereo.size(); i += 2) {
        EXPECT_EQ(stereo[i], stereo[i + 1]) << i; // the same sound in every channel is centred
        peakLeft = std::max(peakLeft, std::fabs(stereo[i]));
        peakRight = std::max(peakRight, std::fabs(stereo[i + 1]));
    }
    EXPECT_LE(peakLeft, 1.0f);
    EXPECT_GT(peakLeft, 0.99f);
    EXPECT_LE(peakRight, 1.0f);
    EXPECT_GT(peakRight, 0.99f);
}

TEST_F(Engine, SoundEndsWhereTheReadableFileEnds)
{
    Files &files = Files::get();
    TempFolder folder;
    const std::string wavSource = files.wav("three.wav", Wave{.seconds = 3.0});
    const std::string mp3Source = files.mp3("three.mp3", Mp3Kind::Cbr128, 3.0);
    const std::string first = folder.file("first.wav"), second = folder.file("second.wav");
    ASSERT_TRUE(writeWav(first, Wave{.channels = 2, .seconds = 1.7, .signal = Signal::Varied}));
    ASSERT_TRUE(writeWav(second, Wave{.rate = 48000, .channels = 2, .seconds = 1.7, .signal = Signal::Varied}));
    ASSERT_TRUE(lameEncode(first, folder.file("first.mp3"), "-b 128 -t"));
    ASSERT_TRUE(lameEncode(second, folder.file("second.mp3"), "-b 128 -t"));
    const std::string rateChange = folder.file("rate_change.mp3");
    ASSERT_TRUE(writeText(rateChange, readAll(folder.file("first.mp3")) + std::string(333, 'j') +
                                          readAll(folder.file("second.mp3"))));

    enum class Action { None, Truncate, Delete };
    const struct {
        std::string source;
        Action action;
        int64_t keepBytes; // for Truncate: the file's new size
        double endsAt;     // heard seconds when the state reads 0
        double tolerance;
    } cases[] = {
        // Cut to 2 s of sound while the decoder is still short of it: the track ends there.
        {wavSource, Action::Truncate, 44 + 2 * 44100 * 2, 2.0, 0.01},
        // In the middle of a frame at about 2 s (128 kbit/s, after the 417-byte Info frame).
        {mp3Source, Action::Truncate, 417 + 2 * 16000 + 100, 2.0, 0.1},
        // A deleted file is still read through the open descriptor.
        {wavSource, Action::Delete, 0, 3.0, 0.01},
        {mp3Source, Action::Delete, 0, 3.0, 0.1},
        // Garbage, then frames of another rate: the stream ends with the first rate's frames.
        {rateChange, Action::None, 0, 1.7, 0.1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source);
        const std::string path = folder.file("playing" + c.source.substr(c.source.size() - 4));
        std::filesystem::copy_file(c.source, path, std::filesystem::copy_options::overwrite_existing);
        ASSERT_TRUE(engine.vbmp3_open(path, info)) << engine.vbmp3_getLastErrorNo();
        engine.vbmp3_play();
        ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.3; }));
        if (c.action == Action::Truncate) {
            const int fd = ::open(path.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            EXPECT_EQ(::ftruncate(fd, c.keepBytes), 0);
            ::close(fd);
        } else if (c.action == Action::Delete) {
            ASSERT_EQ(::unlink(path.c_str()), 0);
        }
        double heard = 0;
        ASSERT_TRUE(waitUntil([&] {
            heard = engine.heardSeconds();
            return stateOf(engine) == PlayStateStopped;
        }));
        EXPECT_NEAR(engine.heardSeconds(), c.endsAt, c.tolerance);
        EXPECT_NEAR(heard, c.endsAt, c.tolerance);
    }
}
