#pragma once

#include <cstdint>

// The exact length of a regular MPEG layer III stream, counted from its frame headers without
// decoding: each frame must begin where the one before ends, all with the first frame's version,
// rate and channel count, and the stream must end with a whole frame (or an ID3v1 tag). Anything
// else (free format, bytes between frames, a change of rate, a cut-off last frame, layers I and II,
// an Info frame we cannot place) leaves sure false, and libmpg123 scans the file instead.
struct Mp3FrameCount {
    bool sure = false;
    int64_t frames = 0;  // audio frames; a leading Xing/Info frame is not one
    int64_t samples = 0; // per channel
    int rate = 0;
};

// Reads [begin, end) of fd in large blocks; begin is the first byte after any ID3v2 tags.
Mp3FrameCount countMp3Frames(int fd, int64_t begin, int64_t end);

// The length a Xing or Info header gives, only where the file bears it out: its byte count is the
// stream's size (up to an ID3v1 tag), its frame count fits in those bytes, a chain of frames stands at
// each of a few places its table of contents points to, and the frames walked between two of them are as
// many as the count gives that stretch, to within the table's own precision (about a tenth). Reads a
// tenth of the stream, where the walk reads all of it.
// A stream too short to check this way, or any doubt, leaves sure false: walk it with countMp3Frames.
Mp3FrameCount xingMp3Frames(int fd, int64_t begin, int64_t end);

// Where the audio begins: past any ID3v2 tags, which are skipped unparsed.
int64_t skipId3v2(int fd, int64_t size);
