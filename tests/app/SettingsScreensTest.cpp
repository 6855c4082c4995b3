// The unlocked screen's Settings entries on a real vault: the backup settings sheet, backup,
// format, and the menu entries that a shown sheet holds.
#include <QAction>
#include <QClipboard>
#include <QMimeData>
#include <QTimer>
#include <QComboBox>
#include <QToolButton>

#include <map>

#include "UnlockedScreenFixture.h"
#include "XXBackupFlow.h"
#include "XXBackupFolders.h"
#include "XXChangePWViewController.h"
#include "XXClipboard.h"
#include "XXFormatFlow.h"
#include "XXLocationSettingView.h"
#include "XXMainMenu.h"
#include "XXProgressAlertView.h"
#include "XXResumeDataView.h"
#include "XXTwoBtnReminderView.h"

using apptest::takeReminder;
using apptest::waitFor;
namespace fs = std::filesystem;

namespace {

QAction *menuEntry(const char *identifier)
{
    return XXAppDelegate::shared()->mainMenu().action(QString::fromLatin1(identifier));
}

// Relative path -> size of every file below folder.
std::map<std::string, std::uintmax_t> filesBelow(const std::string &folder)
{
    std::map<std::string, std::uintmax_t> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = entry.file_size();
    return files;
}

// Sees the application's quit request.
class QuitCatcher : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == qApp && event->type() == QEvent::Quit)
            quitRequested = true;
        return false;
    }
    bool quitRequested = false;
};

class SettingsScreensTest : public apptest::UnlockedScreenTest {
protected:
    XXLocationSettingView *openSheet(XXMainViewController *screen)
    {
        screen->showResumeLocationSetting();
        auto *sheet = apptest::waitForVisible<XXLocationSettingView>();
        EXPECT_TRUE(sheet && waitFor([&] { return sheet->isLoaded(); }));
        return sheet;
    }
    // A large sparse file makes a copy of the store last long enough to be cancelled midway.
    void padStore()
    {
        std::ofstream padding(storeFolder() + "/padding", std::ios::binary);
        padding.seekp(160 << 20);
        padding.put('x');
    }
};

TEST_F(SettingsScreensTest, BackupNumberStepsDownToThreeAndNoFurther)
{
    auto *screen = openScreen();
    auto *sheet = openSheet(screen);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->maxBackUpNumber(), 5) << "a fresh vault keeps five";
    for (int i = 0; i < 3; ++i)
        sheet->downBtn()->click();
    EXPECT_EQ(sheet->maxBackUpNumber(), 3);
    EXPECT_EQ(sheet->numberLab()->text(), "3" + xxplatform::text("String_173"));
    sheet->upBtn()->click();
    EXPECT_EQ(sheet->maxBackUpNumber(), 4);
    sheet->cancelBtn()->click();

    ASSERT_TRUE(apptest::manager().setMaxBackupFileNum("2"));
    ASSERT_TRUE(waitFor([] { return menuEntry("location")->isEnabled(); }));
    sheet = openSheet(screen);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->maxBackUpNumber(), 2);
    sheet->downBtn()->click();
    EXPECT_EQ(sheet->maxBackUpNumber(), 3) << "a stored number below the minimum steps down to it";
}

TEST_F(SettingsScreensTest, SheetListsTheStoredLocationFirstWithItsFolderAsTip)
{
    ASSERT_TRUE(apptest::manager().setCurrentBackupLocation(1));
    auto *sheet = openSheet(openScreen());
    ASSERT_TRUE(sheet);
    QComboBox *chooser = sheet->locationChooser();
    ASSERT_EQ(chooser->count(), 2);
    EXPECT_EQ(chooser->currentIndex(), 0);
    EXPECT_EQ(chooser->itemText(0), xxplatform::text("String_136"));
    EXPECT_EQ(chooser->itemText(1), xxplatform::text("String_135"));
    const QString dataTip = QString::fromStdString(apptest::manager().backupRootFolderPath());
    EXPECT_EQ(chooser->toolTip(), dataTip);
    EXPECT_TRUE(dataTip.endsWith("/TovinUSBENC/Backup"));

    emit chooser->activated(1);
    EXPECT_EQ(sheet->selectedLocationType(), 0);
    EXPECT_EQ(chooser->toolTip(), QString::fromStdString(xxbackup::backupRootForLocation(0)));
    EXPECT_NE(chooser->toolTip(), dataTip);
    ASSERT_EQ(sheet->appLocationChooser()->count(), 1);
    EXPECT_EQ(sheet->appLocationChooser()->itemText(0), xxplatform::text("String_55"));
}

