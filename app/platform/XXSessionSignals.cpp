#include "XXSessionSignals.h"

#ifdef COFFERVALE_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusMessage>

#include <unistd.h>
#endif

namespace {

#ifdef COFFERVALE_HAVE_DBUS
const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kLogindSession = QStringLiteral("org.freedesktop.login1.Session");
#endif

}  // namespace

XXSessionSignals::XXSessionSignals(QObject *parent) : QObject(parent)
{
    connectSystemBus();
    connectSessionBus();
}

void XXSessionSignals::prepareForSleep(bool start)
{
    if (start)
        emit lockRequested();
}

void XXSessionSignals::sessionLock()
{
    emit lockRequested();
}

void XXSessionSignals::screenSaverActiveChanged(bool active)
{
    if (active)
        emit lockRequested();
}

#ifdef COFFERVALE_HAVE_DBUS

void XXSessionSignals::connectSystemBus()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    if (bus.connect(kLogind, kLogindPath, kLogindManager, QStringLiteral("PrepareForSleep"), this,
                    SLOT(prepareForSleep(bool))))
        ++connected_;

    // Our session: the one the desktop named, else the one logind finds for this process.
    const QByteArray sessionId = qgetenv("XDG_SESSION_ID");
    QDBusMessage ask = sessionId.isEmpty()
        ? QDBusMessage::createMethodCall(kLogind, kLogindPath, kLogindManager,
                                         QStringLiteral("GetSessionByPID"))
        : QDBusMessage::createMethodCall(kLogind, kLogindPath, kLogindManager, QStringLiteral("GetSession"));
    if (sessionId.isEmpty())
        ask << quint32(getpid());
    else
        ask << QString::fromUtf8(sessionId);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (!reply.isError())
            connectSessionLock(reply.value().path());
        call->deleteLater();
    });
}

void XXSessionSignals::connectSessionLock(const QString &sessionPath)
{
    if (QDBusConnection::systemBus().connect(kLogind, sessionPath, kLogindSession, QStringLiteral("Lock"),
                                             this, SLOT(sessionLock())))
        ++connected_;
}

void XXSessionSignals::connectSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // KDE and others offer the freedesktop name at either path; GNOME its own.
    const struct {
        const char *service, *path, *interface;
    } savers[] = {
        {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
        {"org.freedesktop.ScreenSaver", "/ScreenSaver", "org.freedesktop.ScreenSaver"},
        {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
    };
    for (const auto &saver : savers)
        if (bus.connect(QString::fromLatin1(saver.service), QString::fromLatin1(saver.path),
                        QString::fromLatin1(saver.interface), QStringLiteral("ActiveChanged"), this,
                        SLOT(screenSaverActiveChanged(bool))))
            ++connected_;
}

#else

void XXSessionSignals::connectSystemBus() {}
void XXSessionSignals::connectSessionLock(const QString &) {}
void XXSessionSignals::connectSessionBus() {}

#endif
