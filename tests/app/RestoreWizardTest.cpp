// The restore wizard on a real vault: its pages, the backup table, the progress text, the
// refusal to close while restoring, and a restore that brings an older vault back.
#include <QTreeWidget>

#include "UnlockedScreenFixture.h"
#include "XXBackupFlow.h"
#include "XXResumeDataView.h"
#include "fs.h"

using apptest::takeReminder;
using apptest::waitFor;

namespace {

class RestoreWizardTest : public apptest::UnlockedScreenTest {
protected:
    XXResumeDataView *openWizardAtPageTwo(XXMainViewController *screen)
    {
        screen->restoreData();
        auto *wizard = apptest::waitForVisible<XXResumeDataView>();
        if (!wizard)
            return nullptr;
        EXPECT_EQ(wizard->currentPage(), 1);
        wizard->findChild<QPushButton *>("pageOneNextBtn")->click();
        EXPECT_TRUE(waitFor([&] { return wizard->currentPage() == 2; }));
        return wizard;
    }

    void backUp(XXMainViewController *screen)
    {
        screen->backUpData();
        EXPECT_EQ(takeReminder(), xxplatform::text("String_63"));
    }

    // The names in the vault's top folder, as the engine lists them after a fresh login.
    static std::vector<std::string> vaultFileNames()
    {
        auto engine = XXDiskFileManager::lockEngine();
        std::vector<std::string> names;
        fs_dir *dir = fs_opendir("");
        while (const fs_dirent *record = dir ? fs_readdir(dir) : nullptr)
            names.push_back(record->name);
        if (dir)
            fs_closedir(dir);
        return names;
    }
};

TEST_F(RestoreWizardTest, ProgressTextRules)
{
    EXPECT_EQ(XXResumeDataView::progressText(0, 0), "0%");
    EXPECT_EQ(XXResumeDataView::progressText(0, 500), "0%");
    EXPECT_EQ(XXResumeDataView::progressText(200, 50), "25.0%");
    EXPECT_EQ(XXResumeDataView::progressText(3, 1), "33.3%");
    EXPECT_EQ(XXResumeDataView::progressText(100, 250), "100.0%");
}

TEST_F(RestoreWizardTest, WithoutBackupsNextStaysDisabledAndCancelRunsNoBlock)
{
    auto *screen = openScreen();
    auto *wizard = openWizardAtPageTwo(screen);
    ASSERT_TRUE(wizard);
    EXPECT_EQ(wizard->table()->topLevelItemCount(), 0);
    EXPECT_FALSE(wizard->pageTwoNextBtn()->isEnabled());
    wizard->pageTwoNextAction();
    EXPECT_EQ(wizard->currentPage(), 2);

    bool ran = false;
    wizard->setPageFiveSureBlock([&](bool) { ran = true; });
    wizard->findChild<QPushButton *>("pageTwoCancelBtn")->click();
    QPointer<XXResumeDataView> gone(wizard);
    EXPECT_TRUE(waitFor([&] { return !gone; }));
    EXPECT_FALSE(ran);
}

TEST_F(RestoreWizardTest, TableListsBackupsAndNextNeedsASelection)
{
    auto *screen = openScreen();
    backUp(screen);
    auto *wizard = openWizardAtPageTwo(screen);
    ASSERT_TRUE(wizard);
    QTreeWidget *table = wizard->table();
    ASSERT_EQ(table->topLevelItemCount(), 1);
    EXPECT_EQ(table->headerItem()->text(0), xxplatform::text("String_139"));
    EXPECT_EQ(table->headerItem()->text(1), xxplatform::text("String_151"));
    EXPECT_EQ(table->headerItem()->text(2), xxplatform::text("String_141"));
    EXPECT_EQ(table->headerItem()->text(3), xxplatform::text("String_140"));
    const auto &row = wizard->pageTwoArray().front();
    EXPECT_EQ(table->topLevelItem(0)->text(0), xxplatform::text("String_55"));
    EXPECT_EQ(table->topLevelItem(0)->text(2),
              QString::fromStdString(XXTool::formattedFileSize(row.wrapper->folderSize())));
    EXPECT_GT(row.wrapper->folderSize(), 0u);
    EXPECT_EQ(table->topLevelItem(0)->text(3).size(), 19) << "yyyy-MM-dd HH:mm:ss";
    EXPECT_FALSE(wizard->pageTwoNextBtn()->isEnabled());
    table->setCurrentItem(table->topLevelItem(0));
    EXPECT_TRUE(wizard->pageTwoNextBtn()->isEnabled());
    wizard->pageTwoNextBtn()->click();
    EXPECT_EQ(wizard->currentPage(), 3);
    wizard->findChild<QPushButton *>("pageThreeReturnBtn")->click();
    EXPECT_EQ(wizard->currentPage(), 2);
    EXPECT_TRUE(wizard->pageTwoNextBtn()->isEnabled()) << "the selection is kept";
    wizard->findChild<QPushButton *>("pageTwoReturnBtn")->click();
    EXPECT_EQ(wizard->currentPage(), 1);
}

TEST_F(RestoreWizardTest, RestoreBringsBackTheOldVaultAndLocks)
{
    auto *screen = openScreen();
    importFile(screen, "old.txt", "before the backup");
    backUp(screen);
    importFile(screen, "new.txt", "after the backup");
    bool locked = false;
    QObject::connect(screen, &XXMainViewController::sessionLocked, [&] { locked = true; });

    auto *wizard = openWizardAtPageTwo(screen);
    ASSERT_TRUE(wizard);
    wizard->table()->setCurrentItem(wizard->table()->topLevelItem(0));
    wizard->pageTwoNextBtn()->click();
    wizard->pageThreeRestoreBtn()->click();
    EXPECT_EQ(wizard->currentPage(), 4);
    EXPECT_TRUE(wizard->isDoing());

    // Neither the close button nor Escape leaves a running restore.
    wizard->close();
    XXReminderView *refusal = apptest::waitForVisible<XXReminderView>();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(apptest::reminderText(refusal), xxplatform::text("String_109"));
    EXPECT_TRUE(wizard->isVisible());
    refusal->findChild<QPushButton *>("sureBtn")->click();

    ASSERT_TRUE(waitFor([&] { return wizard->currentPage() == 5; }, 10000));
    EXPECT_EQ(wizard->progressLab()->text(), "100.0%");
    EXPECT_EQ(wizard->resultTitleLab()->text(), xxplatform::text("String_111"));
    EXPECT_EQ(wizard->resultSubtitleLab()->text(), xxplatform::text("String_110"));
    EXPECT_FALSE(locked) << "the session ends only once the result is confirmed";
    wizard->findChild<QPushButton *>("pageFiveSureBtn")->click();
    ASSERT_TRUE(waitFor([&] { return locked; }, 10000));

    login();
    EXPECT_EQ(vaultFileNames(), std::vector<std::string>{"old.txt"});
}

TEST_F(RestoreWizardTest, FailedRestoreReportsAndClosesTheWindow)
{
    auto *screen = openScreen();
    backUp(screen);
    auto *wizard = openWizardAtPageTwo(screen);
    ASSERT_TRUE(wizard);
    // The backup vanished after it was listed.
    std::filesystem::remove_all(wizard->pageTwoArray().front().wrapper->fullPath());
    wizard->table()->setCurrentItem(wizard->table()->topLevelItem(0));
    wizard->pageTwoNextBtn()->click();
    wizard->pageThreeRestoreBtn()->click();
    ASSERT_TRUE(waitFor([&] { return wizard->currentPage() == 5; }, 10000));
    EXPECT_FALSE(wizard->restoreSuccess());
    EXPECT_EQ(wizard->resultTitleLab()->text(), xxplatform::text("String_123"));
    EXPECT_EQ(wizard->resultSubtitleLab()->text(), xxplatform::text("String_124"));
    QPointer<XXMainViewController> shown(screen);
    wizard->findChild<QPushButton *>("pageFiveSureBtn")->click();
    EXPECT_TRUE(waitFor([&] { return !shown || !shown->isVisible(); }));
    EXPECT_TRUE(std::filesystem::exists(storeFolder() + "/index")) << "the vault was never touched";
}

}  // namespace
