#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// Holds the program's one-instance lock for as long as it lives. The lock is a file in the user's
// runtime folder; a lock whose owner has died counts as stale and is taken over.
class SingleInstance {
public:
    // lockFolder empty: the user's runtime folder.
    explicit SingleInstance(const QString &lockFolder = QString());
    ~SingleInstance();

    // True when this process now holds the lock; false when another running instance does.
    bool acquire();

    QString lockPath() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};
