#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace {
QString runtimeFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QDir(xdg).exists())
        return xdg;
    // No runtime folder: a private one under the temporary folder.
    const QString folder = QDir::tempPath() + QStringLiteral("/voicebox-%1").arg(getuid());
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}
} // namespace

SingleInstance::SingleInstance(const QString &lockFolder)
    : path_((lockFolder.isEmpty() ? runtimeFolder() : lockFolder) + QStringLiteral("/voicebox.lock"))
{
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool SingleInstance::acquire()
{
    if (fd_ >= 0)
        return true;
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true; // no lock can be made here at all: run rather than refuse to start
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    fd_ = fd;
    // The owner's pid, for people and tests looking at the lock.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0)
        (void)!::write(fd_, pid.data(), pid.size());
    return true;
}
