// The engine recording what the lamps follow when no track plays, from a PulseAudio server of the test's
// own: the desktop's sound, a stand-in microphone, a change of default, a device that goes and comes back,
// and no server at all.
#include "playback/engine/Vbmp3Engine.h"
#include "support/AudioFixtures.h"
#include "support/SoundServer.h"
#include "support/Wait.h"

#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace fixtures;
using namespace std::chrono_literals;

namespace {

int voiceValue(AudioEngine &engine)
{
    std::array<int32_t, kSpectrumSize> first{}, second{};
    engine.getFollowSpectrum(first.data(), second.data());
    return (first[kVoiceBand] + second[kVoiceBand]) / 2;
}

// The voice band's values from now until the player has ended and the level has fallen back to 0.
std::vector<int> traceWhilePlaying(AudioEngine &engine, pid_t player)
{
    std::vector<int> values;
    waitUntil(
        [&] {
            values.push_back(voiceValue(engine));
            return PrivateSoundServer::finished(player) && values.back() == 0;
        },
        30s);
    PrivateSoundServer::end(player);
    return values;
}

// How many separate stretches of the trace are lit.
int litStretches(const std::vector<int> &values)
{
    int stretches = 0;
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] > 0 && (i == 0 || values[i - 1] == 0))
            ++stretches;
    return stretches;
}

// Silence, then three tones of 1 kHz at different levels, each followed by a pause longer than the
// lamps' release: three lit stretches with dark between them.
std::string writePulses(const TempFolder &folder)
{
    const std::string silence = folder.file("silence.wav"), path = folder.file("pulses.wav");
    std::vector<std::string> parts = {silence};
    EXPECT_TRUE(writeWav(silence, Wave{.seconds = 1.2, .signal = Signal::Silence}));
    for (double dbfs : {-10.0, -25.0, -18.0}) {
        const std::string tone = folder.file("tone" + std::to_string(parts.size()) + ".wav");
        EXPECT_TRUE(writeWav(tone, Wave{.seconds = 0.5, .dbfs = dbfs}));
        parts.push_back(tone);
        parts.push_back(silence);
    }
    std::string command = "sox";
    for (const auto &part : parts)
        command += " " + shellQuote(part);
    EXPECT_TRUE(runQuietly(command + " " + shellQuote(path))) << "sox is needed";
    return path;
}

bool capturing(AudioEngine &engine, FollowSource source)
{
    return waitUntil([&] { return engine.followStatus(source).available; });
}

} // namespace

class EngineFollow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.running())
            GTEST_SKIP() << "pulseaudio is needed";
        pulses = writePulses(folder);
    }
    TempFolder folder;
    PrivateSoundServer server;
    std::string pulses;
};

TEST_F(EngineFollow, DesktopSoundLightsTheVoiceBandAndItsPausesGoDark)
{
    Vbmp3Engine engine(OutputKind::Silent);
    EXPECT_EQ(voiceValue(engine), 0) << "nothing is followed before a source is chosen";
    std::atomic<int> told{0};
    engine.setFollowListener([&] { ++told; });
    engine.setFollowSource(FollowSource::Desktop);
    ASSERT_TRUE(capturing(engine, FollowSource::Desktop)) << engine.followStatus(FollowSource::Desktop).why;

    const std::vector<int> trace = traceWhilePlaying(engine, server.play(pulses, server.sink()));
    EXPECT_EQ(litStretches(trace), 3);
    EXPECT_EQ(*std::max_element(trace.begin(), trace.end()), 84) << "a tone at -10 dBFS reads full scale";
    EXPECT_GT(told.load(), 3) << "the listener hears of the sound as it arrives";

    // A listener replaced is not called again.
    engine.setFollowListener({});
    const int toldBefore = told;
    EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(pulses, server.sink()))), 3);
    EXPECT_EQ(told.load(), toldBefore);

    engine.setFollowSource(FollowSource::Off);
    const pid_t player = server.play(pulses, server.sink());
    const std::vector<int> off = traceWhilePlaying(engine, player);
    EXPECT_EQ(litStretches(off), 0) << "Off follows nothing";
}

