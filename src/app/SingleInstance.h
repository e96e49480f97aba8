#pragma once

#include <QString>

// Holds the program's one-instance lock for as long as it lives: an exclusive flock on a file in the
// user's runtime folder. The kernel drops the lock when the process ends, however it ends, so a
// killed instance never leaves a lock that blocks the next start.
class SingleInstance {
public:
    // folder empty: the one lockFolder() picks for this user.
    explicit SingleInstance(const QString &folder = QString());
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this process now holds the lock; false when another running instance does.
    bool acquire();

    // Empty where no folder is safe to lock in.
    QString lockPath() const { return path_; }
    // Where the lock's holder listens for later starts (InstanceChannel); empty without a lock folder.
    QString socketPath() const;

    // The user's runtime folder; without one, a folder of this user's own under temp; where that is
    // not safely theirs (another user made it, a link, open to others), one under the cache folder.
    static QString lockFolder(const QString &runtime, const QString &temp, const QString &cache);

private:
    QString path_;
    int fd_ = -1;
};
