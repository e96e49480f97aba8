#pragma once

#include "AudioEngine.h"

#include <cstdint>
#include <string>

// An untrusted path opened as a descriptor only after it proved to be a regular, non-empty file.
// Never blocks: FIFOs, devices and sockets are refused before anything reads them.
struct GatedFile {
    int fd = -1;
    int64_t size = 0;
    EngineError error = ErrNone;
};

GatedFile openGated(const std::string &path);

// Owns a descriptor until it is handed over or dropped.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    int get() const { return fd_; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};
