#include "XXSingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "XXPrivateCacheFolder.h"
#include "XXTool.h"

namespace {

const QByteArray kRaiseMessage = "raise\n";
// The first program may itself be starting: its socket follows its lock within a moment.
constexpr int kConnectTimeoutMs = 5000;

}  // namespace

XXSingleInstance::XXSingleInstance(QObject *parent) : QObject(parent) {}

XXSingleInstance::~XXSingleInstance()
{
    if (server_)
        server_->close();
    if (lockFd_ >= 0)
        close(lockFd_);
}

QString XXSingleInstance::baseNameFor(const QString &volumePath)
{
    const QString canonical = QFileInfo(volumePath).canonicalFilePath();
    const QString path = canonical.isEmpty() ? QDir::cleanPath(QDir(volumePath).absolutePath()) : canonical;
    const std::string folder = xxcache::applicationFolderPath();
    return QString::fromStdString(folder) + QStringLiteral("/volume-") +
        QString::fromStdString(XXTool::md5ForString(QFile::encodeName(path).toStdString()));
}

XXSingleInstance::Role XXSingleInstance::claim(const QString &volumePath)
{
    if (!xxcache::privateApplicationFolder())
        return role_ = Role::unguarded;
    const QString base = baseNameFor(volumePath);
    const QByteArray lockPath = QFile::encodeName(base + QStringLiteral(".lock"));
    lockFd_ = open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0)
        return role_ = Role::unguarded;
    const QString socketPath = base + QStringLiteral(".socket");
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        close(lockFd_);
        lockFd_ = -1;
        return role_ = handOver(socketPath);
    }
    // Whatever socket is there was left by a program that held the lock and ended.
    QLocalServer::removeServer(socketPath);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains(kRaiseMessage.trimmed()))
                    emit raiseRequested();
                peer->disconnectFromServer();
            });
        }
    });
    server_->listen(socketPath);
    return role_ = Role::first;
}

XXSingleInstance::Role XXSingleInstance::handOver(const QString &socketPath)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kConnectTimeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(kRaiseMessage);
            // Written is enough: the first program reads it from its loop.
            if (socket.waitForBytesWritten(1000))
                return Role::handedOver;
        }
        QThread::msleep(100);
    }
    return Role::unanswered;
}
