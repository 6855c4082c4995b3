// The unlocked screen on a real vault and real computer folders: navigation and its enabling
// rules, drops, copy and paste, and the transfer questions.
#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QClipboard>
#include <QMimeData>
#include <QToolButton>

#include "UnlockedScreenFixture.h"
#include "XXClipboard.h"
#include "XXDragOut.h"
#include "XXMainMenu.h"
#include "XXMimeFormats.h"
#include "XXPasteProtectFileOutAppModel.h"
#include "XXTransferFeedback.h"
#include "XXTransmissionErrorView.h"
#include "XXTwoBtnReminderView.h"

using apptest::takeReminder;
using apptest::waitFor;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesOf(const XXProtectFileArray &entries)
{
    std::vector<std::string> names;
    for (const auto &entry : entries)
        names.push_back(entry->fileName());
    std::sort(names.begin(), names.end());
    return names;
}

class MainScreenTest : public apptest::UnlockedScreenTest {
protected:
    void SetUp() override
    {
        UnlockedScreenTest::SetUp();
        writeFile(computer_ + "/notes.txt", "some notes");
        writeFile(computer_ + "/photo.png", "not really a picture");
        writeFile(computer_ + "/docs/a.txt", "alpha");
    }

    // Enters the vault's root entry (the only row at the top level).
    static void enterVault(XXMainViewController *screen)
    {
        auto *pane = screen->protectTabVC();
        auto rootEntry = pane->model()->entry(0);
        EXPECT_TRUE(rootEntry && rootEntry->isRootWrapper());
        pane->enterFolder(rootEntry);
    }
    // The unlocked screen showing the vault's top folder, and its vault pane.
    std::pair<XXMainViewController *, XXProtectTabViewController *> openVault()
    {
        XXMainViewController *screen = openScreen();
        enterVault(screen);
        return {screen, screen->protectTabVC()};
    }

    static void importThroughScreen(XXMainViewController *screen, const std::vector<std::string> &paths)
    {
        XXFileArray files;
        for (const auto &path : paths)
            files.push_back(XXFileWrapper::initWithURL(path));
        screen->encodeSelectedComputerFiles(files, screen->protectTabVC()->currentProtectFileWrapper());
    }
    // An import with no name clash, which reports success.
    static void importAll(XXMainViewController *screen, const std::vector<std::string> &paths)
    {
        importThroughScreen(screen, paths);
        EXPECT_EQ(takeReminder(), xxplatform::text("String_171"));
    }
    static void makeFolders(XXMainViewController *screen, const std::vector<QString> &names)
    {
        for (const QString &name : names) {
            screen->createDirNamed(name);
            EXPECT_EQ(takeReminder(), xxplatform::text("String_80"));
        }
    }

