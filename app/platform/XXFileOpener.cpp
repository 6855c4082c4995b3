#include "XXFileOpener.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#ifdef COFFERVALE_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#endif

namespace xxplatform {

namespace {

// An opener still running after this has started the application (some wait for it to
// quit): that counts as taken.
constexpr int launchGraceMs = 4000;

using Next = std::function<void(bool taken)>;

// Runs program with the file; taken when it exits with 0 or is still running after the grace
// time. The process belongs to the application, so a pane going away never kills a viewer.
void runOpenerProgram(const QString &program, const QStringList &arguments, Next next)
{
    const QString executable = QStandardPaths::findExecutable(program);
    if (executable.isEmpty()) {
        next(false);
        return;
    }
    auto *process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    auto answered = std::make_shared<bool>(false);
    auto answer = [answered, next](bool taken) {
        if (*answered)
            return;
        *answered = true;
        next(taken);
    };
    QObject::connect(process, &QProcess::finished, process, [process, answer](int code, QProcess::ExitStatus status) {
        answer(status == QProcess::NormalExit && code == 0);
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, answer](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            answer(false);
            process->deleteLater();
        }
    });
    QTimer::singleShot(launchGraceMs, process, [answer] { answer(true); });
    process->start(executable, arguments);
}

void askPortal(const QString &path, Next next)
{
#ifdef COFFERVALE_HAVE_DBUS
    // A connection of its own to the session bus named now (libdbus keeps the address it
    // read first); without one, the usual socket in the runtime folder, never an autolaunch.
    QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty()) {
        const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
        if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo::exists(socket))
            address = QStringLiteral("unix:path=") + socket;
    }
    if (address.isEmpty()) {
        next(false);
        return;
    }
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("coffervale-opener-%1").arg(++serial);
    QDBusConnection bus = QDBusConnection::connectToBus(address, name);
    auto finish = [name, next](bool taken) {
        QDBusConnection::disconnectFromBus(name);
        next(taken);
    };
    if (!bus.isConnected() || !(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        finish(false);
        return;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        finish(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenFile"));
    call << QString() << QVariant::fromValue(QDBusUnixFileDescriptor(fd)) << QVariantMap();
    ::close(fd);  // the message holds its own copy
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, finish](QDBusPendingCallWatcher *) {
                         // The portal answers with its request; the choice of program follows there.
                         finish(!watcher->isError());
                         watcher->deleteLater();
                     });
#else
    Q_UNUSED(path);
    next(false);
#endif
}

}  // namespace

void openWithDefaultApplication(QObject *context, const QString &path, std::function<void(XXOpener)> done)
{
    QPointer<QObject> guard(context);
    auto report = [guard, done](XXOpener opener) {
        if (guard && done)
            done(opener);
    };
    runOpenerProgram(QStringLiteral("xdg-open"), {path}, [path, report](bool taken) {
        if (taken) {
            report(XXOpener::xdgOpen);
            return;
        }
        askPortal(path, [path, report](bool taken) {
            if (taken) {
                report(XXOpener::portal);
                return;
            }
            runOpenerProgram(QStringLiteral("gio"), {QStringLiteral("open"), path}, [report](bool taken) {
                report(taken ? XXOpener::gio : XXOpener::none);
            });
        });
    });
}

}  // namespace xxplatform
