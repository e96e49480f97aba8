#include "Mp3Frames.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {
struct FrameHeader {
    int version = 0; // 1 MPEG 1, 2 MPEG 2, 3 MPEG 2.5
    int rate = 0;
    bool mono = false;
    int bytes = 0;
    int samples = 0;
};

uint32_t be32(const unsigned char *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// A layer III header with a bit rate from the table; false for anything else, free format included.
bool parseLayer3(uint32_t h, FrameHeader &out)
{
    static const int kBitrates[2][16] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}, // MPEG 1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},     // MPEG 2 and 2.5
    };
    static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    if ((h & 0xFFE00000u) != 0xFFE00000u)
        return false;
    const unsigned versionBits = (h >> 19) & 3, layerBits = (h >> 17) & 3, bitrateIndex = (h >> 12) & 15,
                   rateIndex = (h >> 10) & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 || (h & 3) == 2)
        return false;
    out.version = versionBits == 3 ? 1 : (versionBits == 2 ? 2 : 3);
    const bool mpeg1 = out.version == 1;
    out.rate = kRates[out.version - 1][rateIndex];
    out.mono = ((h >> 6) & 3) == 3;
    const int kbps = kBitrates[mpeg1 ? 0 : 1][bitrateIndex];
    out.bytes = (mpeg1 ? 144000 : 72000) * kbps / out.rate + int((h >> 9) & 1);
    out.samples = mpeg1 ? 1152 : 576;
    return true;
}

bool sameStream(const FrameHeader &a, const FrameHeader &b)
{
    return a.version == b.version && a.rate == b.rate && a.mono == b.mono;
}

// Sequential reads through one large buffer: a 60-minute file takes a few hundred system calls.
class BlockReader {
public:
    BlockReader(int fd, int64_t end) : fd_(fd), end_(end), buffer_(kBlock) {}
    // n bytes at pos (n <= 256), or nullptr past the end or on a read error.
    const unsigned char *at(int64_t pos, int n)
    {
        if (pos < 0 || pos + n > end_)
            return nullptr;
        if (pos < start_ || pos + n > start_ + length_) {
            const int64_t want = std::min<int64_t>(kBlock, end_ - pos);
            ssize_t got;
            do
                got = ::pread(fd_, buffer_.data(), size_t(want), pos);
            while (got < 0 && errno == EINTR);
            if (got < n)
                return nullptr;
            start_ = pos;
            length_ = got;
        }
        return buffer_.data() + (pos - start_);
    }

private:
    static constexpr int64_t kBlock = 256 << 10;
    int fd_;
    int64_t end_;
    std::vector<unsigned char> buffer_;
    int64_t start_ = 0, length_ = 0;
};

enum class InfoFrame { No, Yes, Unsure };

// A Xing or Info tag where libmpg123 looks for it makes the first frame a header, not audio. Any sign
// of a tag elsewhere (two bytes later, a VBRI header) is a frame we cannot be sure of.
InfoFrame infoFrameKind(BlockReader &reader, int64_t pos, const FrameHeader &first)
{
    const int side = first.version == 1 ? (first.mono ? 17 : 32) : (first.mono ? 9 : 17);
    const unsigned char *frame = reader.at(pos, std::min(first.bytes, 64));
    if (!frame)
        return InfoFrame::Unsure;
    auto tagAt = [&](int offset) {
        return offset + 8 <= std::min(first.bytes, 64) &&
               (std::memcmp(frame + offset, "Xing", 4) == 0 || std::memcmp(frame + offset, "Info", 4) == 0);
    };
    const bool vbri = 4 + 32 + 4 <= std::min(first.bytes, 64) && std::memcmp(frame + 36, "VBRI", 4) == 0;
    if (vbri || tagAt(4 + side + 2))
        return InfoFrame::Unsure;
    // Encoders write the tag at the same place with or without a CRC after the header.
    if (!tagAt(4 + side))
        return InfoFrame::No;
    for (int i = 4 + 2; i < 4 + side; ++i)
        if (frame[i] != 0)
            return InfoFrame::Unsure; // side information of a real frame: not what an encoder writes there
    return InfoFrame::Yes;
}

// The smallest and largest frame of a stream like first: the lowest bit rate without padding, the
// highest with.
std::array<int, 2> frameBytesRange(const FrameHeader &first)
{
    const bool mpeg1 = first.version == 1;
    return {(mpeg1 ? 144000 * 32 : 72000 * 8) / first.rate, (mpeg1 ? 144000 * 320 : 72000 * 160) / first.rate + 1};
}

// The first frame at or after pos that begins a chain of four frames of the stream; -1 if none near.
int64_t frameNear(BlockReader &reader, int64_t pos, int64_t end, const FrameHeader &first)
{
    const int64_t limit = std::min<int64_t>(end, pos + 4 * frameBytesRange(first)[1]);
    for (int64_t at = pos; at < limit; ++at) {
        int64_t next = at;
        int chained = 0;
        for (; chained < 4; ++chained) {
            const unsigned char *p = reader.at(next, 4);
            FrameHeader frame;
            if (!p || !parseLayer3(be32(p), frame) || !sameStream(frame, first) || next + frame.bytes > end)
                break;
            next += frame.bytes;
        }
        if (chained == 4 || (chained > 0 && next == end))
            return at;
    }
    return -1;
}
} // namespace

