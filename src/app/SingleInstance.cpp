#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A folder for this user alone: made if missing, and used only when it is a real folder (not a link),
// owned by this user, that no one else may enter. Another user could otherwise make it first and
// hold the lock in it, and the program would never start.
bool privateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    return ::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}
} // namespace

QString SingleInstance::lockFolder(const QString &runtime, const QString &temp, const QString &cache)
{
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime;
    const QString underTemp = temp + QStringLiteral("/voicebox-%1").arg(::getuid());
    if (privateFolder(underTemp))
        return underTemp;
    const QString underCache = cache + QStringLiteral("/voicebox");
    if (!cache.isEmpty() && QDir().mkpath(cache) && privateFolder(underCache))
        return underCache;
    return QString();
}

SingleInstance::SingleInstance(const QString &folder)
{
    const QString chosen = folder.isEmpty()
                               ? lockFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath(),
                                            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
                               : folder;
    if (!chosen.isEmpty())
        path_ = chosen + QStringLiteral("/voicebox.lock");
}

QString SingleInstance::socketPath() const
{
    if (path_.isEmpty())
        return {};
    return path_.left(path_.lastIndexOf(u'/')) + QStringLiteral("/voicebox.socket");
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool SingleInstance::acquire()
{
    if (fd_ >= 0 || path_.isEmpty()) // no safe place for a lock at all: run rather than refuse to start
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