TEST_F(SettingsScreensTest, OkStoresAllFourValuesAndCancelStoresNothing)
{
    XXDiskFileManager &disk = apptest::manager();
    ASSERT_TRUE(disk.setCurrentBackupLocation(1) && disk.setBackupSetting(false) &&
                disk.setMaxBackupFileNum("4"));
    auto *screen = openScreen();

    auto *sheet = openSheet(screen);
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->isAutoBackup());
    sheet->upBtn()->click();
    sheet->cancelBtn()->click();
    ASSERT_TRUE(waitFor([] { return menuEntry("location")->isEnabled(); }));
    EXPECT_EQ(disk.maxBackupFileNumber(), 4) << "cancel changes nothing";

    sheet = openSheet(screen);
    ASSERT_TRUE(sheet);
    sheet->sureBtn()->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_86")) << "all four were written";
    EXPECT_EQ(disk.acquireCurrentLocationSetting(), 1);
    EXPECT_FALSE(disk.isTurnOnAutoBackUp());
    EXPECT_EQ(disk.maxBackupFileNumber(), 4);
    EXPECT_EQ(disk.acquireCurrentFixAppLocationSetting(), 0);

    sheet = openSheet(screen);
    ASSERT_TRUE(sheet);
    sheet->autoBackupSwitch()->click();
    sheet->upBtn()->click();
    sheet->sureBtn()->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_86"));
    EXPECT_TRUE(disk.isTurnOnAutoBackUp());
    EXPECT_EQ(disk.maxBackupFileNumber(), 5);
}

TEST_F(SettingsScreensTest, ShownSheetHoldsItsMenuEntryUntilAnswered)
{
    auto *screen = openScreen();
    QAction *location = menuEntry("location");
    ASSERT_TRUE(location->isEnabled());
    auto *sheet = openSheet(screen);
    EXPECT_FALSE(location->isEnabled());
    sheet->sureBtn()->click();
    takeReminder();
    EXPECT_TRUE(waitFor([&] { return location->isEnabled(); })) << "OK gives the entry back";
    sheet = openSheet(screen);
    EXPECT_FALSE(location->isEnabled());
    sheet->close();
    EXPECT_TRUE(waitFor([&] { return location->isEnabled(); })) << "closing gives it back";

    QAction *restore = menuEntry("restoreData");
    screen->restoreData();
    auto *wizard = apptest::waitForVisible<XXResumeDataView>();
    ASSERT_TRUE(wizard);
    EXPECT_FALSE(restore->isEnabled());
    wizard->findChild<QPushButton *>("pageOneCancelBtn")->click();
    EXPECT_TRUE(waitFor([&] { return restore->isEnabled(); }));

    QAction *change = menuEntry("changePW");
    change->trigger();
    auto *window = apptest::waitForVisible<XXChangePWViewController>();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->parentWidget(), screen->window()) << "a child window of the main window";
    EXPECT_FALSE(change->isEnabled());
    change->trigger();
    EXPECT_EQ(apptest::visible<XXChangePWViewController>().size(), 1);
    window->form().cancel->click();
    EXPECT_TRUE(waitFor([&] { return change->isEnabled(); }));
}

TEST_F(SettingsScreensTest, BackupCopiesTheVaultAndReportsIt)
{
    auto *screen = openScreen();
    importFile(screen, "a.txt", "alpha");
    menuEntry("backupData")->trigger();
    EXPECT_TRUE(screen->isBackupRunning());
    auto *progress = screen->backupFlow()->progressView();
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->title(), xxplatform::text("String_60"));
    EXPECT_EQ(progress->subtitle(), xxplatform::text("String_61"));
    EXPECT_EQ(takeReminder(), xxplatform::text("String_63"));
    EXPECT_FALSE(screen->isBackupRunning());
    const XXFileArray backups = apptest::manager().allBackUpFolders();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(filesBelow(backups.front()->fullPath()), filesBelow(storeFolder()));
}