Mp3FrameCount countMp3Frames(int fd, int64_t begin, int64_t end)
{
    Mp3FrameCount count;
    BlockReader reader(fd, end);
    const unsigned char *p = reader.at(begin, 4);
    FrameHeader first;
    if (!p || !parseLayer3(be32(p), first))
        return count;
    const InfoFrame info = infoFrameKind(reader, begin, first);
    if (info == InfoFrame::Unsure)
        return count;

    int64_t pos = begin;
    int64_t frames = 0, samples = 0;
    for (;;) {
        if (pos == end)
            break;
        const int64_t left = end - pos;
        if (left == 128) {
            p = reader.at(pos, 3);
            if (p && std::memcmp(p, "TAG", 3) == 0)
                break; // an ID3v1 tag closes the stream
        }
        p = reader.at(pos, 4);
        FrameHeader frame;
        if (!p || !parseLayer3(be32(p), frame) || !sameStream(frame, first) || frame.bytes > left)
            return count; // garbage, a new stream or a cut-off frame: libmpg123's own search decides
        ++frames;
        samples += frame.samples;
        pos += frame.bytes;
    }
    if (info == InfoFrame::Yes) {
        --frames;
        samples -= first.samples;
    }
    if (frames <= 0)
        return count;
    count.sure = true;
    count.frames = frames;
    count.samples = samples;
    count.rate = first.rate;
    return count;
}

Mp3FrameCount xingMp3Frames(int fd, int64_t begin, int64_t end)
{
    // Below this many frames a tenth of the stream is too short to check the count against; the walk
    // over so short a stream is quick anyway.
    constexpr int64_t kFewestFrames = 2000;
    Mp3FrameCount count;
    BlockReader reader(fd, end);
    const unsigned char *p = reader.at(begin, 4);
    FrameHeader first;
    if (!p || !parseLayer3(be32(p), first) || infoFrameKind(reader, begin, first) != InfoFrame::Yes)
        return count;
    const int side = first.version == 1 ? (first.mono ? 17 : 32) : (first.mono ? 9 : 17);
    const int tagBytes = 4 + 4 + 4 + 4 + 100; // name, flags, frames, bytes, table of contents
    if (4 + side + tagBytes > first.bytes)
        return count;
    const unsigned char *tag = reader.at(begin + 4 + side, tagBytes);
    if (!tag || (be32(tag + 4) & 7) != 7)
        return count;
    const int64_t frames = be32(tag + 8), bytes = be32(tag + 12);
    std::array<unsigned char, 100> toc; // copied: the reader's next block replaces what tag points into
    std::memcpy(toc.data(), tag + 16, toc.size());

    int64_t streamEnd = end;
    if (end - begin > 128 && (p = reader.at(end - 128, 3)) && std::memcmp(p, "TAG", 3) == 0)
        streamEnd = end - 128;
    const auto [smallest, largest] = frameBytesRange(first);
    const int64_t audioBytes = bytes - first.bytes;
    if (bytes != streamEnd - begin || frames < kFewestFrames || frames * smallest > audioBytes ||
        frames * largest < audioBytes)
        return count;
    for (int i = 1; i < 100; ++i)
        if (toc[i] < toc[i - 1])
            return count;

    // A frame where the table says each tenth of the time begins.
    auto placeOf = [&](int percent) { return begin + int64_t(toc[percent]) * bytes / 256; };
    for (int percent : {10, 30, 70, 90})
        if (frameNear(reader, placeOf(percent), streamEnd, first) < 0)
            return count;
    // From 45% to 55% of the time: a tenth of the frames, give or take what the table's steps of 1/256
    // of the stream leave open.
    const int64_t from = frameNear(reader, placeOf(45), streamEnd, first);
    const int64_t to = frameNear(reader, placeOf(55), streamEnd, first);
    if (from < 0 || to <= from)
        return count;
    int64_t walked = 0;
    for (int64_t pos = from; pos < to; ++walked) {
        FrameHeader frame;
        if (!(p = reader.at(pos, 4)) || !parseLayer3(be32(p), frame) || !sameStream(frame, first))
            return count;
        pos += frame.bytes;
    }
    // The table's places are rounded to 1/256 of the stream, and encoders place them from a sample of the
    // frames: lame's sit up to half a percent of the time off. So the stretch bears out the count to about
    // a tenth; a header further out than that is not believed.
    const double expected = double(frames) / 10;
    const double slack = double(bytes) / 256 / (double(to - from) / double(walked)) + expected / 10;
    if (std::abs(double(walked) - expected) > slack)
        return count;

    count.sure = true;
    count.frames = frames;
    count.samples = frames * first.samples;
    count.rate = first.rate;
    return count;
}

int64_t skipId3v2(int fd, int64_t size)
{
    int64_t pos = 0;
    for (int tags = 0; tags < 64; ++tags) {
        unsigned char h[10];
        if (pos + 10 > size || ::pread(fd, h, sizeof h, pos) != ssize_t(sizeof h))
            break;
        if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF ||
            ((h[6] | h[7] | h[8] | h[9]) & 0x80))
            break;
        const int64_t body = int64_t(h[6]) << 21 | int64_t(h[7]) << 14 | int64_t(h[8]) << 7 | h[9];
        pos += 10 + body + ((h[5] & 0x10) ? 10 : 0);
    }
    return pos;
}
