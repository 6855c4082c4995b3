// coffervale: the window. Options: --volume DIR runs on a plain folder as if it were a stick;
// --self-test checks a bundle on a new computer without showing a window.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QImageReader>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "XXAppDelegate.h"
#include "XXAppInfo.h"
#include "XXDiskCheck.h"
#include "XXDiskFileManager.h"
#include "XXDiskTool.h"
#include "XXImages.h"
#include "XXQtRunLoop.h"
#include "XXResources.h"
#include "XXSelectionTimeGuard.h"
#include "XXSingleInstance.h"
#include "XXTerminationSignals.h"
#include "XXTexts.h"

// The volume the start screen will open, as the self-test finds it: the monitor reports from
// the event loop, within a second.
static std::optional<std::string> volumeToOpen()
{
    const XXVolumeSource &source = XXVolumeSource::current();
    QElapsedTimer waited;
    waited.start();
    while (!source.loadedDisk() && waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const auto disks = source.loadedDisk();
    return disks ? chooseVolume(*disks, source.appRunPath()) : std::nullopt;
}

// The platform plugin has loaded by now (QApplication exists); this checks the SVG plugin and
// the resources through the icon, then picks the volume as the start screen does. Nothing is
// opened or written. Prints the volume's path and returns 0, or says why not and returns 1.
static int runSelfTest()
{
    const XXVolumeSource &source = XXVolumeSource::current();
    const auto volume = volumeToOpen();
    const std::string runPath = source.appRunPath();
    std::fprintf(stderr, "coffervale: platform %s, runs from %s, resources %s\n",
                 qPrintable(QGuiApplication::platformName()), runPath.c_str(),
                 xxtool::resourcesDirectory().c_str());
    // SVG draws the window's images; JPEG and GIF are what most photo thumbnails need.
    for (const char *format : {"svg", "jpeg", "gif"}) {
        if (!QImageReader::supportedImageFormats().contains(format)) {
            std::fprintf(stderr, "coffervale: self-test failed: the %s image plugin did not load\n", format);
            return 1;
        }
    }
    if (QApplication::windowIcon().pixmap(64).isNull()) {
        std::fputs("coffervale: self-test failed: the icon is missing from the resources\n", stderr);
        return 1;
    }
    if (!volume) {
        std::fputs("coffervale: self-test failed: no volume qualifies (a USB volume of at least 4 GB under "
                   "/media or /run/media, the volume the program runs from, or --volume DIR)\n",
                   stderr);
        return 1;
    }
    std::printf("%s\n", volume->c_str());
    return 0;
}

// A bundle keeps its Qt plugins in plugins/ beside bin/ and loads only those: the computer's
// own are built for another Qt. Set here, before the platform plugin is chosen, rather than
// through QT_PLUGIN_PATH, which the programs that open files from the window would inherit.
static void useBundledPlugins()
{
    const std::filesystem::path plugins =
        std::filesystem::path(XXDiskTool::getAppRunPath()).parent_path() / "plugins";
    std::error_code ec;
    if (std::filesystem::is_directory(plugins / "platforms", ec))
        QCoreApplication::setLibraryPaths({QString::fromStdString(plugins.string())});
}

// The self-test must run where no display can be reached (a terminal, a login over ssh):
// there it checks on the offscreen platform, and a display that does not answer falls back
// to it instead of aborting. A platform the user chose is left alone.
static void letSelfTestRunWithoutDisplay(int argc, char *argv[])
{
    bool selfTest = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0)
            return;
        selfTest = selfTest || std::strcmp(argv[i], "--self-test") == 0;
    }
    if (!selfTest || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    QByteArray platforms;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        platforms += "wayland;";
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        platforms += "xcb;";
    qputenv("QT_QPA_PLATFORM", platforms + "offscreen");
}

int main(int argc, char *argv[])
{
    letSelfTestRunWithoutDisplay(argc, argv);
    useBundledPlugins();
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
    const QCommandLineOption selfTest(
        QStringList{QStringLiteral("self-test")},
        QStringLiteral("Print the volume the window would open, show nothing."));
    options.addOption(selfTest);
    options.process(app);

    XXQtRunLoop loop;
    XXDiskTool::installShared(loop, options.value(volume).toStdString());
    // Started now, so the volumes are known when the start screen asks a second later.
    XXDiskTool::shareDiskTool();
    if (options.isSet(selfTest))
        return runSelfTest();

    XXSelectionTimeGuard::installOnX11();
    xxplatform::quitOnTerminationSignals();

    // One program per vault: a second start shows the first one's window instead.
    XXSingleInstance instance;
    if (const auto volume = volumeToOpen()) {
        switch (instance.claim(QString::fromStdString(*volume))) {
        case XXSingleInstance::Role::handedOver:
            std::fprintf(stderr, "coffervale: %s is open in another window, shown instead\n", volume->c_str());
            return 0;
        case XXSingleInstance::Role::unanswered:
            QMessageBox::warning(nullptr, xxplatform::windowTitle(), xxplatform::text("String_242"));
            return 1;
        case XXSingleInstance::Role::first:
        case XXSingleInstance::Role::unguarded:
            break;
        }
    }

    XXDiskFileManager &manager = XXDiskFileManager::shareDiskFileManager();
    manager.setFileWatcherRunLoop(&loop);
    // The stick went away: the manager has logged out; quit through the normal path, which
    // clears our clipboard data and removes the caches.
    manager.setTerminationHandler([] {
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    });

    XXAppDelegate delegate;
    QObject::connect(&instance, &XXSingleInstance::raiseRequested, &delegate, &XXAppDelegate::bringToFront);
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    manager.setFileWatcherRunLoop(nullptr);
    return status;
}
