// The engine through a real PulseAudio server: what reaches the sink, and the heard position across its buffer.
#include "playback/engine/PulseOutput.h"
#include "support/EngineFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace fixtures;
using namespace std::chrono_literals;

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

// The output learns from the server how long its sound waits there, and tells the engine.
TEST(EngineSoundServer, OutputLearnsItsLatencyFromTheServer)
{
    const char *sink = std::getenv("VB_PULSE_SINK");
    if (!sink || !*sink)
        GTEST_SKIP() << "no PulseAudio sink (VB_PULSE_SINK unset)";
    struct Listener : SoundSource {
        void pull(float *out, int frames) override { std::fill(out, out + 2 * frames, 0.0f); }
        void latencyMeasured(int frames) override { measured = frames; }
        std::atomic<int> measured{0};
    } source;
    auto output = openOutput(44100, source, OutputKind::Automatic);
    ASSERT_TRUE(output);
    ASSERT_TRUE(waitUntil([&] { return source.measured > 0; }, 60s)) << "the server never answered";
    EXPECT_EQ(output->latencyFrames(), source.measured.load());
    // The server holds some of the sound beyond the period, and a null sink not a tenth of a second more
    // than the stream asks it to hold.
    EXPECT_GT(source.measured, periodFramesFor(44100));
    EXPECT_LT(source.measured, 44100 * (kPulseBufferMs + 100) / 1000);
}
