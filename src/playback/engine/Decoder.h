#pragma once

#include "AudioEngine.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// One open file decoded to interleaved stereo float at the file's own rate.
class Decoder {
public:
    virtual ~Decoder() = default;
    // Up to frames stereo frames into out; 0 at the end (or on an error that ends the stream).
    virtual size_t read(float *out, size_t frames) = 0;
    virtual bool rewind() = 0;
    int rate() const { return rate_; }

protected:
    int rate_ = 0;
};

struct OpenResult {
    std::unique_ptr<Decoder> decoder;
    EngineError error = ErrNone;
};

// Takes ownership of fd (closed on failure too); size is the file's size in bytes. Fills info on success.
OpenResult openDecoder(int fd, int64_t size, TrackInfo &info);

// Format-specific openers, chosen by openDecoder from the file's first bytes.
OpenResult openMp3(int fd, int64_t size, TrackInfo &info);
OpenResult openWav(int fd, int64_t size, TrackInfo &info);

// Writes text into a fixed, NUL-padded record field.
void setInfoText(char (&field)[128], const char *text);
