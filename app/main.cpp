// coffervale: the window. Options: --volume DIR runs on a plain folder as if it were a stick.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#include "XXAppDelegate.h"
#include "XXAppInfo.h"
#include "XXDiskFileManager.h"
#include "XXDiskTool.h"
#include "XXImages.h"
#include "XXQtRunLoop.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Coffervale"));
    QApplication::setApplicationVersion(xxappinfo::version());
    QApplication::setOrganizationName(QStringLiteral("Coffervale"));
    // Wayland's app id and the X11 class: what the desktop matches with coffervale.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("coffervale"));
    QApplication::setWindowIcon(xxplatform::applicationIcon());

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("An encrypted vault on a USB stick."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption volume(QStringList{QStringLiteral("volume")},
                                    QStringLiteral("Use the folder DIR as the volume that holds the vault."),
                                    QStringLiteral("DIR"));
    options.addOption(volume);
    options.process(app);

    XXQtRunLoop loop;
    XXDiskTool::installShared(loop, options.value(volume).toStdString());
    // Started now, so the volumes are known when the start screen asks a second later.
    XXDiskTool::shareDiskTool();

    XXDiskFileManager &manager = XXDiskFileManager::shareDiskFileManager();
    manager.setFileWatcherRunLoop(&loop);
    // The stick went away: the manager has logged out; quit through the normal path, which
    // clears our clipboard data and removes the caches.
    manager.setTerminationHandler([] {
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    });

    XXAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    manager.setFileWatcherRunLoop(nullptr);
    return status;
}
