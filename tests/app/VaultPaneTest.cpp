// The vault's side of the unlocked screen stays true: the rows in the chosen order after
// every change, the session locked when the vault leaves the stick, and the toolbar and the
// detail list readable on any desktop.
#include <QHeaderView>
#include <QIcon>
#include <QToolButton>
#include <QTreeView>

#include <sys/mount.h>

#include "SmallVolume.h"
#include "UnlockedScreenFixture.h"
#include "XXImages.h"
#include "XXMainWindowController.h"
#include "XXTransmissionErrorView.h"

using apptest::takeReminder;
using apptest::waitFor;
namespace fs = std::filesystem;

namespace {

class VaultPaneTest : public apptest::UnlockedScreenTest {
protected:
    static std::vector<std::string> rowNames(XXProtectTabViewController *pane)
    {
        std::vector<std::string> names;
        for (const auto &entry : pane->model()->entries())
            names.push_back(entry->fileName());
        return names;
    }
    // Clicks the detail list's column header, as a person sorts, and waits for the rows.
    static void clickHeader(XXProtectTabViewController *pane, int section)
    {
        auto *detail = qobject_cast<QTreeView *>(pane->viewForPage(XXProtectTabViewController::detailPage));
        int resets = 0;
        const auto counting =
            QObject::connect(pane->model(), &QAbstractItemModel::modelReset, [&resets] { ++resets; });
        emit detail->header()->sectionClicked(section);
        EXPECT_TRUE(waitFor([&] { return resets > 0; }));
        QObject::disconnect(counting);
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(VaultPaneTest, RowsFollowTheSortOrderInBothDirectionsAfterEveryImport)
{
    XXMainViewController *screen = openScreen();
    auto *pane = screen->protectTabVC();
    importFile(screen, "a.jpg", "picture");
    importFile(screen, "notes.txt", "text");
    importFile(screen, "report.md", "more text");
    importFile(screen, "b.jpg", "another picture");
    // Groups first (text before picture), then the key; the group order holds either way.
    EXPECT_EQ(rowNames(pane), (Names{"notes.txt", "report.md", "a.jpg", "b.jpg"}));

    // Keep Both names the new copy "a(0).jpg", which sorts before "a.jpg" ('(' < '.').
    const std::string again = dir_ / "computer/a.jpg";
    screen->encodeSelectedComputerFiles({XXFileWrapper::initWithURL(again)}, pane->currentProtectFileWrapper());
    auto *question = apptest::waitForVisible<XXTransmissionErrorView>();
    ASSERT_NE(question, nullptr);
    question->findChild<QPushButton *>("sureBtn")->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_171"));
    EXPECT_EQ(rowNames(pane), (Names{"notes.txt", "report.md", "a(0).jpg", "a.jpg", "b.jpg"}));

    clickHeader(pane, 0);  // name, descending now
    EXPECT_EQ(rowNames(pane), (Names{"report.md", "notes.txt", "b.jpg", "a.jpg", "a(0).jpg"}));
    importFile(screen, "c.md", "hi");
    EXPECT_EQ(rowNames(pane), (Names{"report.md", "notes.txt", "c.md", "b.jpg", "a.jpg", "a(0).jpg"}))
        << "an import keeps the descending order";

    clickHeader(pane, 0);
    EXPECT_EQ(rowNames(pane), (Names{"c.md", "notes.txt", "report.md", "a(0).jpg", "a.jpg", "b.jpg"}));
    clickHeader(pane, 2);
    EXPECT_EQ(rowNames(pane), (Names{"c.md", "notes.txt", "report.md", "a(0).jpg", "a.jpg", "b.jpg"}));
    clickHeader(pane, 2);
    EXPECT_EQ(rowNames(pane), (Names{"report.md", "notes.txt", "c.md", "b.jpg", "a(0).jpg", "a.jpg"}));
}

TEST_F(VaultPaneTest, TheVaultFolderTakenAwayWhileUnlockedLocksAndSaysWhy)
{
    XXMainViewController *screen = openScreen();
    int locks = 0;
    QObject::connect(screen, &XXMainViewController::sessionLocked, [&locks] { ++locks; });
    importFile(screen, "kept.txt", "still here");
    fs::rename(storeFolder(), volume_ + "/moved away");
    EXPECT_EQ(takeReminder(), xxplatform::text("String_210"));
    EXPECT_TRUE(waitFor([&] { return locks == 1 && !apptest::manager().isLogin(); }));
    // Nothing of the vault was touched by noticing it.
    EXPECT_TRUE(fs::exists(volume_ + "/moved away/index"));
}

TEST_F(VaultPaneTest, TheSticksFileSystemGoingAwayLocksToo)
{
    SmallVolume stick("size=16m");
    if (!stick.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    apptest::logOut();
    apptest::makeVault(stick.path(), "Secret#123");
    ASSERT_TRUE(apptest::startOn(stick.path()));
    ASSERT_TRUE(apptest::logInWith("Secret#123"));
    openScreen();
    ASSERT_EQ(umount2(stick.path().c_str(), MNT_DETACH), 0);  // pulled out
    EXPECT_EQ(takeReminder(), xxplatform::text("String_210"));
    EXPECT_TRUE(waitFor([&] { return !apptest::manager().isLogin(); }));
}

TEST_F(VaultPaneTest, ToolbarButtonsShowTheirOwnImagesWithoutAnIconTheme)
{
    const QString theme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    XXMainViewController *screen = openScreen();
    QIcon::setThemeName(theme);
    const std::pair<const char *, const char *> drawings[] = {
        {"goBackBtn", "go-previous"},   {"goPreviousBtn", "go-next"}, {"goRootBtn", "go-home"},
        {"addFileBtn", "document-new"}, {"addFolderBtn", "folder-new"}, {"myCopyBtn", "edit-copy"},
        {"cutBtn", "edit-cut"},         {"pasteBtn", "edit-paste"}};
    for (const auto &[name, drawing] : drawings) {
        SCOPED_TRACE(drawing);
        const QImage shown =
            screen->findChild<QToolButton *>(QString::fromLatin1(name))->icon().pixmap(22).toImage();
        const QImage drawn = xxplatform::namedIcon(QStringLiteral("toolbar-") + drawing).pixmap(22).toImage();
        ASSERT_FALSE(drawn.isNull()) << "the drawing is missing from the resources";
        EXPECT_EQ(shown, drawn);
    }
    EXPECT_FALSE(screen->lockBtn()->icon().isNull());
}

TEST_F(VaultPaneTest, TheNameColumnKeepsARealWidthInTheSmallestWindow)
{
    XXMainViewController *screen = openScreen();
    importFile(screen, "a rather long file name.txt", "x");
    auto *window = new XXMainWindowController;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->presentView(screen);
    window->resize(window->minimumSize());
    window->show();
    auto *detail = qobject_cast<QTreeView *>(
        screen->protectTabVC()->viewForPage(XXProtectTabViewController::detailPage));
    ASSERT_TRUE(waitFor([&] { return detail->isVisible() && detail->viewport()->width() > 0; }));
    QApplication::processEvents();
    const int name = detail->header()->sectionSize(0);
    EXPECT_GE(name, detail->fontMetrics().averageCharWidth() * 14) << "name column " << name << " px";
    EXPECT_LE(detail->header()->length(), detail->viewport()->width() + 1) << "all three columns fit";
}

TEST_F(VaultPaneTest, AnOpenedFileGoesToWhicheverOpenerThereIsOrSaysWhatIsMissing)
{
    XXMainViewController *screen = openScreen();
    auto *pane = screen->protectTabVC();
    importFile(screen, "letter.txt", "dear reader");
    const std::string bin = dir_ / "bin";
    fs::create_directories(bin);
    ScopedEnv env;
    env.set("PATH", bin);
    env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir_ / "no-bus"));
    // gio reads the decrypted copy it was handed.
    std::ofstream(bin + "/gio") << "#!/bin/sh\n/bin/cat \"$2\" > '" << (dir_ / "opened") << "'\n";
    fs::permissions(bin + "/gio", fs::perms::owner_all);

    pane->openFile(pane->model()->entry(0));
    EXPECT_TRUE(waitFor([&] { return readFile(dir_ / "opened") == "dear reader"; }));
    fs::remove(bin + "/gio");
    pane->openFile(pane->model()->entry(0));
    EXPECT_EQ(takeReminder(), xxplatform::text("String_211"));
}
