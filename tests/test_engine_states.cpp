// Play, pause, restart, stop and the end, and the heard position they leave, on the silent output.
#include "support/EngineFiles.h"
#include "support/ManualSound.h"

#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace fixtures;
using namespace std::chrono_literals;

namespace {
// The engine on an output and a clock the test drives: the heard position is exact to the frame.
class EngineByHand : public ::testing::Test {
protected:
    static constexpr int kRate = 44100, kLatency = 512;
    void SetUp() override { engine.vbmp3_init(); }

    int64_t heardFrame() { return std::llround(engine.heardSeconds() * kRate); }
    // Pulls frame by frame, at a standing clock, until the frame leaving the speaker is `frame`; the
    // decoder is ready when it is, and past the end silence counts only once it has finished.
    bool pullUntilHeard(int64_t frame)
    {
        return waitUntil([&] {
            for (int i = 0; i < 4096 && heardFrame() < frame; ++i)
                sound.pull(1);
            return heardFrame() >= frame;
        });
    }
    // The clock this many frames after the last pull (half a frame more, against rounding).
    void framesAfterPull(double frames)
    {
        sound.moveTo(sound.lastPull() + std::chrono::duration_cast<ManualSound::Clock::duration>(
                                            std::chrono::duration<double>((frames + 0.5) / kRate)));
    }

    ManualSound sound{kLatency};
    Vbmp3Engine engine{sound.opener(), sound.clock()};
    TrackInfo info{};
};
} // namespace

TEST_F(EngineByHand, StatesFollowPlayPauseRestartStopAndTheEnd)
{
    const int64_t length = int64_t(0.6 * kRate);
    const std::string path = Files::get().wav("states.wav", Wave{.rate = kRate, .seconds = 0.6});
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    EXPECT_EQ(stateOf(engine), PlayStateStopped);
    engine.vbmp3_pause(); // nothing plays: stays stopped
    EXPECT_EQ(stateOf(engine), PlayStateStopped);

    engine.vbmp3_play();
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    // What was pulled is heard a device buffer later, moving on with the clock between pulls.
    ASSERT_TRUE(pullUntilHeard(4410));
    EXPECT_EQ(heardFrame(), 4410);
    framesAfterPull(256);
    EXPECT_EQ(heardFrame(), 4410 + 256);

    engine.vbmp3_pause();
    EXPECT_EQ(stateOf(engine), PlayStatePaused);
    engine.vbmp3_pause();
    EXPECT_EQ(stateOf(engine), PlayStatePaused);
    // The device plays its buffer out, then the position stands still; a paused engine gives silence.
    framesAfterPull(kLatency);
    EXPECT_EQ(heardFrame(), 4410 + kLatency);
    ASSERT_TRUE(sound.pull(512));
    framesAfterPull(kRate);
    EXPECT_EQ(heardFrame(), 4410 + kLatency);

    // The first frames pulled again are heard a buffer later: the position does not step back meanwhile.
    engine.vbmp3_restart();
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    ASSERT_TRUE(sound.pull(1));
    EXPECT_EQ(heardFrame(), 4410 + kLatency);
    ASSERT_TRUE(pullUntilHeard(4410 + kLatency + 1));

    engine.vbmp3_stop();
    int32_t elapsed = -1;
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStateStopped);
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(engine.heardSeconds(), 0.0);
    engine.vbmp3_restart(); // only a paused file restarts
    EXPECT_EQ(stateOf(engine), PlayStateStopped);

    // From the beginning again, to the end: every frame pulled, but the last ones still in the device's
    // buffer, so it plays on until the last one has been heard, and not a frame longer.
    engine.vbmp3_play();
    ASSERT_TRUE(pullUntilHeard(length - kLatency + 1));
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    framesAfterPull(kLatency - 2);
    EXPECT_EQ(heardFrame(), length - 1);
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    framesAfterPull(kLatency - 1);
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStateStopped);
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(heardFrame(), length);
    // And once more after the natural end.
    engine.vbmp3_play();
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    EXPECT_EQ(heardFrame(), 0);
}

