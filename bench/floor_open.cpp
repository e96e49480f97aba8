// The open of a long MP3 from the disk, against the least it must cost: the same bytes read by a bare
// program, with the page cache dropped before each, turn about with the engine's own open.
//   floor_open ours <file>                    one open by the engine (run it under strace to see its reads)
//   floor_open reads <strace log> <file>      the reads of file in an strace log (-e trace=openat,read,
//                                             pread64,lseek,close), one open per line: offset:length,...
//   floor_open compare <file> <rounds> <reads...>
//                                             rounds of: drop the cache, the engine's open; drop the cache,
//                                             open the file and read those bytes; drop the cache, the
//                                             same reads cut to 4 kB each (a few frames at each place
//                                             looked at); the medians of each
// Dropping the page cache needs root; without it the figures are of warm reads, and say so.
#include "BenchTools.h"
#include "playback/engine/Vbmp3Engine.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

struct Read {
    int64_t offset;
    int64_t length;
};
using Opening = std::vector<Read>; // the reads made through one descriptor, in order

double ms(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double median(const std::vector<double> &v)
{
    return percentile(v, 0.5);
}

// Follows the descriptors of path through the log: where each read began and how much it returned.
std::vector<Opening> readsInLog(const char *logPath, const std::string &path)
{
    std::ifstream log(logPath);
    std::vector<Opening> openings;
    struct Open {
        size_t index;
        int64_t position;
    };
    std::map<int, Open> open;
    std::string line;
    while (std::getline(log, line)) {
        // strace -f puts the thread's id first.
        const size_t call = line.find_first_not_of("0123456789 ");
        const std::string text = line.substr(call == std::string::npos ? 0 : call);
        const size_t equals = text.rfind(") = ");
        if (equals == std::string::npos)
            continue;
        const long long result = std::atoll(text.c_str() + equals + 4);
        int fd = -1;
        if (text.rfind("openat(", 0) == 0) {
            if (text.find("\"" + path + "\"") != std::string::npos && result >= 0) {
                open[int(result)] = {openings.size(), 0};
                openings.emplace_back();
            }
            continue;
        }
        const auto field = [&](const char *name) {
            return text.rfind(name, 0) == 0 ? std::atoi(text.c_str() + std::strlen(name)) : -1;
        };
        if ((fd = field("close(")) >= 0) {
            open.erase(fd);
        } else if ((fd = field("lseek(")) >= 0 && open.count(fd) && result >= 0) {
            open[fd].position = result;
        } else if ((fd = field("read(")) >= 0 && open.count(fd) && result > 0) {
            openings[open[fd].index].push_back({open[fd].position, result});
            open[fd].position += result;
        } else if ((fd = field("pread64(")) >= 0 && open.count(fd) && result > 0) {
            const size_t comma = text.rfind(", ", equals);
            openings[open[fd].index].push_back({std::atoll(text.c_str() + comma + 2), result});
        }
    }
    return openings;
}

std::vector<Opening> parseReads(int count, char **args)
{
    std::vector<Opening> openings;
    for (int i = 0; i < count; ++i) {
        Opening opening;
        for (const char *p = args[i]; *p;) {
            char *end = nullptr;
            const long long offset = std::strtoll(p, &end, 10);
            const long long length = (*end == ':') ? std::strtoll(end + 1, &end, 10) : 0;
            if (length > 0)
                opening.push_back({offset, length});
            p = (*end == ',') ? end + 1 : (*end ? end + 1 : end);
        }
        openings.push_back(opening);
    }
    return openings;
}

// The bare open: the file opened as often as the engine opened it, each time the same reads.
bool bareRead(const char *path, const std::vector<Opening> &openings)
{
    std::vector<char> buffer;
    for (const Opening &opening : openings) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        for (const Read &read : opening) {
            buffer.resize(size_t(read.length));
            if (::pread(fd, buffer.data(), buffer.size(), read.offset) < 0) {
                ::close(fd);
                return false;
            }
        }
        ::close(fd);
    }
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "ours") == 0) {
        Vbmp3Engine engine(OutputKind::Silent);
        engine.vbmp3_init();
        TrackInfo info{};
        const auto start = Clock::now();
        const bool opened = engine.vbmp3_open(argv[2], info);
        std::printf("open: %.1f ms (%s, %d s)\n", ms(start), opened ? "opened" : "refused", info.TotalSeconds);
        engine.vbmp3_free();
        return opened ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "reads") == 0) {
        for (const Opening &opening : readsInLog(argv[2], argv[3])) {
            std::string list;
            for (const Read &read : opening)
                list += (list.empty() ? "" : ",") + std::to_string(read.offset) + ":" + std::to_string(read.length);
            std::printf("%s\n", list.empty() ? "0:0" : list.c_str());
        }
        return 0;
    }
    if (argc >= 5 && std::strcmp(argv[1], "compare") == 0) {
        const char *path = argv[2];
        const int rounds = std::max(1, std::atoi(argv[3]));
        const std::vector<Opening> openings = parseReads(argc - 4, argv + 4);
        int64_t bytes = 0;
        size_t reads = 0;
        for (const Opening &opening : openings) {
            reads += opening.size();
            for (const Read &read : opening)
                bytes += read.length;
        }
        Vbmp3Engine engine(OutputKind::Silent);
        engine.vbmp3_init();
        std::vector<Opening> fewFrames = openings;
        for (Opening &opening : fewFrames)
            for (Read &read : opening)
                read.length = std::min<int64_t>(read.length, 4096);
        std::vector<double> ours, bare, few;
        bool dropped = true;
        for (int round = 0; round < rounds; ++round) {
            dropped = dropPageCache() && dropped;
            TrackInfo info{};
            auto start = Clock::now();
            if (!engine.vbmp3_open(path, info)) {
                std::fprintf(stderr, "floor_open: the engine refused %s\n", path);
                return 1;
            }
            ours.push_back(ms(start));
            dropped = dropPageCache() && dropped;
            start = Clock::now();
            if (!bareRead(path, openings)) {
                std::fprintf(stderr, "floor_open: %s does not read\n", path);
                return 1;
            }
            bare.push_back(ms(start));
            dropped = dropPageCache() && dropped;
            start = Clock::now();
            if (!bareRead(path, fewFrames)) {
                std::fprintf(stderr, "floor_open: %s does not read\n", path);
                return 1;
            }
            few.push_back(ms(start));
        }
        std::string ourRuns, bareRuns, fewRuns;
        char text[32];
        for (int i = 0; i < rounds; ++i) {
            std::snprintf(text, sizeof text, "%s%.1f", i ? ", " : "", ours[size_t(i)]);
            ourRuns += text;
            std::snprintf(text, sizeof text, "%s%.1f", i ? ", " : "", bare[size_t(i)]);
            bareRuns += text;
            std::snprintf(text, sizeof text, "%s%.1f", i ? ", " : "", few[size_t(i)]);
            fewRuns += text;
        }
        std::printf("cold open: engine median %.1f ms (%s); bare read of the same %" PRId64
                    " bytes in %zu reads through %zu opens median %.1f ms (%s); the same reads cut to 4 kB median %.1f "
                    "ms (%s); %s\n",
                    median(ours), ourRuns.c_str(), bytes, reads, openings.size(), median(bare), bareRuns.c_str(),
                    median(few), fewRuns.c_str(),
                    dropped ? "page cache dropped before each" : "page cache NOT dropped: needs root");
        engine.vbmp3_free();
        return 0;
    }
    std::fprintf(stderr, "usage: floor_open ours <file> | reads <strace log> <file> | compare <file> <rounds> "
                         "<offset:length,...>...\n");
    return 2;
}
