// Feeds one input to the engine's open-and-decode path: the bytes become a file, the file is opened
// as the player would open it, every frame is decoded, then the stream is rewound and read again.
// Anything an open accepts must describe itself sanely; a violated rule aborts, so the fuzzer keeps it.

#include "playback/engine/Decoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {
// Bounds the decoding of inputs that claim hours (a few seconds of any rate).
constexpr size_t kMaxFrames = size_t(1) << 20;

void require(bool rule)
{
    if (!rule)
        std::abort();
}

bool terminated(const char (&field)[128])
{
    return std::memchr(field, 0, sizeof field) != nullptr;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0; // the engine refuses empty files before any decoder sees them
    const int fd = ::memfd_create("fuzz-open", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0) {
            ::close(fd);
            return 0;
        }
        written += size_t(n);
    }

    TrackInfo info;
    std::memset(&info, 0xA5, sizeof info); // an open that fails may leave it as it was; one that succeeds fills it
    OpenResult result = openDecoder(fd, int64_t(size), info); // takes the descriptor
    if (!result.decoder) {
        require(result.error != ErrNone);
        return 0;
    }
    require(result.error == ErrNone);
    require(terminated(info.Description1) && terminated(info.Description2));
    require(info.Channels >= 1 && info.Channels <= 8);
    require(info.SamplingRate >= 1000 && info.SamplingRate <= 768000);
    require(info.SamplingRate == result.decoder->rate());
    require(info.TotalSeconds >= 0);
    require(info.BitValue >= 0);

    std::vector<float> buffer(4096 * 2);
    for (int pass = 0; pass < 2; ++pass) {
        size_t total = 0;
        while (total < kMaxFrames) {
            const size_t got = result.decoder->read(buffer.data(), 4096);
            if (got == 0)
                break;
            require(got <= 4096);
            for (size_t i = 0; i < got * 2; ++i)
                require(buffer[i] >= -1.0f && buffer[i] <= 1.0f); // finite, and clipped by the mix
            total += got;
        }
        if (!result.decoder->rewind())
            break;
    }
    return 0;
}
