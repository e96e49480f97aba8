#pragma once

#include <QString>

// Holds the program's one-instance lock for as long as it lives: an exclusive flock on a file in the
// user's runtime folder. The kernel drops the lock when the process ends, however it ends, so a
// killed instance never leaves a lock that blocks the next start.
class SingleInstance {
public:
    // lockFolder empty: the user's runtime folder.
    explicit SingleInstance(const QString &lockFolder = QString());
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this process now holds the lock; false when another running instance does.
    bool acquire();

    QString lockPath() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
};
