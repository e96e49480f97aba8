#include "Output.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// ALSA writes its own reasons to stderr when it finds no card (eight lines for one failed open);
// the one line openOutput writes says all the user needs.
void quietAlsa(const char *, int, const char *, int, const char *, ...) {}

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
            wake_.wait_until(lock, due, [this] { return quit_; });
        }
    }

    int period_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::thread thread_;
};

class SdlOutput : public Output {
public:
    static std::unique_ptr<SdlOutput> open(int rate, SoundSource &source)
    {
        snd_lib_error_set_handler(quietAlsa); // SDL opens the same libasound: the handler is its too
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
        output->device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (output->device_ == 0)
            return nullptr; // the destructor gives the subsystem back
        output->latency_ = have.samples;
        SDL_PauseAudioDevice(output->device_, 0);
        return output;
    }
    ~SdlOutput() override
    {
        if (device_ != 0)
            SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    int latencyFrames() const override { return latency_; }

private:
    explicit SdlOutput(SoundSource &source) : source_(source) {}
    static void callback(void *self, Uint8 *stream, int bytes)
    {
        static_cast<SdlOutput *>(self)->source_.pull(reinterpret_cast<float *>(stream), bytes / int(2 * sizeof(float)));
    }

    SoundSource &source_;
    SDL_AudioDeviceID device_ = 0;
    int latency_ = 0;
};
} // namespace

OutputKind outputKindFromEnvironment()
{
    const char *value = std::getenv("VB_AUDIO_OUTPUT");
    return value && std::strcmp(value, "silent") == 0 ? OutputKind::Silent : OutputKind::Automatic;
}

int periodFramesFor(int rate)
{
    return rate <= 48000 ? 512 : 1024;
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