// The output may learn its latency anew while sound plays: the position follows at once, but never back.
TEST_F(EngineByHand, HeardPositionFollowsAMeasuredLatency)
{
    const std::string path = Files::get().wav("measured.wav", Wave{.rate = kRate, .seconds = 0.5});
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    engine.vbmp3_play();
    ASSERT_TRUE(pullUntilHeard(4410));
    sound.measureLatency(kLatency / 2); // fewer frames between the pull and the speaker
    EXPECT_EQ(heardFrame(), 4410 + kLatency / 2);
    sound.measureLatency(kLatency * 2);
    EXPECT_EQ(heardFrame(), 4410 + kLatency / 2);
    // From the last pull, 4410 + kLatency frames, the clock then has to catch up a longer buffer.
    framesAfterPull(kLatency * 3 / 2 + 100);
    EXPECT_EQ(heardFrame(), 4410 + kLatency / 2 + 100);
}

// An output that drops what it still holds when it goes idle, as a sound server's stream does: the pause
// is heard at once, so the position stays at the frame heard then, and play goes on from that frame.
TEST(EngineOnADroppingOutput, PauseResumesFromTheFrameHeard)
{
    constexpr int kRate = 44100, kLatency = 512;
    const Wave wave{.rate = kRate, .seconds = 0.5};
    const std::vector<float> samples = samplesOf(wave);
    ManualSound sound(kLatency, /*dropsQueued=*/true);
    Vbmp3Engine engine(sound.opener(), sound.clock());
    engine.vbmp3_init();
    TrackInfo info{};
    ASSERT_TRUE(engine.vbmp3_open(Files::get().wav("dropping.wav", wave), info));
    const auto heardFrame = [&] { return std::llround(engine.heardSeconds() * kRate); };
    const auto framesAfterPull = [&](double frames) {
        sound.moveTo(sound.lastPull() + std::chrono::duration_cast<ManualSound::Clock::duration>(
                                            std::chrono::duration<double>((frames + 0.5) / kRate)));
    };
    engine.vbmp3_play();
    ASSERT_TRUE(waitUntil([&] {
        for (int i = 0; i < 4096 && heardFrame() < 4410; ++i)
            sound.pull(1);
        return heardFrame() >= 4410;
    }));
    framesAfterPull(100);
    ASSERT_EQ(heardFrame(), 4510);

    engine.vbmp3_pause();
    ASSERT_TRUE(waitUntil([&] { return sound.idle(); }));
    framesAfterPull(kLatency * 4);
    EXPECT_EQ(heardFrame(), 4510) << "the position moved on over sound that was dropped";

    engine.vbmp3_restart();
    ASSERT_TRUE(waitUntil([&] { return !sound.idle(); }));
    std::vector<float> pulled;
    ASSERT_TRUE(sound.pull(64, &pulled));
    for (int i = 0; i < 64; ++i)
        ASSERT_NEAR(pulled[size_t(2 * i)], samples[size_t(4510 + i)], 1e-4) << "frame " << 4510 + i;
    // Those frames are heard a buffer after their pull; until then the position stands.
    EXPECT_EQ(heardFrame(), 4510);
    framesAfterPull(kLatency - 64 + 10);
    EXPECT_EQ(heardFrame(), 4510 + 10);

    // Played again before the worker came to the pause, the output still lets go of what it held.
    const int idled = sound.timesIdled();
    engine.vbmp3_pause();
    engine.vbmp3_restart();
    EXPECT_TRUE(waitUntil([&] { return sound.timesIdled() > idled && !sound.idle(); }));
    EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    engine.vbmp3_free();
}

TEST_F(EngineByHand, OutputIdlesWhileNothingPlays)
{
    const std::string path = Files::get().wav("idle.wav", Wave{.rate = kRate, .seconds = 0.3});
    ASSERT_TRUE(engine.vbmp3_open(path, info));
    EXPECT_TRUE(waitUntil([&] { return sound.idle(); })); // opened, not playing
    const struct {
        const char *step;
        void (Vbmp3Engine::*call)();
        bool idle;
    } steps[] = {
        {"play", &Vbmp3Engine::vbmp3_play, false},       {"pause", &Vbmp3Engine::vbmp3_pause, true},
        {"restart", &Vbmp3Engine::vbmp3_restart, false}, {"stop", &Vbmp3Engine::vbmp3_stop, true},
        {"play again", &Vbmp3Engine::vbmp3_play, false},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.step);
        (engine.*s.call)();
        EXPECT_TRUE(waitUntil([&] { return sound.idle() == s.idle; }));
    }
    // Played to its end, the track leaves the output idle too.
    ASSERT_TRUE(pullUntilHeard(int64_t(0.3 * kRate)));
    EXPECT_EQ(stateOf(engine), PlayStateStopped);
    EXPECT_TRUE(waitUntil([&] { return sound.idle(); }));
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
