#include "Output.h"

#include "PulseOutput.h"

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
            // PipeWire, and ALSA where there is a card: the others (sndio, OSS) and ALSA without a
            // card only print errors of their own, and the silent drivers are ours to replace.
            // PulseAudio has been tried already, without SDL.
            if (name != "pipewire" && !(name == "alsa" && hasSoundCard()))
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
        silent_ = openSilentOutput(rate_, source_);
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
        return output;
    }
    static void callback(void *self, Uint8 *stream, int bytes)
    {
        thread_local const bool realTime = raiseToRealTime(); // once for each of SDL's audio threads
        (void)realTime;
        auto &output = *static_cast<SdlOutput *>(self);
        output.source_.pull(reinterpret_cast<float *>(stream), bytes / int(2 * sizeof(float)));
    }

    SoundSource &source_;
    SDL_AudioSpec want_{};
    SDL_AudioDeviceID device_ = 0;
    std::unique_ptr<Output> silent_; // in the device's place while it cannot be opened again
    int period_ = 0;
    int rate_ = 0;
    int latency_ = 0;
};
} // namespace

OutputKind outputKindFromEnvironment()
{
    const char *value = std::getenv("VB_AUDIO_OUTPUT");
    return value && std::strcmp(value, "silent") == 0 ? OutputKind::Silent : OutputKind::Automatic;
}

bool raiseToRealTime()
{
    sched_param param{};
    param.sched_priority = std::max(sched_get_priority_min(SCHED_RR), 4);
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
}

int periodFramesFor(int rate)
{
    return rate <= 48000 ? 2048 : 4096;
}

std::unique_ptr<Output> openSilentOutput(int rate, SoundSource &source)
{
    return std::make_unique<SilentOutput>(rate, source);
}

std::unique_ptr<Output> openOutput(int rate, SoundSource &source, OutputKind kind)
{
    if (kind == OutputKind::Automatic) {
        // A PulseAudio server is spoken to directly, so that it can be asked to hold more than SDL asks it
        // to; SDL stays for every other driver, and for a driver named by the user.
        const char *driver = std::getenv("SDL_AUDIODRIVER");
        if (!driver || !*driver || std::strcmp(driver, "pulseaudio") == 0)
            if (auto stream = openPulseOutput(rate, source))
                return stream;
        if (auto device = SdlOutput::open(rate, source))
            return device;
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            std::fprintf(stderr, "voicebox: no sound device, playing silently\n");
    }
    return std::make_unique<SilentOutput>(rate, source);
}