TEST_F(EngineFollow, MicrophoneFollowsTheDefaultInputNotTheOutput)
{
    ASSERT_TRUE(server.pactl("load-module module-null-sink sink_name=vbmic"));
    ASSERT_TRUE(server.pactl("set-default-source vbmic.monitor"));
    Vbmp3Engine engine(OutputKind::Silent);
    engine.setFollowSource(FollowSource::Microphone);
    ASSERT_TRUE(capturing(engine, FollowSource::Microphone)) << engine.followStatus(FollowSource::Microphone).why;

    EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(pulses, server.sink()))), 0)
        << "the desktop's sound is not the microphone";
    EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(pulses, "vbmic"))), 3);
}

TEST_F(EngineFollow, ANewDefaultOutputIsFollowedWithoutARestart)
{
    Vbmp3Engine engine(OutputKind::Silent);
    engine.setFollowSource(FollowSource::Desktop);
    ASSERT_TRUE(capturing(engine, FollowSource::Desktop));
    ASSERT_TRUE(server.pactl("load-module module-null-sink sink_name=vbheadphones"));
    ASSERT_TRUE(server.pactl("set-default-sink vbheadphones"));

    EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(pulses, "vbheadphones"))), 3);
    EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(pulses, server.sink()))), 0)
        << "the old output is no longer followed";
}

TEST_F(EngineFollow, AnInputThatVanishesIsReplacedReportedAndFollowedWhenItReturns)
{
    const std::string load = "load-module module-null-sink sink_name=vbmic";
    auto unload = [&](const std::string &sink) {
        return server.pactl("unload-module $(pactl list short modules | awk -F '\\t' '(\" \" $3 \" \") ~ / sink_name=" +
                            sink + " / {print $1}')");
    };
    ASSERT_TRUE(server.pactl(load));
    ASSERT_TRUE(server.pactl("set-default-source vbmic.monitor"));
    Vbmp3Engine engine(OutputKind::Silent);
    engine.setFollowSource(FollowSource::Microphone);
    ASSERT_TRUE(capturing(engine, FollowSource::Microphone));

    // Unplugged: the server's next default input is followed in its place.
    ASSERT_TRUE(unload("vbmic"));
    EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(pulses, server.sink()))), 3);

    // No input left at all: the choice says so.
    ASSERT_TRUE(unload(server.sink()));
    EXPECT_TRUE(waitUntil([&] { return !engine.followStatus(FollowSource::Microphone).available; }));
    EXPECT_FALSE(engine.followStatus(FollowSource::Microphone).why.empty());

    // Plugged in again.
    ASSERT_TRUE(server.pactl(load));
    ASSERT_TRUE(server.pactl("set-default-source vbmic.monitor"));
    ASSERT_TRUE(capturing(engine, FollowSource::Microphone)) << engine.followStatus(FollowSource::Microphone).why;
    EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(pulses, "vbmic"))), 3);
}

TEST(EngineFollowNoServer, TheChoiceSaysWhyQuietlyAndFollowsAServerThatStartsLater)
{
    TempFolder folder;
    const char *old = std::getenv("PULSE_SERVER");
    const std::string saved = old ? old : "";
    setenv("PULSE_SERVER", ("unix:" + folder.file("nobody.sock")).c_str(), 1);
    testing::internal::CaptureStderr();
    {
        Vbmp3Engine engine(OutputKind::Silent);
        engine.setFollowSource(FollowSource::Desktop);
        for (FollowSource source : {FollowSource::Desktop, FollowSource::Microphone}) {
            const FollowStatus status = engine.followStatus(source);
            EXPECT_FALSE(status.available);
            EXPECT_NE(status.why.find("sound server"), std::string::npos) << status.why;
        }
        EXPECT_TRUE(engine.followStatus(FollowSource::Off).available);
        EXPECT_EQ(voiceValue(engine), 0);

        PrivateSoundServer server;
        if (server.running()) {
            EXPECT_TRUE(capturing(engine, FollowSource::Desktop)) << engine.followStatus(FollowSource::Desktop).why;
            const std::string tone = folder.file("tone.wav");
            ASSERT_TRUE(writeWav(tone, Wave{.seconds = 0.5}));
            EXPECT_EQ(litStretches(traceWhilePlaying(engine, server.play(tone, server.sink()))), 1);
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    if (old)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}
