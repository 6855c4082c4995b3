#include "XXSingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "XXPrivateCacheFolder.h"
#include "XXTool.h"

namespace {

const QByteArray kRaiseMessage = "raise\n";
// The first program may itself be starting: its socket follows its lock within a moment.
constexpr int kConnectTimeoutMs = 5000;

bool addressFor(const QByteArray &path, sockaddr_un &address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

}  // namespace

XXSingleInstance::XXSingleInstance(QObject *parent) : QObject(parent) {}

XXSingleInstance::~XXSingleInstance()
{
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(socketPath_.constData());
    }
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
    const QByteArray socketPath = QFile::encodeName(base + QStringLiteral(".socket"));
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        close(lockFd_);
        lockFd_ = -1;
        return role_ = handOver(socketPath);
    }
    return role_ = listenOn(socketPath) ? Role::first : Role::unguarded;
}

bool XXSingleInstance::listenOn(const QByteArray &socketPath)
{
    sockaddr_un address;
    if (!addressFor(socketPath, address))
        return false;
    // Whatever socket is there was left by a program that held the lock and ended.
    unlink(socketPath.constData());
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        chmod(socketPath.constData(), 0600) != 0 || listen(listenFd_, 4) != 0) {
        if (listenFd_ >= 0)
            close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socketPath_ = socketPath;
    auto *notifier = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &XXSingleInstance::acceptPeer);
    return true;
}

void XXSingleInstance::acceptPeer()
{
    const int peer = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (peer < 0)
        return;
    auto *reader = new QSocketNotifier(peer, QSocketNotifier::Read, this);
    connect(reader, &QSocketNotifier::activated, this, [this, reader, peer] {
        char message[16];
        const ssize_t got = read(peer, message, sizeof message);
        if (got > 0 && QByteArray(message, int(got)).startsWith(kRaiseMessage.trimmed()))
            emit raiseRequested();
        reader->setEnabled(false);
        reader->deleteLater();
        close(peer);
    });
}

XXSingleInstance::Role XXSingleInstance::handOver(const QByteArray &socketPath)
{
    sockaddr_un address;
    if (!addressFor(socketPath, address))
        return Role::unanswered;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kConnectTimeoutMs) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            const bool sent = write(fd, kRaiseMessage.constData(), std::size_t(kRaiseMessage.size())) ==
                kRaiseMessage.size();
            close(fd);
            if (sent)
                return Role::handedOver;
        } else if (fd >= 0) {
            close(fd);
        }
        QThread::msleep(100);
    }
    return Role::unanswered;
}
