#include "InstanceChannel.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {
const QByteArray kOpen = QByteArrayLiteral("open ");
const QByteArray kRaise = QByteArrayLiteral("raise\n");
const QByteArray kTaken = QByteArrayLiteral("ok\n");
constexpr int kRetryMs = 50;
constexpr qint64 kLongestRequest = 64 * 1024;
} // namespace

QByteArray instanceRequest(const QString &path)
{
    if (path.isEmpty())
        return kRaise;
    return kOpen + QFile::encodeName(path).toPercentEncoding() + '\n';
}

bool readInstanceRequest(const QByteArray &line, QString &path)
{
    path.clear();
    if (line == kRaise)
        return true;
    if (!line.startsWith(kOpen) || !line.endsWith('\n') || line.size() <= kOpen.size() + 1)
        return false;
    path = QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(kOpen.size(), line.size() - kOpen.size() - 1)));
    return true;
}

InstanceServer::InstanceServer(QObject *parent) : QObject(parent), server_(new QLocalServer(this))
{
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::serve);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listen(const QString &socketPath)
{
    QLocalServer::removeServer(socketPath);
    return server_->listen(socketPath);
}

void InstanceServer::serve()
{
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kLongestRequest)
                    socket->abort();
                return;
            }
            QString path;
            const bool whole = readInstanceRequest(socket->readLine(kLongestRequest), path);
            if (whole)
                socket->write(kTaken);
            socket->disconnectFromServer();
            if (!whole)
                return;
            if (path.isEmpty())
                emit raiseRequested();
            else
                emit openRequested(path);
        });
    }
}

bool handToRunningInstance(const QString &socketPath, const QString &path, int patienceMs)
{
    const QDeadlineTimer deadline(patienceMs);
    const QByteArray request = instanceRequest(path);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (!socket.waitForConnected(int(deadline.remainingTime()))) {
            // Not listening yet: the running program is still starting.
            QThread::msleep(kRetryMs);
            continue;
        }
        socket.write(request);
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
        while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
        }
        return socket.canReadLine() && socket.readLine() == kTaken;
    }
    return false;
}
