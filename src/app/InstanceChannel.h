#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// The running program's door for later starts: a local socket beside the one-instance lock. A later
// start sends one request, "open" with a file or "raise", and waits for "ok".
class InstanceServer : public QObject {
    Q_OBJECT
public:
    explicit InstanceServer(QObject *parent = nullptr);
    ~InstanceServer() override;

    // Only the lock's holder listens, so a socket found there is a dead program's and is replaced.
    bool listen(const QString &socketPath);

signals:
    void openRequested(const QString &path);
    void raiseRequested();

private:
    void serve();
    QLocalServer *server_;
};

// From a later start: hands path (empty: just raise the windows) to the running program. False when it
// did not take the request within patienceMs, counted from the first try.
bool handToRunningInstance(const QString &socketPath, const QString &path, int patienceMs);

// The request's wire form and back; a path goes as its file-system bytes, percent-encoded, so any
// name (a newline in it, bytes that are not UTF-8) arrives whole.
QByteArray instanceRequest(const QString &path);
// False for anything that is not a whole request.
bool readInstanceRequest(const QByteArray &line, QString &path);
