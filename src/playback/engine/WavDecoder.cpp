#include "Decoder.h"
#include "FileGate.h"
#include "SampleMix.h"

#include <cstring>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr uint16_t kTagPcm = 1, kTagFloat = 3, kTagAlaw = 6, kTagMulaw = 7, kTagExtensible = 0xFFFE;

uint16_t le16(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct WavFormat {
    uint16_t tag = 0; // the effective codec: the sub-format for WAVE_FORMAT_EXTENSIBLE
    bool extensible = false;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
};

// Reads the fmt chunk ourselves so that libsndfile never parses a codec we refuse (its ADPCM and GSM
// paths are where its WAV faults have been).
EngineError readWavFormat(int fd, int64_t size, WavFormat &fmt)
{
    unsigned char head[12];
    if (::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head))
        return ErrCorrupt;
    if (std::memcmp(head, "RIFF", 4) != 0)
        return ErrUnsupported; // RIFX (big-endian) and RF64 are not wave files we play
    if (std::memcmp(head + 8, "WAVE", 4) != 0)
        return ErrNotAudio;
    int64_t pos = 12;
    for (int chunks = 0; chunks < 256 && pos + 8 <= size; ++chunks) {
        unsigned char chunk[8];
        if (::pread(fd, chunk, sizeof chunk, pos) != ssize_t(sizeof chunk))
            return ErrCorrupt;
        const uint32_t chunkSize = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (chunkSize < 16)
                return ErrCorrupt;
            unsigned char body[40] = {};
            const size_t want = chunkSize >= 40 ? 40 : 16;
            if (::pread(fd, body, want, pos + 8) != ssize_t(want))
                return ErrCorrupt;
            fmt.tag = le16(body);
            fmt.channels = le16(body + 2);
            fmt.rate = le32(body + 4);
            fmt.blockAlign = le16(body + 12);
            fmt.bits = le16(body + 14);
            if (fmt.tag == kTagExtensible) {
                static const unsigned char guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
                if (chunkSize < 40 || std::memcmp(body + 26, guidTail, sizeof guidTail) != 0)
                    return ErrUnsupported;
                fmt.extensible = true;
                fmt.tag = le16(body + 24);
            }
            return ErrNone;
        }
        if (std::memcmp(chunk, "data", 4) == 0)
            return ErrCorrupt; // audio before its format
        pos += 8 + int64_t(chunkSize) + (chunkSize & 1);
    }
    return ErrCorrupt;
}

EngineError checkFormat(const WavFormat &fmt)
{
    if (fmt.channels < 1 || fmt.channels > 8 || fmt.rate < 1000 || fmt.rate > 768000)
        return ErrUnsupported;
    bool bitsOk = false;
    switch (fmt.tag) {
    case kTagPcm:
        bitsOk = fmt.bits == 8 || fmt.bits == 16 || fmt.bits == 24 || fmt.bits == 32;
        break;
    case kTagFloat:
        bitsOk = fmt.bits == 32 || fmt.bits == 64;
        break;
    case kTagAlaw:
    case kTagMulaw:
        bitsOk = fmt.bits == 8;
        break;
    default:
        return ErrUnsupported; // ADPCM, GSM and every other codec
    }
    if (!bitsOk || fmt.blockAlign != fmt.channels * fmt.bits / 8)
        return ErrUnsupported;
    return ErrNone;
}

const char *formatName(uint16_t tag)
{
    switch (tag) {
    case kTagFloat:
        return "WAVE_FORMAT_IEEE_FLOAT";
    case kTagAlaw:
        return "WAVE_FORMAT_ALAW";
    case kTagMulaw:
        return "WAVE_FORMAT_MULAW";
    default:
        return "WAVE_FORMAT_PCM";
    }
}

bool subtypeMatches(int sfFormat, const WavFormat &fmt)
{
    const int sub = sfFormat & SF_FORMAT_SUBMASK;
    switch (fmt.tag) {
    case kTagPcm:
        return sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32;
    case kTagFloat:
        return sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
    case kTagAlaw:
        return sub == SF_FORMAT_ALAW;
    case kTagMulaw:
        return sub == SF_FORMAT_ULAW;
    default:
        return false;
    }
}

class WavDecoder : public Decoder {
public:
    WavDecoder(int fd, SNDFILE *file, int channels, int rate) : fd_(fd), file_(file), channels_(channels)
    {
        rate_ = rate;
    }
    ~WavDecoder() override { sf_close(file_); }

    size_t read(float *out, size_t frames) override
    {
        scratch_.resize(frames * size_t(channels_));
        const sf_count_t got = sf_readf_float(file_, scratch_.data(), sf_count_t(frames));
        if (got <= 0)
            return 0;
        mixToStereo(scratch_.data(), channels_, size_t(got), out);
        return size_t(got);
    }
    bool rewind() override { return sf_seek(file_, 0, SEEK_SET) == 0; }

private:
    UniqueFd fd_; // closed after sf_close, which was told not to close it
    SNDFILE *file_;
    int channels_;
    std::vector<float> scratch_;
};
} // namespace

OpenResult openWav(int fdIn, int64_t size, TrackInfo &info)
{
    UniqueFd fd(fdIn);
    WavFormat fmt;
    if (EngineError err = readWavFormat(fd.get(), size, fmt); err != ErrNone)
        return {nullptr, err};
    if (EngineError err = checkFormat(fmt); err != ErrNone)
        return {nullptr, err};
    if (::lseek(fd.get(), 0, SEEK_SET) != 0)
        return {nullptr, ErrUnreadable};
    SF_INFO sfInfo{};
    SNDFILE *file = sf_open_fd(fd.get(), SFM_READ, &sfInfo, SF_FALSE);
    if (!file)
        return {nullptr, ErrCorrupt};
    const int major = sfInfo.format & SF_FORMAT_TYPEMASK;
    if ((major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) || !subtypeMatches(sfInfo.format, fmt) ||
        sfInfo.channels != fmt.channels || sfInfo.samplerate != int(fmt.rate) || sfInfo.frames < 0 ||
        !sfInfo.seekable) {
        sf_close(file);
        return {nullptr, ErrCorrupt};
    }
    // The data chunk may claim more than the file holds; the length is what the file can hold.
    int64_t frames = sfInfo.frames;
    const int64_t fileFrames = size / fmt.blockAlign;
    if (frames > fileFrames)
        frames = fileFrames;

    std::memset(&info, 0, sizeof info);
    const bool integerPcm = fmt.tag == kTagPcm;
    if (fmt.extensible && !integerPcm) {
        setInfoText(info.Description1, "WAVE_FORMAT_EXTENSIBLE");
        setInfoText(info.Description2, formatName(fmt.tag));
    } else {
        setInfoText(info.Description1, formatName(fmt.tag));
        setInfoText(info.Description2, formatName(fmt.tag));
    }
    info.Channels = fmt.channels;
    info.SamplingRate = int32_t(fmt.rate);
    info.BitValue = integerPcm ? fmt.bits : int32_t((int64_t(fmt.rate) * fmt.channels * fmt.bits + 500) / 1000);
    info.TotalSeconds = int32_t(frames / fmt.rate);
    return {std::make_unique<WavDecoder>(fd.release(), file, fmt.channels, int(fmt.rate)), ErrNone};
}
