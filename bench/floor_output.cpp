// The least a program spends to play a track through SDL as the engine's output does: the whole track read
// into memory first as 32-bit float stereo at its own rate (mono doubled), one device of 2048-frame periods
// on the sound server, and a callback that only copies. Prints its own CPU (user + system, all threads)
// over the measured seconds, after 2 s of settling.
// Usage: floor_output <sound file> <seconds>
#include "BenchTools.h"

#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sndfile.h>
#include <thread>
#include <vector>

namespace {

struct Track {
    std::vector<float> frames; // interleaved stereo
    size_t at = 0;             // in floats
    std::atomic<long> pulls{0};
};

void pull(void *userdata, Uint8 *stream, int bytes)
{
    auto &track = *static_cast<Track *>(userdata);
    const size_t want = size_t(bytes) / sizeof(float);
    const size_t n = std::min(want, track.frames.size() - track.at);
    std::memcpy(stream, track.frames.data() + track.at, n * sizeof(float));
    std::memset(reinterpret_cast<float *>(stream) + n, 0, (want - n) * sizeof(float));
    track.at += n;
    ++track.pulls;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor_output <sound file> <seconds>\n");
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    SF_INFO info{};
    SNDFILE *file = sf_open(argv[1], SFM_READ, &info);
    if (!file || info.channels < 1 || info.channels > 2) {
        std::fprintf(stderr, "floor_output: %s does not open as mono or stereo sound\n", argv[1]);
        return 1;
    }
    Track track;
    std::vector<float> read(size_t(info.frames) * size_t(info.channels));
    const sf_count_t got = sf_readf_float(file, read.data(), info.frames);
    sf_close(file);
    track.frames.resize(size_t(got) * 2);
    for (sf_count_t f = 0; f < got; ++f) {
        track.frames[size_t(2 * f)] = read[size_t(f * info.channels)];
        track.frames[size_t(2 * f + 1)] = read[size_t(f * info.channels + info.channels - 1)];
    }

    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIODRIVER, "pulseaudio");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "floor_output: %s\n", SDL_GetError());
        return 1;
    }
    SDL_AudioSpec want{}, have{};
    want.freq = info.samplerate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 2048;
    want.callback = &pull;
    want.userdata = &track;
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        std::fprintf(stderr, "floor_output: %s\n", SDL_GetError());
        return 1;
    }
    SDL_PauseAudioDevice(device, 0);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    const long pulls0 = track.pulls;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = (cpuSeconds() - cpu0) / wall * 100;
    const double pullsPerSecond = double(track.pulls - pulls0) / wall;
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    std::printf("cpu: %.2f%% of one core over %.1f s (%d Hz, %d-frame periods, %.1f pulls a second, driver %s)\n", cpu,
                wall, have.freq, int(have.samples), pullsPerSecond, "pulseaudio");
    return 0;
}
