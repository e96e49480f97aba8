// Prints how closely the lamps follow the desktop's sound when no track plays:
//   follow lag   from a tone's onset reaching the default output's monitor (seen by a recorder of our own
//                with 1 ms fragments) to the first follow tick whose followed spectrum lights lblVoice3(9),
//                the ticks coming as the program's do: when the engine tells of new sound, or every 100 ms;
//   tick cost    the followed spectrum's cost per tick, beside the playing engine's vbmp3_getSpectrum.
// Usage: bench_follow <speech.wav> [lag trials]. Needs a PulseAudio server (PULSE_SERVER) with a default
// sink; plays its tones with paplay.
#include "BenchTools.h"
#include "playback/engine/Vbmp3Engine.h"
#include "voice/VoiceAnimation.h"
#include "windows/FrmVoice.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pulse/pulseaudio.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Records the default sink's monitor in 1 ms fragments and notes when a loud sample first arrives.
class OnsetRecorder {
public:
    OnsetRecorder()
    {
        loop_ = pa_threaded_mainloop_new();
        pa_threaded_mainloop_start(loop_);
        pa_threaded_mainloop_lock(loop_);
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "bench_follow");
        pa_context_set_state_callback(
            context_,
            [](pa_context *, void *l) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(l), 0); },
            loop_);
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        while (pa_context_get_state(context_) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
            pa_threaded_mainloop_wait(loop_);
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, 44100, 1};
        stream_ = pa_stream_new(context_, "onset", &spec, nullptr);
        pa_stream_set_read_callback(
            stream_,
            [](pa_stream *s, size_t, void *self) {
                auto *r = static_cast<OnsetRecorder *>(self);
                const void *data;
                size_t bytes;
                while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
                    if (data && !r->seen_) {
                        const float *x = static_cast<const float *>(data);
                        for (size_t i = 0; i < bytes / sizeof(float); ++i)
                            if (std::fabs(x[i]) > 0.05f) {
                                r->at_ = Clock::now();
                                r->seen_ = true;
                                break;
                            }
                    }
                    pa_stream_drop(s);
                }
            },
            this);
        pa_buffer_attr attr{uint32_t(-1), uint32_t(-1), uint32_t(-1), uint32_t(-1),
                            uint32_t(pa_usec_to_bytes(1000, &spec))};
        pa_stream_connect_record(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY);
        pa_threaded_mainloop_unlock(loop_);
    }
    ~OnsetRecorder()
    {
        pa_threaded_mainloop_lock(loop_);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }
    void arm() { seen_ = false; }
    bool seen() const { return seen_; }
    Clock::time_point at() const { return at_; }

private:
    pa_threaded_mainloop *loop_;
    pa_context *context_;
    pa_stream *stream_;
    std::atomic<bool> seen_{true};
    Clock::time_point at_;
};

pid_t play(const std::string &path)
{
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("paplay", "paplay", "--latency-msec=10", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

int voiceValue(AudioEngine &engine)
{
    std::array<int32_t, kSpectrumSize> first{}, second{};
    engine.getFollowSpectrum(first.data(), second.data());
    return *spectrumValue(first[kVoiceBand], second[kVoiceBand]);
}

double medianMicros(const std::vector<double> &v)
{
    return percentile(v, 0.5);
}
} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_follow <speech.wav> [lag trials]\n");
        return 2;
    }
    const std::string speech = argv[1];
    const int trials = argc > 2 ? std::atoi(argv[2]) : 20;
    const std::string tone = "/tmp/bench_follow_tone.wav";
    if (std::system(
            ("sox -n -r 44100 -c 1 -b 16 " + tone + " synth 0.4 sine 1000 gain -13 pad 0.3 0.8 " + ">/dev/null 2>&1")
                .c_str()) != 0) {
        std::fprintf(stderr, "bench_follow: sox is needed\n");
        return 1;
    }

    Vbmp3Engine engine(OutputKind::Automatic);
    engine.setFollowSource(FollowSource::Desktop);
    const auto until = Clock::now() + 10s;
    while (!engine.followStatus(FollowSource::Desktop).available && Clock::now() < until)
        std::this_thread::sleep_for(10ms);
    if (!engine.followStatus(FollowSource::Desktop).available) {
        std::printf("follow lag: not measured: %s\n", engine.followStatus(FollowSource::Desktop).why.c_str());
        return 0;
    }

    // ---- lag ----------------------------------------------------------------------------------------
    OnsetRecorder recorder;
    std::mutex toldMutex;
    std::condition_variable toldChanged;
    bool told = false;
    engine.setFollowListener([&] {
        {
            std::lock_guard lock(toldMutex);
            told = true;
        }
        toldChanged.notify_one();
    });
    std::vector<double> lagMs;
    for (int t = 0; t < trials; ++t) {
        while (voiceValue(engine) != 0)
            std::this_thread::sleep_for(5ms);
        recorder.arm();
        const pid_t player = play(tone);
        Clock::time_point litAt{};
        const auto limit = Clock::now() + 5s;
        while (Clock::now() < limit) {
            {
                std::unique_lock lock(toldMutex);
                toldChanged.wait_for(lock, 100ms, [&] { return told; }); // the program's slow look
                told = false;
            }
            if (voiceLamps(voiceValue(engine), int16_t(0)).centre[9] != VoiceShade::Unlit) {
                litAt = Clock::now();
                break;
            }
        }
        waitpid(player, nullptr, 0);
        if (recorder.seen() && litAt != Clock::time_point{})
            lagMs.push_back(std::chrono::duration<double, std::milli>(litAt - recorder.at()).count());
    }
    engine.setFollowListener({});
    std::printf("follow lag: median %+.1f ms, min %+.1f ms, max %+.1f ms over %zu of %d trials "
                "(tone onset at the monitor to the first follow tick lighting lblVoice3(9))\n",
                percentile(lagMs, 0.5), percentile(lagMs, 0.0), percentile(lagMs, 1.0), lagMs.size(), trials);

    // ---- the cost of one tick's spectrum, following and playing ---------------------------------------
    std::vector<double> followUs, playUs;
    const pid_t talker = play(speech);
    for (int i = 0; i < 600; ++i) {
        std::array<int32_t, kSpectrumSize> first{}, second{};
        const auto a = Clock::now();
        engine.getFollowSpectrum(first.data(), second.data());
        followUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - a).count());
        std::this_thread::sleep_for(5ms);
    }
    kill(talker, SIGTERM);
    waitpid(talker, nullptr, 0);
    engine.setFollowSource(FollowSource::Off);
    engine.vbmp3_init();
    TrackInfo info{};
    if (engine.vbmp3_open(speech, info)) {
        engine.vbmp3_play();
        std::this_thread::sleep_for(500ms);
        for (int i = 0; i < 600; ++i) {
            std::array<int32_t, kSpectrumSize> first{}, second{};
            const auto a = Clock::now();
            engine.vbmp3_getSpectrum(first.data(), second.data());
            playUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - a).count());
            std::this_thread::sleep_for(5ms);
        }
    }
    engine.vbmp3_free();
    std::printf("spectrum per tick: following median %.1f us (90th pct %.1f us), playing median %.1f us (90th pct "
                "%.1f us), 600 ticks each at 5 ms\n",
                medianMicros(followUs), percentile(followUs, 0.9), medianMicros(playUs), percentile(playUs, 0.9));
    std::remove(tone.c_str());
    return 0;
}
