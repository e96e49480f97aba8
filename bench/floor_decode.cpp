// The least a program spends to decode an MP3 as it plays: libmpg123 decoding to 32-bit float stereo at
// the file's rate (the engine's output format), kept a second ahead of the clock, waking every half
// second, and the least the lamps need from it: a voice-band level for each channel (one band-pass
// biquad and a sum of squares a sample). The sound goes nowhere. Prints its own CPU (user + system) over the measured
// seconds, after 2 s. Usage: floor_decode <mp3 file> <seconds>
#include "BenchTools.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mpg123.h>
#include <thread>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor_decode <mp3 file> <seconds>\n");
        return 2;
    }
    const double seconds = std::atof(argv[2]);
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
    mpg123_handle *mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_STEREO | MPG123_FORCE_FLOAT, 0);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (!mh || mpg123_open(mh, argv[1]) != MPG123_OK ||
        mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || channels != 2 ||
        encoding != MPG123_ENC_FLOAT_32) {
        std::fprintf(stderr, "floor_decode: %s does not decode to float stereo\n", argv[1]);
        return 1;
    }
    // A band-pass around the voice's middle (1 kHz, Q 0.7), direct form I; the level of each chunk is kept.
    const double w0 = 2 * 3.141592653589793 * 1000.0 / double(rate), alpha = std::sin(w0) / (2 * 0.7);
    const double a0 = 1 + alpha, b0 = alpha / a0, b2 = -alpha / a0, a1 = -2 * std::cos(w0) / a0, a2 = (1 - alpha) / a0;
    double x1[2] = {}, x2[2] = {}, y1[2] = {}, y2[2] = {};
    std::vector<double> levels;
    std::vector<float> chunk(1024 * 2);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    long long decoded = 0; // frames
    double cpu0 = -1, measuredFrom = 0;
    for (;;) {
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        if (cpu0 < 0 && now >= 2.0) {
            cpu0 = cpuSeconds();
            measuredFrom = now;
        }
        if (now >= 2.0 + seconds)
            break;
        while (double(decoded) / double(rate) < now + 1.0) {
            size_t done = 0;
            const int rc = mpg123_read(mh, chunk.data(), chunk.size() * sizeof(float), &done);
            const size_t frames = done / (2 * sizeof(float));
            double squares = 0;
            for (size_t i = 0; i < frames * 2; ++i) {
                const size_t c = i & 1;
                const double y = b0 * chunk[i] + b2 * x2[c] - a1 * y1[c] - a2 * y2[c];
                x2[c] = x1[c];
                x1[c] = chunk[i];
                y2[c] = y1[c];
                y1[c] = y;
                squares += y * y;
            }
            levels.push_back(frames ? squares / double(frames * 2) : 0.0);
            decoded += static_cast<long long>(frames);
            if (rc == MPG123_DONE)
                mpg123_seek(mh, 0, SEEK_SET); // round again: the clock, not the file, ends the run
            else if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
                std::fprintf(stderr, "floor_decode: %s\n", mpg123_strerror(mh));
                return 1;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count() - measuredFrom;
    std::printf("cpu: %.2f%% of one core over %.1f s (%ld Hz, %lld frames decoded, loudest band level %.4f)\n",
                (cpuSeconds() - cpu0) / wall * 100, wall, rate, decoded,
                levels.empty() ? 0.0 : std::sqrt(*std::max_element(levels.begin(), levels.end())));
    mpg123_delete(mh);
    return 0;
}
