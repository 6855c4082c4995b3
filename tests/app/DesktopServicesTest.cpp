// What the program asks of the desktop: opening a file with its default application through
// whichever opener the computer has, Qt's own dialogs in the chosen language, and windows
// placed over the window they belong to.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>

#include <climits>
#include <unistd.h>

#if __has_include(<QDBusConnection>)
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#define HAVE_QT_DBUS 1
#endif

#include "AppTestSupport.h"
#include "ScopedEnv.h"
#include "XXFileOpener.h"
#include "XXQtTranslations.h"
#include "XXStoryboard.h"
#include "XXWindowPlacement.h"

using apptest::waitFor;
using xxplatform::XXOpener;
namespace fs = std::filesystem;

namespace {

class FileOpenerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(bin_);
        std::ofstream(file_) << "a document";
        env_.set("PATH", bin_.string());
        // No session bus at all (and no autolaunch of one).
        env_.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir_ / "no-bus"));
    }
    // A stand-in opener that notes its arguments and exits with code.
    void addProgram(const std::string &name, int code)
    {
        const fs::path script = bin_ / name;
        std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> '" << (dir_ / name) << ".calls'\nexit " << code
                              << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }
    // The arguments of every call since the last look.
    std::string callsOf(const std::string &name) const
    {
        const std::string path = dir_ / (name + ".calls");
        std::ifstream in(path);
        std::string calls(std::istreambuf_iterator<char>(in), {});
        fs::remove(path);
        return calls;
    }
    std::optional<XXOpener> open()
    {
        QObject context;
        std::optional<XXOpener> taken;
        xxplatform::openWithDefaultApplication(&context, QString::fromStdString(file_.string()),
                                               [&](XXOpener opener) { taken = opener; });
        waitFor([&] { return taken.has_value(); }, 10000);
        return taken;
    }

    TempDir dir_;
    const fs::path bin_ = dir_ / "bin";
    const fs::path file_ = dir_ / "report.txt";
    ScopedEnv env_;
};

}  // namespace

TEST_F(FileOpenerTest, EachOpenerIsTriedInTurnAndNoneAnsweringIsSaid)
{
    const std::string path = file_.string() + "\n";
    EXPECT_EQ(open(), XXOpener::none) << "no xdg-open, no portal, no gio";
    addProgram("xdg-open", 3);  // present, but finds no way to open it
    addProgram("gio", 0);
    EXPECT_EQ(open(), XXOpener::gio);
    EXPECT_EQ(callsOf("xdg-open") + callsOf("gio"), path + "open " + path);
    addProgram("xdg-open", 0);
    EXPECT_EQ(open(), XXOpener::xdgOpen);
    EXPECT_EQ(callsOf("gio"), "") << "not asked once xdg-open took it";
}

#ifdef HAVE_QT_DBUS
namespace {

// The desktop portal's OpenURI, as far as the opener uses it: notes which file it was handed.
class FakePortal final : public QDBusVirtualObject {
public:
    std::string openedPath;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != "org.freedesktop.portal.OpenURI" || message.member() != "OpenFile")
            return false;
        const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(message.arguments().value(1));
        char link[PATH_MAX] = {};
        const std::string proc = "/proc/self/fd/" + std::to_string(fd.fileDescriptor());
        if (readlink(proc.c_str(), link, sizeof link - 1) > 0)
            openedPath = link;
        connection.send(message.createReply(
            QVariant::fromValue(QDBusObjectPath("/org/freedesktop/portal/desktop/request/1/opener"))));
        return true;
    }
};

}  // namespace

