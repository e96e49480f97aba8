// Prints the engine's figures: time to open a 60-minute VBR MP3 with and without a Xing header (the first
// open with the page cache dropped, where this process may drop it), peak memory while playing it, and the
// cost of one vbmp3_getSpectrum call while playing.
// The MP3s are made once into /tmp (sox pink noise through lame); making them is not measured.
// Two more modes serve bench/run's test under load:
//   bench_engine play <file> <seconds>  plays file on the sound device, asking for the state and the
//                                       spectrum every 5 ms as the display's tick does;
//   bench_engine gaps <recording>       counts the gaps (runs of at least 1 ms of digital silence) in a raw
//                                       16-bit stereo 44.1 kHz recording, between its first and last sound.
// And one for the controls:
//   bench_engine controls <tone> <n>    plays a steady tone on the sound device and, n times over, calls
//                                       play, pause, restart and stop, each once the one before is heard;
//                                       prints how long each takes from the call to its arrival at the
//                                       default sink's monitor (read with parec, real-time where allowed).
#include "BenchTools.h"
#include "playback/engine/Vbmp3Engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

const std::string kWithXing = "/tmp/vb_bench_60min_vbr.mp3";
const std::string kWithoutXing = "/tmp/vb_bench_60min_vbr_noxing.mp3";

long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

