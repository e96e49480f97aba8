#include "Output.h"

#include "PulseLatency.h"

#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <thread>
#include <vector>

namespace {
// Plays into nothing at the pace of a real device, so positions and levels follow real time.
class SilentOutput : public Output {
public:
    SilentOutput(int rate, SoundSource &source) : period_(periodFramesFor(rate))
    {
        thread_ = std::thread([this, rate, &source] { run(rate, source); });
    }
    ~SilentOutput() override
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    int latencyFrames() const override { return period_; }
    void setIdle(bool idle) override
    {
        {
            std::lock_guard lock(mutex_);
            idle_ = idle;
        }
        wake_.notify_all();
    }

private:
    void run(int rate, SoundSource &source)
    {
        using clock = std::chrono::steady_clock;
        std::vector<float> buffer(size_t(period_) * 2);
        const auto period =
            std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(double(period_) / rate));
        auto due = clock::now();
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (idle_) {
                wake_.wait(lock, [this] { return quit_ || !idle_; });
                due = clock::now();
                continue;
            }
            lock.unlock();
            // A late wake-up catches up, as a device's clock keeps running; a long stall is not replayed.
            const auto now = clock::now();
            if (now - due > 8 * period)
                due = now;
            while (due <= now) {
                source.pull(buffer.data(), period_);
                due += period;
            }
            lock.lock();
            wake_.wait_until(lock, due, [this] { return quit_ || idle_; });
        }
    }

    int period_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool idle_ = false;
    std::thread thread_;
};

bool onPulseAudio()
{
    const char *driver = SDL_GetCurrentAudioDriver();
    return driver && std::strcmp(driver, "pulseaudio") == 0;
}

// Frames a driver holds beyond the period SDL pulls, which SDL 2 cannot report: the first guess, until
// the server answers. Its PulseAudio driver asks for a stream whose target length is one period, with
// PA_STREAM_ADJUST_LATENCY; on a null sink the server then answered 620 to 770 frames beyond a period of
// 1024 at 44.1 kHz, the less while a recording of its monitor asks for a short latency. Other drivers are
// left at the period alone, as nothing here has measured them.
int queuedBehindDriver(int periodFrames)
{
    return onPulseAudio() ? periodFrames * 3 / 4 : 0;
}

// SDL gives its audio thread the highest ordinary priority. Where the system allows it (root, or a raised
// RLIMIT_RTPRIO) the thread runs round-robin real-time instead, below the sound server's own threads, so that
// on a loaded machine it is not kept waiting behind ordinary threads; together with the engine's lock,
// which lends its holder the priority of the thread waiting for it, a period is never late for long.
bool raiseToRealTime()
{
    sched_param param{};
    param.sched_priority = std::max(sched_get_priority_min(SCHED_RR), 4);
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
}

