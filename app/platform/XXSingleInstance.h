// One program per vault and user. The first program on a volume holds a lock file named
// after the volume's canonical path in the user's private application folder and listens
// on a local socket beside it; a second start on the same volume finds the lock held, asks
// the first over the socket to show its window, and ends. Plain Unix sockets: the local
// socket of Qt's network module would bring Kerberos and proxy libraries into the bundle.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

class XXSingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        first,  // this program holds the vault; raiseRequested() comes when another starts
        handedOver,  // another program holds it and was asked to show itself
        unanswered,  // another program holds it but did not answer
        unguarded,  // no private folder for the lock: runs without the guard
    };

    explicit XXSingleInstance(QObject *parent = nullptr);
    ~XXSingleInstance() override;

    // Takes the volume (canonicalised; a folder that does not exist is taken as written).
    Role claim(const QString &volumePath);
    Role role() const { return role_; }
    // "<application folder>/volume-<md5 of the canonical path>", without an ending.
    static QString baseNameFor(const QString &volumePath);

signals:
    void raiseRequested();

private:
    Role handOver(const QByteArray &socketPath);
    bool listenOn(const QByteArray &socketPath);
    void acceptPeer();

    Role role_ = Role::unguarded;
    int lockFd_ = -1;
    int listenFd_ = -1;
    QByteArray socketPath_;
};