TEST_F(FileOpenerTest, WithoutXdgOpenTheDesktopPortalIsHandedTheFile)
{
    if (QStandardPaths::findExecutable("dbus-daemon", {"/usr/bin", "/bin"}).isEmpty() ||
        !QDBusUnixFileDescriptor::isSupported())
        GTEST_SKIP() << "needs dbus-daemon";
    QProcess daemon;
    daemon.start("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForStarted());
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    {
        QDBusConnection portalSide = QDBusConnection::connectToBus(address, "fake-portal");
        ASSERT_TRUE(portalSide.isConnected());
        FakePortal portal;
        ASSERT_TRUE(portalSide.registerVirtualObject("/org/freedesktop/portal/desktop", &portal));
        ASSERT_TRUE(portalSide.registerService("org.freedesktop.portal.Desktop"));
        env_.set("DBUS_SESSION_BUS_ADDRESS", address.toStdString());
        addProgram("gio", 0);

        EXPECT_EQ(open(), XXOpener::portal);
        EXPECT_EQ(portal.openedPath, fs::canonical(file_).string());
        EXPECT_EQ(callsOf("gio"), "") << "the portal took it";
        portalSide.unregisterObject("/org/freedesktop/portal/desktop");
    }
    QDBusConnection::disconnectFromBus("fake-portal");
    daemon.kill();
    daemon.waitForFinished();
}
#endif

TEST(QtTranslations, QtsOwnDialogsFollowTheChosenLanguage)
{
    const QString lookIn = QStringLiteral("Look in:");
    const auto translated = [&] { return QCoreApplication::translate("QFileDialog", "Look in:"); };
    if (!XXAppDelegate::shared())
        new XXAppDelegate(qApp);
    XXTool::shareTool().setLanguageName("zh-Hans");
    XXAppDelegate::shared()->reSetPageLanguage();
    EXPECT_NE(translated(), lookIn) << "Qt's catalog (qt6-translations-l10n) was not loaded";
    XXTool::shareTool().setLanguageName("en");
    XXAppDelegate::shared()->reSetPageLanguage();
    EXPECT_EQ(translated(), lookIn);

    // A bundle's own catalogs, beside its bin folder, come before the system's.
    const QStringList directories = xxplatform::qtTranslationDirectories();
    EXPECT_EQ(directories, (QStringList{QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../translations"),
                                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)}));
    TempDir bundled;
    ASSERT_TRUE(QFile::copy(directories.back() + "/qtbase_zh_CN.qm", QString::fromStdString(bundled / "qtbase_zh_CN.qm")));
    EXPECT_TRUE(xxplatform::useQtTranslations("zh-Hans", {QString::fromStdString(bundled.path())}));
    EXPECT_NE(translated(), lookIn);
    EXPECT_FALSE(xxplatform::useQtTranslations("zh-Hans", {"/nowhere"}));
    EXPECT_EQ(translated(), lookIn) << "the old catalog does not linger";
    xxplatform::useQtTranslations("en");
}

TEST(WindowPlacement, WindowsOpenCentredOnTheirOwnerAndWholeOnTheScreen)
{
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(xxplatform::centredGeometry({400, 300}, {100, 100, 800, 600}, screen), QRect(300, 250, 400, 300));
    EXPECT_EQ(xxplatform::centredGeometry({400, 300}, {1000, 600, 400, 300}, screen), QRect(880, 500, 400, 300))
        << "pushed back inside";
    EXPECT_EQ(xxplatform::centredGeometry({1500, 900}, {0, 0, 200, 200}, screen), screen) << "shrunk to fit";

    if (!XXAppDelegate::shared())
        new XXAppDelegate(qApp);
    QWidget owner;
    owner.setGeometry(120, 90, 900, 600);
    owner.show();
    for (const char *identifier : {"XXChangePWWindowController", "aboutUs", "XXAgreeProtocalWindow"}) {
        SCOPED_TRACE(identifier);
        QWidget *window = xxstoryboard::instantiateControllerWithIdentifier(identifier, &owner);
        ASSERT_NE(window, nullptr);
        window->show();
        ASSERT_TRUE(waitFor([&] { return window->isVisible(); }));
        const QPoint offset = window->frameGeometry().center() - owner.frameGeometry().center();
        EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
        window->close();
    }
    apptest::closeAllWindows();
}