TEST_F(SettingsScreensTest, CancelledBackupLeavesVaultAndNoBackup)
{
    auto *screen = openScreen();
    importFile(screen, "a.txt", "alpha");
    padStore();
    const auto before = filesBelow(storeFolder());
    screen->backUpData();
    auto *progress = screen->backupFlow()->progressView();
    ASSERT_TRUE(progress);
    ASSERT_TRUE(waitFor([&] { return progress->progress() > 0.0; }, 10000));
    progress->findChild<QPushButton *>("cancelBtn")->click();
    EXPECT_EQ(takeReminder(), xxplatform::text("String_65"));
    EXPECT_FALSE(screen->isBackupRunning());
    EXPECT_TRUE(apptest::manager().allBackUpFolders().empty()) << "the partial backup is removed";
    EXPECT_EQ(filesBelow(storeFolder()), before);
}

TEST_F(SettingsScreensTest, LockDuringBackupCancelsItQuietly)
{
    auto *screen = openScreen();
    padStore();
    bool locked = false;
    QObject::connect(screen, &XXMainViewController::sessionLocked, [&] { locked = true; });
    screen->backUpData();
    ASSERT_TRUE(waitFor([&] { return screen->backupFlow()->progressView()->progress() > 0.0; }, 10000));
    screen->lockAction();
    EXPECT_FALSE(screen->backupFlow()->progressView() && screen->backupFlow()->progressView()->isVisible())
        << "the dialog goes at once";
    ASSERT_TRUE(waitFor([&] { return locked && !screen->isBackupRunning(); }, 10000));
    QTest::qWait(50);
    EXPECT_TRUE(apptest::visible<XXReminderView>().isEmpty());
    EXPECT_TRUE(apptest::manager().allBackUpFolders().empty());
}

TEST_F(SettingsScreensTest, FormatAnimatesThenEndsTheProgramEvenWhenAsked)
{
    XXFormatFlow::setTickInterval(std::chrono::milliseconds(1));
    XXFormatFlow::setRandomSource([] { return std::uint32_t(57); });  // 25 + 57 % 25 = 32
    QuitCatcher catcher;
    qApp->installEventFilter(&catcher);
    auto *screen = openScreen();

    menuEntry("format")->trigger();
    auto *question = apptest::waitForVisible<XXTwoBtnReminderView>();
    ASSERT_TRUE(question);
    EXPECT_TRUE(apptest::reminderText(question).contains(xxplatform::text("String_163")));
    question->findChild<QPushButton *>("cancelBtn")->click();
    QTest::qWait(30);
    EXPECT_FALSE(screen->formatFlow()->isRunning());
    EXPECT_TRUE(fs::exists(storeFolder())) << "cancel keeps the vault";

    screen->formatVault();
    question = apptest::waitForVisible<XXTwoBtnReminderView>();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->findChild<QPushButton *>("sureBtn")->text(), xxplatform::text("String_174"));
    question->findChild<QPushButton *>("sureBtn")->click();
    auto *progress = screen->formatFlow()->progressView();
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->title(), xxplatform::text("String_164"));
    EXPECT_FALSE(progress->findChild<QPushButton *>("cancelBtn")->isVisibleTo(progress));
    EXPECT_EQ(screen->formatFlow()->targetTicks(), 32);
    XXReminderView *done = apptest::waitForVisible<XXReminderView>();
    ASSERT_TRUE(done);
    EXPECT_EQ(apptest::reminderText(done), xxplatform::text("String_165"));
    EXPECT_EQ(screen->formatFlow()->tickCount(), 32);
    EXPECT_FALSE(fs::exists(storeFolder()));

    // Quitting needs the application's own loop; the quit path clears our clipboard data.
    auto *ours = new QMimeData;
    ours->setText("staged");
    xxplatform::markAsOurs(*ours);
    QGuiApplication::clipboard()->setMimeData(ours);
    QTimer::singleShot(0, done->findChild<QPushButton *>("sureBtn"), &QPushButton::click);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(catcher.quitRequested);
    EXPECT_FALSE(xxplatform::isOurs(QGuiApplication::clipboard()->mimeData()));
    qApp->removeEventFilter(&catcher);
    XXFormatFlow::setTickInterval(std::chrono::milliseconds(10));
    XXFormatFlow::setRandomSource({});
}

}  // namespace
