#include "FileGate.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
EngineError errorFromErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
        return ErrNotFound;
    case ENXIO:  // a socket or a FIFO end without a partner
    case ENODEV: // a device node without a driver
        return ErrNotRegular;
    default:
        return ErrUnreadable;
    }
}
} // namespace

UniqueFd::~UniqueFd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

GatedFile openGated(const std::string &path)
{
    GatedFile result;
    if (path.empty()) {
        result.error = ErrNotFound;
        return result;
    }
    // Looking first keeps us from even opening a device node (some act on open).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result.error = errorFromErrno(errno);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = ErrNotRegular;
        return result;
    }
    // The path may be swapped between stat and open: the descriptor is checked again, and only it is read.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        result.error = errorFromErrno(errno);
        return result;
    }
    if (::fstat(fd.get(), &st) != 0) {
        result.error = ErrUnreadable;
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = ErrNotRegular;
        return result;
    }
    if (st.st_size <= 0) {
        result.error = ErrEmpty;
        return result;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        result.error = ErrUnreadable;
        return result;
    }
    // A permission that lets open succeed but not read (rare: e.g. a directory-like special file) shows here.
    char probe;
    if (::pread(fd.get(), &probe, 1, 0) != 1) {
        result.error = ErrUnreadable;
        return result;
    }
    result.size = st.st_size;
    result.fd = fd.release();
    return result;
}