class SdlOutput : public Output {
public:
    static std::unique_ptr<SdlOutput> open(int rate, SoundSource &source)
    {
        // With a driver named by the user, SDL tries only that one.
#ifdef __linux__
        if (SDL_GetHint(SDL_HINT_AUDIODRIVER))
            return openWith(rate, source);
        for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
            const std::string name = SDL_GetAudioDriver(i);
            // The sound servers, and ALSA where there is a card: the others (sndio, OSS) and ALSA without a
            // card only print errors of their own, and the silent drivers are ours to replace.
            if (name != "pulseaudio" && name != "pipewire" && !(name == "alsa" && hasSoundCard()))
                continue;
            SDL_SetHint(SDL_HINT_AUDIODRIVER, name.c_str());
            auto output = openWith(rate, source);
            SDL_SetHint(SDL_HINT_AUDIODRIVER, nullptr);
            if (output)
                return output;
        }
        return nullptr;
#else
        return openWith(rate, source);
#endif
    }
    ~SdlOutput() override
    {
        silent_.reset();
        if (measurer_.joinable()) {
            {
                std::lock_guard lock(measureMutex_);
                quit_ = true;
            }
            measureWake_.notify_all();
            measurer_.join();
        }
        if (device_ != 0)
            SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    int latencyFrames() const override
    {
        return latency_;
    }
    // SDL's thread goes on writing silence to a paused device, so an idle device is closed, which ends that
    // thread and the device's connection to the sound server; it opens again, as it was, to play.
    void setIdle(bool idle) override
    {
        pullsSinceResumed_ = 0;
        {
            // Going idle waits for the measurer to let its server connection go.
            std::unique_lock lock(measureMutex_);
            idle_ = idle;
            measureWake_.notify_all();
            if (idle)
                measureDone_.wait(lock, [this] { return !measuring_; });
        }
        if (idle) {
            silent_.reset();
            if (device_ != 0)
                SDL_CloseAudioDevice(device_);
            device_ = 0;
            return;
        }
        if (device_ != 0 || silent_)
            return;
        SDL_AudioSpec have{};
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want_, &have, 0);
        if (device_ != 0) {
            SDL_PauseAudioDevice(device_, 0);
            return;
        }
        // The sound server went away while nothing played. The track goes on at a device's pace, unheard, as
        // it does with no device at all, rather than standing still; the next play tries the device again.
        std::fprintf(stderr, "voicebox: the sound device did not open again, playing silently: %s\n", SDL_GetError());
        silent_ = std::make_unique<SilentOutput>(rate_, source_);
    }