    void select(XXProtectTabViewController *pane, const std::vector<std::string> &names)
    {
        auto *view = pane->currentView();
        view->clearSelection();
        for (int row = 0; row < pane->model()->rowCount(); ++row)
            if (std::find(names.begin(), names.end(), pane->model()->entry(row)->fileName()) != names.end())
                view->selectionModel()->select(pane->model()->index(row, 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    int rowNamed(XXProtectTabViewController *pane, const std::string &name)
    {
        for (int row = 0; row < pane->model()->rowCount(); ++row)
            if (pane->model()->entry(row)->fileName() == name)
                return row;
        return -1;
    }

    const std::string computer_ = dir_ / "computer";
};

QToolButton *button(XXMainViewController *screen, const char *name)
{
    return screen->findChild<QToolButton *>(QString::fromLatin1(name));
}

bool enabled(const char *identifier)
{
    return XXAppDelegate::shared()->mainMenu().action(identifier)->isEnabled();
}

}  // namespace

TEST_F(MainScreenTest, HistoryAndTheEnablingRulesFollowNavigation)
{
    XXMainViewController *screen = openScreen();
    auto *pane = screen->protectTabVC();
    EXPECT_EQ(pane->currentPageIndex(), XXProtectTabViewController::detailPage);
    EXPECT_FALSE(pane->isEnterUSB());
    for (const char *name : {"goBackBtn", "goPreviousBtn", "goRootBtn", "addFileBtn", "addFolderBtn", "myCopyBtn",
                             "cutBtn", "pasteBtn"})
        EXPECT_FALSE(button(screen, name)->isEnabled()) << name << " at the start";
    EXPECT_FALSE(enabled("addFile"));
    EXPECT_TRUE(enabled("lock"));

    screen->createDir();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_78")) << "no folder outside the volume";

    QGuiApplication::clipboard()->clear();
    enterVault(screen);
    EXPECT_TRUE(pane->isEnterUSB());
    EXPECT_EQ(pane->currentFolderPath(), "/");
    EXPECT_FALSE(button(screen, "pasteBtn")->isEnabled()) << "nothing to paste";
    EXPECT_TRUE(button(screen, "goBackBtn")->isEnabled());
    EXPECT_FALSE(button(screen, "goPreviousBtn")->isEnabled());
    EXPECT_TRUE(enabled("addFile"));
    EXPECT_TRUE(enabled("createDir"));

    makeFolders(screen, {"one", "two"});
    ASSERT_EQ(pane->model()->rowCount(), 2);
    pane->enterFolder(pane->model()->entry(rowNamed(pane, "one")));
    EXPECT_EQ(pane->currentFolderPath(), "/one");

    screen->goBackAction();
    screen->goBackAction();
    screen->goBackAction();  // at the first entry already: stays
    EXPECT_FALSE(pane->isEnterUSB());
    EXPECT_FALSE(button(screen, "goBackBtn")->isEnabled());
    EXPECT_TRUE(button(screen, "goPreviousBtn")->isEnabled());
    screen->goPreviousAction();
    screen->goPreviousAction();
    screen->goPreviousAction();  // at the last: stays
    EXPECT_EQ(pane->currentFolderPath(), "/one");
    EXPECT_FALSE(button(screen, "goPreviousBtn")->isEnabled());

    // Entering after going back drops the entries ahead.
    screen->goBackAction();
    pane->enterFolder(pane->model()->entry(rowNamed(pane, "two")));
    EXPECT_EQ(pane->currentFolderPath(), "/two");
    EXPECT_FALSE(button(screen, "goPreviousBtn")->isEnabled());
    screen->goBackAction();
    EXPECT_EQ(pane->currentFolderPath(), "/") << "not /one";

    screen->goRootAction();
    EXPECT_FALSE(pane->isEnterUSB());
    EXPECT_FALSE(button(screen, "goPreviousBtn")->isEnabled()) << "the history starts again";
    EXPECT_FALSE(button(screen, "pasteBtn")->isEnabled());
}

TEST_F(MainScreenTest, SelectionTurnsCopyCutAndRenameOnAndTheFocusMovesBetweenPanes)
{
    auto [screen, pane] = openVault();
    importAll(screen, {computer_ + "/notes.txt", computer_ + "/docs"});
    ASSERT_TRUE(waitFor([&] { return pane->model()->rowCount() == 2; }));

    select(pane, {"notes.txt"});
    EXPECT_TRUE(button(screen, "myCopyBtn")->isEnabled());
    EXPECT_TRUE(enabled("rename"));
    EXPECT_FALSE(enabled("attribute")) << "details are for one folder";
    EXPECT_EQ(screen->focusLocation(), 1);
    select(pane, {"notes.txt", "docs"});
    EXPECT_FALSE(enabled("rename"));
    select(pane, {"docs"});
    EXPECT_TRUE(enabled("attribute"));

    pane->currentView()->clearSelection();
    EXPECT_FALSE(button(screen, "myCopyBtn")->isEnabled());
    screen->copyAction();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_73"));

    select(pane, {"notes.txt"});
    screen->renameSelectedTo("renamed");
    EXPECT_EQ(takeReminder(), xxplatform::text("String_96"));
    EXPECT_EQ(namesOf(pane->model()->entries()), (std::vector<std::string>{"docs", "renamed.txt"}))
        << "a file keeps its extension";

    select(pane, {"renamed.txt"});
    screen->deleteSelectedFiles();
    auto *confirm = apptest::waitForVisible<XXTwoBtnReminderView>();
    ASSERT_NE(confirm, nullptr);
    confirm->findChild<QPushButton *>("sureBtn")->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_92"));
    EXPECT_EQ(namesOf(pane->model()->entries()), (std::vector<std::string>{"docs"}));
}

TEST_F(MainScreenTest, DropsImportIntoTheShownFolderMoveOntoFolderRowsAndWaitForTheSearchToEnd)
{
    auto [screen, pane] = openVault();
    makeFolders(screen, {"box"});
    importAll(screen, {computer_ + "/notes.txt"});

    // Computer records dropped on a file row go into the shown folder, not the file.
    QMimeData computerDrag;
    computerDrag.setData(xxplatform::dragComputerItemsMimeType,
                         xxplatform::encodeRecords({{computer_ + "/photo.png", false, true}}, false));
    xxplatform::markAsOurs(computerDrag);
    const int fileRow = rowNamed(pane, "notes.txt");
    ASSERT_TRUE(pane->canDrop(&computerDrag, fileRow));
    pane->drop(&computerDrag, fileRow);
    EXPECT_EQ(takeReminder(), xxplatform::text("String_171"));
    EXPECT_EQ(namesOf(pane->model()->entries()), (std::vector<std::string>{"box", "notes.txt", "photo.png"}));

    // Rows dragged inside the pane move onto a folder row, and nowhere else.
    QMimeData rowsDrag;
    rowsDrag.setData(xxplatform::dragProtectRowsMimeType,
                     xxplatform::encodeRows({rowNamed(pane, "photo.png")}));
    EXPECT_FALSE(pane->canDrop(&rowsDrag, -1)) << "empty space";
    EXPECT_FALSE(pane->canDrop(&rowsDrag, rowNamed(pane, "notes.txt"))) << "a file row";
    ASSERT_TRUE(pane->canDrop(&rowsDrag, rowNamed(pane, "box")));
    pane->drop(&rowsDrag, rowNamed(pane, "box"));
    EXPECT_EQ(takeReminder(), xxplatform::text("String_65"));
    EXPECT_EQ(namesOf(pane->model()->entries()), (std::vector<std::string>{"box", "notes.txt"}));
    auto box = pane->model()->entry(rowNamed(pane, "box"));
    EXPECT_EQ(namesOf(box->allSubFileArray()), (std::vector<std::string>{"photo.png"}));

    // Files of another program import; during a search every drop is refused.
    QMimeData foreign;
    foreign.setData(xxplatform::uriListMimeType,
                    xxplatform::fileURLForPath(computer_ + "/docs/a.txt") + "\r\n");
    screen->startSearch("o");
    ASSERT_TRUE(waitFor([&] { return pane->isDisplaySearchResult(); }));
    pane->drop(&foreign, -1);
    EXPECT_EQ(takeReminder(), xxplatform::text("String_100"));
    screen->endSearch();
    pane->drop(&foreign, -1);
    EXPECT_EQ(takeReminder(), xxplatform::text("String_171"));
    EXPECT_NE(rowNamed(pane, "a.txt"), -1);
}

TEST_F(MainScreenTest, PasteCopiesAfterCopyAndMovesOnceAfterCut)
{
    auto [screen, pane] = openVault();
    makeFolders(screen, {"target", "other"});
    importAll(screen, {computer_ + "/notes.txt", computer_ + "/photo.png"});
    auto target = pane->model()->entry(rowNamed(pane, "target"));

    select(pane, {"notes.txt", "photo.png"});
    screen->copyAction();
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(clip && clip->hasFormat(xxplatform::protectItemsMimeType));
    EXPECT_EQ(xxplatform::decodeRecords(clip->data(xxplatform::protectItemsMimeType)).size(), 2);
    EXPECT_TRUE(xxplatform::isOurs(clip));
    pane->enterFolder(target);
    EXPECT_TRUE(button(screen, "pasteBtn")->isEnabled());
    screen->pasteAction();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_65"));
    EXPECT_EQ(namesOf(pane->model()->entries()), (std::vector<std::string>{"notes.txt", "photo.png"}));
    screen->goBackAction();
    EXPECT_NE(rowNamed(pane, "notes.txt"), -1) << "a copy leaves the original";

    select(pane, {"notes.txt"});
    screen->cutAction();
    pane->enterFolder(pane->model()->entry(rowNamed(pane, "other")));
    screen->pasteAction();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_65"));
    EXPECT_EQ(namesOf(pane->model()->entries()), (std::vector<std::string>{"notes.txt"}));
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData() &&
                 QGuiApplication::clipboard()->mimeData()->hasFormat(xxplatform::protectItemsMimeType))
        << "a cut is pasted once";
    EXPECT_FALSE(button(screen, "pasteBtn")->isEnabled());
    screen->goBackAction();
    EXPECT_EQ(rowNamed(pane, "notes.txt"), -1) << "the cut entry moved";
}

TEST_F(MainScreenTest, ANameConflictAsksAndEachAnswerResumesTheRun)
{
    auto [screen, pane] = openVault();
    importAll(screen, {computer_ + "/notes.txt"});

    importThroughScreen(screen, {computer_ + "/notes.txt"});
    auto *question = apptest::waitForVisible<XXTransmissionErrorView>();
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(apptest::reminderText(question).contains(xxplatform::text("String_69")));
    question->findChild<QPushButton *>("sureBtn")->click();  // keep both
    EXPECT_EQ(takeReminder(), xxplatform::text("String_171"));
    EXPECT_EQ(pane->model()->rowCount(), 2);

    importThroughScreen(screen, {computer_ + "/notes.txt"});
    question = apptest::waitForVisible<XXTransmissionErrorView>();
    ASSERT_NE(question, nullptr);
    question->applyToAllBox()->setChecked(true);
    question->findChild<QPushButton *>("cancelBtn")->click();  // skip
    EXPECT_EQ(takeReminder(), xxplatform::text("String_244")) << "nothing was stored";
    EXPECT_EQ(pane->model()->rowCount(), 2) << "skipped";
    EXPECT_FALSE(screen->transferFeedback()->isRunning());
}

TEST_F(MainScreenTest, AFolderMovedIntoItselfAloneIsAnErrorNotAQuestion)
{
    auto [screen, pane] = openVault();
    makeFolders(screen, {"self"});
    auto folder = pane->model()->entry(rowNamed(pane, "self"));
    screen->operateDiskWithSelectedFiles({folder}, folder, false);
    EXPECT_EQ(takeReminder(), xxplatform::text("String_77"));
    ASSERT_TRUE(waitFor([&] { return !screen->transferFeedback()->isRunning(); }));
    EXPECT_TRUE(apptest::visible<XXTransmissionErrorView>().isEmpty());
}

TEST(TransferFeedback, ProgressIsFullForAnEmptyTransferAndNeverOverflows)
{
    EXPECT_EQ(XXTransferFeedback::progressValue(0, 0), 1.0);
    EXPECT_EQ(XXTransferFeedback::progressValue(10, 20), 1.0);
    EXPECT_DOUBLE_EQ(XXTransferFeedback::progressValue(10, 5), 0.5);
}

TEST_F(MainScreenTest, OtherProgramsGetTheFilesOnlyOnceDecryptedAndACutEndsWhenTheyTookThem)
{
    auto [screen, pane] = openVault();
    importAll(screen, {computer_ + "/notes.txt", computer_ + "/docs"});

    select(pane, {"notes.txt", "docs"});
    screen->copyAction();
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(clip, nullptr);
    EXPECT_FALSE(clip->hasFormat(xxplatform::uriListMimeType)) << "no file is offered before it exists";
    ASSERT_TRUE(waitFor([] {
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        return data && data->hasFormat(xxplatform::gnomeCopiedFilesMimeType);
    }));
    clip = QGuiApplication::clipboard()->mimeData();
    const auto staged = xxplatform::localFilesFrom(clip);
    ASSERT_EQ(staged.size(), 2u);
    for (const auto &path : staged)
        EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_TRUE(clip->data(xxplatform::gnomeCopiedFilesMimeType).startsWith("copy\n"));
    EXPECT_TRUE(clip->hasFormat(xxplatform::protectItemsMimeType)) << "pasting inside still works";
    EXPECT_FALSE(xxplatform::offersForeignFiles(clip));

    // A cut: the file manager moves the staged copy away; then, and only then, it leaves the vault.
    select(pane, {"notes.txt"});
    screen->cutAction();
    ASSERT_TRUE(waitFor([] {
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        return data && data->data(xxplatform::gnomeCopiedFilesMimeType).startsWith("cut\n");
    }));
    const auto cut = xxplatform::localFilesFrom(QGuiApplication::clipboard()->mimeData());
    ASSERT_EQ(cut.size(), 1u);
    QTest::qWait(1300);
    EXPECT_NE(rowNamed(pane, "notes.txt"), -1) << "not taken yet";
    fs::rename(cut.front(), dir_ / "pasted.txt");
    EXPECT_EQ(takeReminder(), xxplatform::text("String_178"));
    EXPECT_EQ(rowNamed(pane, "notes.txt"), -1);
    EXPECT_EQ(readFile(dir_ / "pasted.txt"), "some notes");
}

// A program that takes a drop copies the files at once: the drag is offered only once every
// dragged entry is decrypted whole, and a drag let go too early is offered again at once.
TEST_F(MainScreenTest, ADragOutIsOfferedOnlyOnceItsCopiesAreWhole)
{
    auto [screen, pane] = openVault();
    const std::string large(3 << 20, 'x');
    writeFile(computer_ + "/large.bin", large);
    importAll(screen, {computer_ + "/notes.txt", computer_ + "/large.bin"});
    XXDragOut *dragOut = pane->dragOut();
    std::vector<std::vector<std::string>> offered;  // the files each drag carried, read at once
    dragOut->setDragRunner([&](QAbstractItemView *, QMimeData *data) {
        std::unique_ptr<QMimeData> owned(data);
        EXPECT_TRUE(data->hasFormat(xxplatform::dragProtectItemsMimeType)) << "the computer pane's records";
        std::vector<std::string> contents;
        for (const auto &path : xxplatform::localFilesFrom(data))
            contents.push_back(readFile(path));
        offered.push_back(contents);
    });
    bool held = true;
    dragOut->setButtonHeld([&] { return held; });
    auto drag = [&] {
        const QModelIndexList rows = {pane->model()->index(rowNamed(pane, "notes.txt"), 0),
                                      pane->model()->index(rowNamed(pane, "large.bin"), 0)};
        XXProtectFileArray entries = {pane->model()->entry(rows[0].row()), pane->model()->entry(rows[1].row())};
        dragOut->start(pane->currentView(), pane->model()->mimeData(rows), entries);
    };

    drag();
    EXPECT_TRUE(offered.empty()) << "nothing is offered while it is decrypted";
    ASSERT_TRUE(waitFor([&] { return !offered.empty(); }));
    EXPECT_EQ(offered.back(), (std::vector<std::string>{"some notes", large}));

    // Let go before the copies were ready: told to drag again, which then starts at once.
    held = false;
    fs::remove_all(XXPasteProtectFileOutAppModel::pasteCacheFolderPath());
    drag();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_243"));
    EXPECT_EQ(offered.size(), 1u);
    held = true;
    drag();
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered.back(), (std::vector<std::string>{"some notes", large}));

    // A lock while it decrypts offers nothing and leaves nothing.
    fs::remove_all(XXPasteProtectFileOutAppModel::pasteCacheFolderPath());
    drag();
    dragOut->cancel();
    QTest::qWait(300);
    xxplatform::waitForWorkers(std::chrono::seconds(10));
    EXPECT_EQ(offered.size(), 2u);
    const std::string cache = XXPasteProtectFileOutAppModel::pasteCacheFolderPath();
    EXPECT_TRUE(!fs::exists(cache) || fs::is_empty(cache)) << "a cancelled drag leaves no copy";
}
