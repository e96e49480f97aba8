#include "SingleInstance.h"

#include <QDir>
#include <QStandardPaths>
#include <unistd.h>

namespace {
QString runtimeFolder()
{
    // Qt warns on the console when XDG_RUNTIME_DIR is unset; fall back quietly to a private temp folder.
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
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

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    if (lock_ && lock_->isLocked())
        return true;
    lock_ = std::make_unique<QLockFile>(path_);
    // Stale only when the owner process is gone; a long-running instance must keep its lock.
    lock_->setStaleLockTime(0);
    return lock_->tryLock(0);
}