// The same stream without its first frame, which holds lame's Xing header; copied in pieces, so the
// copy does not raise this process's peak memory.
bool stripXingFrame(const std::string &from, const std::string &to)
{
    std::ifstream in(from, std::ios::binary);
    unsigned char h[4] = {};
    if (!in.read(reinterpret_cast<char *>(h), 4) || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    static const int kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int rates[4] = {44100, 48000, 32000, 0};
    const int bitrate = kbps[h[2] >> 4];
    const int rate = rates[(h[2] >> 2) & 3];
    if (bitrate == 0 || rate == 0)
        return false;
    const size_t length = size_t(144 * bitrate * 1000 / rate + ((h[2] >> 1) & 1));
    std::string frame(length, '\0');
    in.seekg(0);
    if (!in.read(frame.data(), std::streamsize(length)) ||
        (frame.find("Xing") == std::string::npos && frame.find("Info") == std::string::npos))
        return false;
    std::ofstream out(to + ".part", std::ios::binary);
    std::vector<char> piece(1 << 20);
    while (in.read(piece.data(), std::streamsize(piece.size())) || in.gcount() > 0)
        out.write(piece.data(), in.gcount());
    out.close();
    return bool(out) && std::rename((to + ".part").c_str(), to.c_str()) == 0;
}

bool makeFiles()
{
    if (!std::filesystem::exists(kWithXing)) {
        std::printf("making %s (60 minutes of modulated pink noise, lame -V 4)...\n", kWithXing.c_str());
        std::fflush(stdout);
        const std::string command = "sox -n -r 44100 -c 2 -b 16 -e signed -t raw - synth 3600 pinknoise tremolo 0.7 "
                                    "80 vol 0.5 2>/dev/null | lame --quiet -r -s 44.1 --bitwidth 16 --signed "
                                    "--little-endian --vbr-new -V 4 - " +
                                    kWithXing + ".part 2>/dev/null && mv " + kWithXing + ".part " + kWithXing;
        if (std::system(command.c_str()) != 0)
            return false;
    }
    if (!std::filesystem::exists(kWithoutXing) && !stripXingFrame(kWithXing, kWithoutXing))
        return false;
    return true;
}

// Starts the engine and opens path into info; false, said, when it does not open.
bool openEngine(Vbmp3Engine &engine, const char *path, TrackInfo &info)
{
    engine.vbmp3_init();
    if (engine.vbmp3_open(path, info))
        return true;
    std::fprintf(stderr, "bench_engine: %s does not open, error %d\n", path, engine.vbmp3_getLastErrorNo());
    return false;
}

int play(const char *path, int seconds)
{
    Vbmp3Engine engine(outputKindFromEnvironment());
    TrackInfo info{};
    if (!openEngine(engine, path, info))
        return 1;
    engine.vbmp3_play();
    int32_t first[kSpectrumSize], second[kSpectrumSize];
    int32_t elapsed = 0;
    auto next = Clock::now();
    const auto until = next + std::chrono::seconds(seconds);
    while (Clock::now() < until && engine.vbmp3_getState(elapsed) == PlayStatePlaying) {
        engine.vbmp3_getSpectrum(first, second);
        next += std::chrono::milliseconds(5);
        std::this_thread::sleep_until(next);
    }
    std::printf("played %s for %.1f s; the engine had nothing decoded for %.1f ms of it\n", path, engine.heardSeconds(),
                double(engine.starvedFrames()) * 1000.0 / std::max(1, info.SamplingRate));
    engine.vbmp3_free();
    return 0;
}

// The default sink's monitor, read through parec on a thread of its own: when the sound last began and
// when it last fell quiet (10 ms without a sample above the threshold, dated from its first quiet sample).
class MonitorEdges {
public:
    MonitorEdges()
    {
        in_ = startMonitorRecorder(parec_);
        thread_ = std::thread([this] {
            sched_param param{};
            param.sched_priority = 10;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
            int16_t block[64];
            size_t got;
            int quiet = 0;
            bool loud = false;
            Clock::time_point quietFrom{};
            while (in_ && (got = std::fread(block, 2, 64, in_)) > 0) {
                const auto now = Clock::now();
                for (size_t i = 0; i < got; ++i) {
                    const auto at = now - std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(double(got - i) / kRate));
                    if (std::abs(block[i]) > 1000) {
                        quiet = 0;
                        if (!loud) {
                            loud = true;
                            std::lock_guard lock(mutex_);
                            began_ = at;
                        }
                    } else if (quiet++ == 0) {
                        quietFrom = at;
                    } else if (loud && quiet >= kRate / 100) {
                        loud = false;
                        std::lock_guard lock(mutex_);
                        ended_ = quietFrom;
                    }
                }
            }
        });
    }
    ~MonitorEdges()
    {
        if (parec_ > 0) {
            ::kill(parec_, SIGTERM);
            ::waitpid(parec_, nullptr, 0);
        }
        if (thread_.joinable())
            thread_.join();
        if (in_)
            std::fclose(in_);
    }
    // Milliseconds from `since` to the next beginning (or end) of sound heard after it; -1 after 3 s.
    double after(Clock::time_point since, bool beginning)
    {
        for (auto until = since + std::chrono::seconds(3); Clock::now() < until;) {
            {
                std::lock_guard lock(mutex_);
                const Clock::time_point edge = beginning ? began_ : ended_;
                if (edge > since)
                    return std::chrono::duration<double, std::milli>(edge - since).count();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return -1;
    }

private:
    static constexpr int kRate = 44100;
    pid_t parec_ = -1;
    std::FILE *in_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    Clock::time_point began_{}, ended_{};
};

int controls(const char *path, int trials)
{
    Vbmp3Engine engine(outputKindFromEnvironment());
    TrackInfo info{};
    if (!openEngine(engine, path, info))
        return 1;
    MonitorEdges monitor;
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // parec connected, the file decoded ahead
    const struct {
        const char *name;
        void (Vbmp3Engine::*call)();
        bool sound; // heard as the sound beginning, or else ending
    } steps[] = {{"play", &Vbmp3Engine::vbmp3_play, true},
                 {"pause", &Vbmp3Engine::vbmp3_pause, false},
                 {"restart", &Vbmp3Engine::vbmp3_restart, true},
                 {"stop", &Vbmp3Engine::vbmp3_stop, false}};
    std::vector<std::vector<double>> ms(std::size(steps));
    for (int trial = 0; trial < trials; ++trial) {
        for (size_t s = 0; s < std::size(steps); ++s) {
            const auto called = Clock::now();
            (engine.*steps[s].call)();
            const double delay = monitor.after(called, steps[s].sound);
            if (delay >= 0)
                ms[s].push_back(delay);
            std::this_thread::sleep_for(std::chrono::milliseconds(steps[s].sound ? 700 : 400));
        }
    }
    engine.vbmp3_free();
    for (size_t s = 0; s < std::size(steps); ++s) {
        auto &v = ms[s];
        std::sort(v.begin(), v.end());
        if (v.empty())
            std::printf("%-8s: never heard\n", steps[s].name);
        else
            std::printf("%-8s: median %.1f ms, min %.1f ms, max %.1f ms over %zu of %d (call to the monitor)\n",
                        steps[s].name, v[v.size() / 2], v.front(), v.back(), v.size(), trials);
    }
    return 0;
}

int countGaps(const char *path)
{
    constexpr int kRate = 44100;
    std::ifstream in(path, std::ios::binary);
    std::vector<int16_t> samples;
    std::vector<int16_t> piece(1 << 16);
    while (in.read(reinterpret_cast<char *>(piece.data()), std::streamsize(piece.size() * 2)) || in.gcount() > 0)
        samples.insert(samples.end(), piece.begin(), piece.begin() + in.gcount() / 2);
    const size_t frames = samples.size() / 2;
    auto silent = [&](size_t f) { return samples[2 * f] == 0 && samples[2 * f + 1] == 0; };
    size_t begin = 0, end = frames;
    while (begin < end && silent(begin))
        ++begin;
    while (end > begin && silent(end - 1))
        --end;
    int gaps = 0;
    double longestMs = 0, totalMs = 0;
    for (size_t f = begin; f < end;) {
        if (!silent(f)) {
            ++f;
            continue;
        }
        size_t run = f;
        while (run < end && silent(run))
            ++run;
        const double ms = double(run - f) * 1000.0 / kRate;
        if (ms >= 1.0) {
            ++gaps;
            totalMs += ms;
            longestMs = std::max(longestMs, ms);
        }
        f = run;
    }
    std::printf("gaps: %d in %.1f s of sound (longest %.1f ms, %.1f ms in all)\n", gaps, double(end - begin) / kRate,
                longestMs, totalMs);
    return 0;
}

double median(const std::vector<double> &v)
{
    return percentile(v, 0.5);
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "play") == 0)
        return play(argv[2], std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "gaps") == 0)
        return countGaps(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "controls") == 0)
        return controls(argv[2], std::atoi(argv[3]));
    if (!makeFiles()) {
        std::fprintf(stderr, "bench_engine: could not make the 60-minute MP3s (sox and lame needed)\n");
        return 1;
    }
    const long baselineKb = statusKb("VmHWM:");
    Vbmp3Engine engine(OutputKind::Silent);
    engine.vbmp3_init();
    TrackInfo info{};

    // The first open of the file with a Xing header, from the disk: the time the caller's thread is held.
    const bool dropped = dropPageCache();
    const auto coldStart = Clock::now();
    if (!engine.vbmp3_open(kWithXing, info)) {
        std::fprintf(stderr, "bench_engine: open failed, error %d\n", engine.vbmp3_getLastErrorNo());
        return 1;
    }
    std::printf("cold open 60-min VBR MP3 with Xing header: %.1f ms (%s)\n",
                std::chrono::duration<double, std::milli>(Clock::now() - coldStart).count(),
                dropped ? "page cache dropped" : "page cache NOT dropped: needs root");

    for (const auto &[name, path] : {std::pair{"with Xing header", kWithXing}, {"without Xing header", kWithoutXing}}) {
        std::vector<double> ms;
        for (int run = 0; run < 3; ++run) {
            const auto start = Clock::now();
            if (!engine.vbmp3_open(path, info)) {
                std::fprintf(stderr, "bench_engine: open failed, error %d\n", engine.vbmp3_getLastErrorNo());
                return 1;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::printf("open 60-min VBR MP3 %-20s: median %.1f ms (runs %.1f, %.1f, %.1f); %d s, %d kbit/s, %ld MB\n",
                    name, median(ms), ms[0], ms[1], ms[2], info.TotalSeconds, info.BitValue,
                    long(std::filesystem::file_size(path) >> 20));
    }

    // Play the file without a Xing header, asking for the spectrum as the display timer would.
    engine.vbmp3_play();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<double> us;
    int32_t first[kSpectrumSize], second[kSpectrumSize];
    int32_t loudest = 0;
    const auto until = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < until) {
        const auto start = Clock::now();
        engine.vbmp3_getSpectrum(first, second);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        loudest = std::max(loudest, first[128]);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::sort(us.begin(), us.end());
    std::printf("vbmp3_getSpectrum while playing: median %.1f us, 99th percentile %.1f us, max %.1f us over %zu "
                "calls (element 128 reached %d)\n",
                us[us.size() / 2], us[us.size() * 99 / 100], us.back(), us.size(), loudest);
    std::printf("peak memory (VmHWM): %ld kB before the engine, %ld kB after opening and playing (VmRSS now %ld kB)\n",
                baselineKb, statusKb("VmHWM:"), statusKb("VmRSS:"));
    int32_t elapsed = 0;
    std::printf("state %d, heard %.2f s after 3.2 s of playing\n", engine.vbmp3_getState(elapsed),
                engine.heardSeconds());
    engine.vbmp3_free();
    return 0;
}