private:
    explicit SdlOutput(SoundSource &source) : source_(source) {}

    static bool hasSoundCard()
    {
        std::FILE *cards = std::fopen("/proc/asound/cards", "r");
        if (!cards)
            return false;
        char line[256];
        bool found = false;
        while (!found && std::fgets(line, sizeof line, cards))
            found = std::strstr(line, "no soundcards") == nullptr && line[0] != '\n';
        std::fclose(cards);
        return found;
    }

    static std::unique_ptr<SdlOutput> openWith(int rate, SoundSource &source)
    {
        // SDL's audio brings up its event queue, which would take SIGINT and SIGTERM for a quit event
        // nobody reads: the program could then be ended only with SIGKILL.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return nullptr;
        auto output = std::unique_ptr<SdlOutput>(new SdlOutput(source));
        SDL_AudioSpec want{};
        want.freq = rate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = Uint16(periodFramesFor(rate));
        want.callback = &SdlOutput::callback;
        want.userdata = output.get();
        SDL_AudioSpec have{};
        output->want_ = want;
        output->device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (output->device_ == 0)
            return nullptr; // the destructor gives the subsystem back
        output->period_ = have.samples;
        output->rate_ = have.freq;
        output->latency_ = have.samples + queuedBehindDriver(have.samples);
        SDL_PauseAudioDevice(output->device_, 0);
        if (onPulseAudio())
            output->measurer_ = std::thread([self = output.get()] { self->measure(); });
        return output;
    }
    static void callback(void *self, Uint8 *stream, int bytes)
    {
        thread_local const bool realTime = raiseToRealTime(); // once for each of SDL's audio threads
        (void)realTime;
        auto &output = *static_cast<SdlOutput *>(self);
        output.source_.pull(reinterpret_cast<float *>(stream), bytes / int(2 * sizeof(float)));
        output.lastPull_ = Clock::now().time_since_epoch().count();
        ++output.pullsSinceResumed_;
    }

    // What the server queues behind a period depends on the server, its sink and the other streams on it,
    // so where it is PulseAudio it is asked: a round of answers once the stream has settled, and again
    // every few seconds, as a sink's latency follows the streams it plays. Each answer is taken at a known
    // time after a pull, so the frames the heard position moves on by until then are counted back in. SDL
    // hands a period to the server in pieces as the server asks for them, and what it still holds is not
    // counted in the answer: so an answer falls short by that much, and the round's largest one, taken
    // when SDL had handed over the whole period, is the latency.
    // The server is asked over a connection of the measurer's own, held only while the device plays, so an
    // idle program keeps nothing open on the server.
    void measure()
    {
        using namespace std::chrono_literals;
        std::unique_lock lock(measureMutex_);
        while (!quit_) {
            measureWake_.wait(lock, [this] { return quit_ || !idle_; });
            if (quit_)
                break;
            measuring_ = true;
            lock.unlock();
            {
                PulseLatency server(500ms);
                lock.lock();
                if (server.connected())
                    measureWhilePlaying(server, lock);
                lock.unlock();
            }
            lock.lock();
            measuring_ = false;
            measureDone_.notify_all();
            // A server that did not answer is tried again at the next play, not before.
            measureWake_.wait(lock, [this] { return quit_ || idle_; });
        }
    }

    // Rounds of answers until the device goes idle; called and returns with lock held.
    void measureWhilePlaying(PulseLatency &server, std::unique_lock<std::mutex> &lock)
    {
        using namespace std::chrono_literals;
        const auto periodTime = std::chrono::duration<double>(double(period_) / rate_);
        const auto stop = [this] { return quit_ || idle_; };
        while (!stop()) {
            std::vector<int> frames;
            for (int i = 0; i < kAnswers && !stop(); ++i) {
                lock.unlock();
                const bool settled = pullsSinceResumed_ >= kSettledPulls;
                const auto answer = settled ? server.ask(200ms) : std::nullopt;
                const auto pulled = Clock::time_point(Clock::duration(lastPull_.load()));
                lock.lock();
                // An answer slow in coming, or one a pull overtook, cannot be placed against the pull.
                if (answer && answer->roundTrip < 2ms && answer->at >= pulled && answer->at - pulled < periodTime) {
                    const double seconds = std::chrono::duration<double>(answer->queued).count() +
                                           std::chrono::duration<double>(answer->at - pulled).count();
                    frames.push_back(int(seconds * rate_ + 0.5));
                }
                measureWake_.wait_for(lock, kAnswerSpacing, stop);
            }
            if (int(frames.size()) > kAnswers / 2) {
                const int measured = std::clamp(*std::max_element(frames.begin(), frames.end()), period_, rate_);
                if (measured != latency_.exchange(measured))
                    source_.latencyMeasured(measured);
            }
            measureWake_.wait_for(lock, int(frames.size()) > kAnswers / 2 ? 5000ms : 250ms, stop);
        }
    }

    using Clock = std::chrono::steady_clock;
    static constexpr int kAnswers = 12;
    // Not a multiple of any period, so that the answers fall at every point of one.
    static constexpr std::chrono::milliseconds kAnswerSpacing{17};
    static constexpr int kSettledPulls = 20;

    SoundSource &source_;
    SDL_AudioSpec want_{};
    SDL_AudioDeviceID device_ = 0;
    std::unique_ptr<SilentOutput> silent_; // in the device's place while it cannot be opened again
    int period_ = 0;
    int rate_ = 0;
    std::atomic<int> latency_{0};
    std::atomic<Clock::rep> lastPull_{0};
    std::atomic<int> pullsSinceResumed_{0};
    bool idle_ = false; // guarded by measureMutex_
    std::mutex measureMutex_;
    std::condition_variable measureWake_, measureDone_;
    bool measuring_ = false;
    bool quit_ = false;
    std::thread measurer_;
};
} // namespace

OutputKind outputKindFromEnvironment()
{
    const char *value = std::getenv("VB_AUDIO_OUTPUT");
    return value && std::strcmp(value, "silent") == 0 ? OutputKind::Silent : OutputKind::Automatic;
}

int periodFramesFor(int rate)
{
    return rate <= 48000 ? 2048 : 4096;
}

std::unique_ptr<Output> openOutput(int rate, SoundSource &source, OutputKind kind)
{
    if (kind == OutputKind::Automatic) {
        if (auto device = SdlOutput::open(rate, source))
            return device;
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            std::fprintf(stderr, "voicebox: no sound device, playing silently\n");
    }
    return std::make_unique<SilentOutput>(rate, source);
}
