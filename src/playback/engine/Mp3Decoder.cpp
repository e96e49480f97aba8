#include "Decoder.h"
#include "FileGate.h"
#include "Mp3Frames.h"
#include "SampleMix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mpg123.h>
#include <mutex>
#include <unistd.h>

namespace {
// libmpg123 reads through these, seeing the file as if it began after the ID3v2 tags.
struct Mp3Io {
    int fd;
    off_t base;
};

mpg123_ssize_t ioRead(void *handle, void *buf, size_t n)
{
    auto *io = static_cast<Mp3Io *>(handle);
    for (;;) {
        const ssize_t got = ::read(io->fd, buf, n);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

off_t ioSeek(void *handle, off_t offset, int whence)
{
    auto *io = static_cast<Mp3Io *>(handle);
    const off_t pos = ::lseek(io->fd, whence == SEEK_SET ? offset + io->base : offset, whence);
    if (pos < io->base)
        return -1;
    return pos - io->base;
}

struct Mp3Handle {
    mpg123_handle *mh = nullptr;
    Mp3Io io{};
    Mp3Handle(int fd, off_t base) : io{fd, base}
    {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        mh = mpg123_new(nullptr, nullptr);
        if (!mh)
            return;
        mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2 | MPG123_IGNORE_STREAMLENGTH, 0);
        // A frame of another rate must not be resampled into this stream: it ends the stream instead.
        mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0);
        if (mpg123_replace_reader_handle(mh, ioRead, ioSeek, nullptr) != MPG123_OK) {
            mpg123_delete(mh);
            mh = nullptr;
        }
    }
    ~Mp3Handle()
    {
        if (mh) {
            mpg123_close(mh);
            mpg123_delete(mh);
        }
    }
    Mp3Handle(const Mp3Handle &) = delete;
    Mp3Handle &operator=(const Mp3Handle &) = delete;
    bool open()
    {
        return mh && ::lseek(io.fd, io.base, SEEK_SET) == io.base && mpg123_open_handle(mh, &io) == MPG123_OK;
    }
};

const char *modeName(int mode)
{
    switch (mode) {
    case MPG123_M_STEREO:
        return "Stereo";
    case MPG123_M_JOINT:
        return "Joint Stereo";
    case MPG123_M_DUAL:
        return "Dual Channel";
    default:
        return "Mono";
    }
}

class Mp3Decoder : public Decoder {
public:
    Mp3Decoder(int fd, std::unique_ptr<Mp3Handle> handle, int rate) : fd_(fd), handle_(std::move(handle))
    {
        rate_ = rate;
    }

    size_t read(float *out, size_t frames) override
    {
        size_t done = 0;
        if (ended_)
            return 0;
        // NEW_FORMAT comes once after opening or seeking; a frame of another rate ends the stream there.
        for (int attempt = 0; attempt < 4; ++attempt) {
            const int rc = mpg123_read(handle_->mh, out, frames * 2 * sizeof(float), &done);
            if (rc == MPG123_NEW_FORMAT && !sameRate()) {
                ended_ = true;
                return 0;
            }
            if (rc == MPG123_NEW_FORMAT && done == 0)
                continue;
            if (rc != MPG123_OK && rc != MPG123_DONE && rc != MPG123_NEW_FORMAT && done == 0)
                return 0;
            break;
        }
        const size_t got = done / (2 * sizeof(float));
        mixToStereo(out, 2, got, out); // silences non-finite values a broken frame might give
        return got;
    }
    bool rewind() override
    {
        ended_ = false;
        return mpg123_seek(handle_->mh, 0, SEEK_SET) >= 0;
    }

private:
    bool sameRate() const
    {
        long rate = 0;
        int channels = 0, encoding = 0;
        return mpg123_getformat(handle_->mh, &rate, &channels, &encoding) == MPG123_OK && rate == rate_;
    }

    bool ended_ = false;
    UniqueFd fd_;
    std::unique_ptr<Mp3Handle> handle_;
};
} // namespace

OpenResult openMp3(int fdIn, int64_t size, TrackInfo &info)
{
    UniqueFd fd(fdIn);
    const int64_t base = skipId3v2(fd.get(), size);
    if (base >= size)
        return {nullptr, ErrNotAudio};

    // A first handle only learns the first frame's format.
    long rate = 0;
    int channels = 0, encoding = 0;
    {
        Mp3Handle probe(fd.get(), off_t(base));
        if (!probe.mh)
            return {nullptr, ErrCorrupt};
        if (!probe.open() || mpg123_getformat(probe.mh, &rate, &channels, &encoding) != MPG123_OK)
            return {nullptr, ErrNotAudio};
    }

    // The decoding handle gives stereo float at the stream's own rate, never resampled. Every rate is
    // accepted so that libmpg123 reports a frame of another rate (which ends the stream in read())
    // instead of complaining on the console that it cannot set up an output for it.
    auto handle = std::make_unique<Mp3Handle>(fd.get(), off_t(base));
    if (!handle->mh)
        return {nullptr, ErrCorrupt};
    mpg123_format_none(handle->mh);
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(handle->mh, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32);
    if (!handle->open())
        return {nullptr, ErrCorrupt};
    long gotRate = 0;
    int gotChannels = 0, gotEncoding = 0;
    mpg123_frameinfo frame{};
    if (mpg123_getformat(handle->mh, &gotRate, &gotChannels, &gotEncoding) != MPG123_OK || gotRate != rate ||
        gotChannels != 2 || gotEncoding != MPG123_ENC_FLOAT_32 || mpg123_info(handle->mh, &frame) != MPG123_OK)
        return {nullptr, ErrCorrupt};

    // The length comes from a Xing header the file bears out, else from counting every frame. Our own
    // walk over the headers is quick; libmpg123's scan, which reads frame by frame, takes what it cannot.
    Mp3FrameCount walked = xingMp3Frames(fd.get(), base, size);
    if (!walked.sure)
        walked = countMp3Frames(fd.get(), base, size);
    int64_t samples = 0;
    if (walked.sure && walked.rate == rate) {
        samples = walked.samples;
    } else {
        if (mpg123_scan(handle->mh) != MPG123_OK)
            return {nullptr, ErrCorrupt};
        samples = mpg123_length(handle->mh);
    }
    if (samples <= 0 || mpg123_seek(handle->mh, 0, SEEK_SET) < 0)
        return {nullptr, ErrCorrupt};

    const double seconds = double(samples) / double(rate);
    const long average = std::lround(double(size - base) * 8.0 / seconds / 1000.0);
    // A constant-rate stream reports its own rate; the average of a short file is skewed by its tags.
    const bool constant =
        frame.vbr == MPG123_CBR && std::labs(average - frame.bitrate) <= std::max(3L, long(frame.bitrate) / 10);

    std::memset(&info, 0, sizeof info);
    static const char *const versions[] = {"MPEG 1", "MPEG 2", "MPEG 2.5"};
    char description[128];
    std::snprintf(description, sizeof description, "%s Layer %d",
                  versions[frame.version >= 0 && frame.version <= 2 ? frame.version : 0], frame.layer);
    setInfoText(info.Description1, description);
    setInfoText(info.Description2, modeName(frame.mode));
    info.Channels = channels;
    info.SamplingRate = int32_t(rate);
    info.BitValue = int32_t(constant ? frame.bitrate : std::min(average, 100000L));
    info.TotalSeconds = int32_t(std::min<int64_t>(samples / rate, INT32_MAX));
    return {std::make_unique<Mp3Decoder>(fd.release(), std::move(handle), int(rate)), ErrNone};
}
