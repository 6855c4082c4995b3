// The idle lock on a clock of the test's own, and on the unlocked screen of a real vault: the
// idle timeout, the desktop's lock, and the sheet that sets both.
#include <QAction>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QCheckBox>
#include <QSpinBox>

#include <chrono>

#include "AppTestSupport.h"
#include "HeldLock.h"
#include "XXIdleLock.h"
#include "XXInputPasswordView.h"
#include "XXLoginViewController.h"
#include "XXMainMenu.h"
#include "XXMainViewController.h"
#include "XXMainWindowController.h"
#include "XXPasteStaging.h"
#include "XXPrivateCacheFolder.h"
#include "XXSecureTextField.h"
#include "XXSessionSignals.h"
#include "XXTimeoutSettingView.h"
#include "XXTimeoutSettings.h"
#include "fs.h"

using apptest::waitFor;
using namespace std::chrono_literals;

namespace {

// An idle lock whose time moves only when the test says so.
struct FakeClockLock {
    std::chrono::steady_clock::time_point now{};
    int locks = 0;
    bool busy = false;
    XXIdleLock lock{[this] { ++locks; }};

    explicit FakeClockLock(int minutes)
    {
        lock.setClock([this] { return now; });
        lock.stopTimer();
        lock.setBusyPredicate([this] { return busy; });
        lock.setIdleMinutes(minutes);
    }
    void advance(std::chrono::seconds by)
    {
        now += by;
        lock.check();
    }
};

}  // namespace

TEST(IdleLock, FiresOnceAfterTheIdleTimeAndNotBefore)
{
    FakeClockLock idle(10);
    idle.advance(9min + 59s);
    EXPECT_EQ(idle.locks, 0);
    idle.advance(1s);
    EXPECT_EQ(idle.locks, 1);
    idle.advance(20min);
    EXPECT_EQ(idle.locks, 1) << "the session it guards is over";
    EXPECT_TRUE(idle.lock.hasFired());
}

TEST(IdleLock, InputInAnyWindowStartsTheWaitAgain)
{
    FakeClockLock idle(5);
    QWidget window, other;
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QMouseEvent move(QEvent::MouseMove, QPointF(12, 12), QPointF(12, 12), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    idle.advance(4min);
    for (const auto &[receiver, input] : {std::pair<QWidget *, QEvent *>{&window, &key}, {&other, &move},
                                          {&window, &wheel}, {&other, &press}}) {
        QApplication::sendEvent(receiver, input);
        idle.advance(4min);
    }
    EXPECT_EQ(idle.locks, 0);
    // Events that are not input (a repaint, a resize) do not count.
    QEvent paint(QEvent::UpdateRequest);
    QApplication::sendEvent(&window, &paint);
    idle.advance(1min);
    EXPECT_EQ(idle.locks, 1);
}

TEST(IdleLock, BusyWorkHoldsTheLockUntilItEnds)
{
    FakeClockLock idle(10);
    idle.busy = true;
    idle.advance(45min);
    EXPECT_EQ(idle.locks, 0);
    idle.busy = false;
    idle.advance(1s);
    EXPECT_EQ(idle.locks, 1) << "idle all along: locks as soon as nothing is busy";

    // With input during the busy stretch, the full time counts from that input.
    FakeClockLock active(10);
    active.busy = true;
    active.advance(30min);
    active.lock.noteInput();
    active.busy = false;
    active.advance(9min);
    EXPECT_EQ(active.locks, 0);
    active.advance(1min);
    EXPECT_EQ(active.locks, 1);
}

TEST(IdleLock, OffNeverFiresAndChangesApplyAtOnce)
{
    FakeClockLock idle(0);
    idle.advance(24h);
    EXPECT_EQ(idle.locks, 0);
    idle.lock.setIdleMinutes(-3);
    idle.advance(24h);
    EXPECT_EQ(idle.locks, 0);

    FakeClockLock shorter(30);
    shorter.advance(6min);
    shorter.lock.setIdleMinutes(5);
    shorter.lock.check();
    EXPECT_EQ(shorter.locks, 1) << "already idle longer than the new time";
}

TEST(IdleLock, TheDesktopsLockCountsOnlyWithTheOptionOn)
{
    FakeClockLock idle(0);
    XXSessionSignals *desktop = idle.lock.sessionSignals();
    ASSERT_NE(desktop, nullptr);
    desktop->sessionLock();
    desktop->prepareForSleep(true);
    desktop->screenSaverActiveChanged(true);
    EXPECT_EQ(idle.locks, 0) << "option off";

    idle.lock.setLockOnScreenLock(true);
    desktop->prepareForSleep(false);
    desktop->screenSaverActiveChanged(false);
    EXPECT_EQ(idle.locks, 0) << "waking up and the screen saver ending are no reasons";
    idle.busy = true;
    desktop->screenSaverActiveChanged(true);
    EXPECT_EQ(idle.locks, 1) << "the desktop's lock does not wait for busy work";
    desktop->sessionLock();
    EXPECT_EQ(idle.locks, 1);
}

namespace {

class IdleLockScreenTest : public apptest::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        volume_ = useStickVolume();
        apptest::makeVault(volume_, "Secret#123");
    }

    // Stores values in the vault (as an earlier session would have) while logged in.
    void storeSettings(const XXTimeoutValues &values)
    {
        ASSERT_TRUE(apptest::startOn(volume_));
        ASSERT_TRUE(xxtimeout::writeTimeoutSettings(values));
        apptest::logOut();
    }

    // Logs in through the login screen; the unlocked screen, once its settings are read.
    XXMainViewController *logIn(int expectedMinutes)
    {
        EXPECT_TRUE(apptest::startOn(volume_));
        window_ = qobject_cast<XXMainWindowController *>(XXAppDelegate::shared()->openMainWindow());
        if (!window_)
            return nullptr;
        login_ = window_->loginViewController();
        XXSecureTextField *field = login_->inputView()->secureTextField();
        field->setFocus();
        QTest::keyClicks(field, "Secret#123");
        QTest::keyClick(field, Qt::Key_Return);
        if (!waitFor([&] { return login_->isLogin(); }))
            return nullptr;
        auto *unlocked = qobject_cast<XXMainViewController *>(window_->presentedView());
        if (unlocked) {
            EXPECT_TRUE(waitFor([&] { return unlocked->idleLock()->idleMinutes() == expectedMinutes; }));
        }
        return unlocked;
    }

    // A stored file, opened with another program and copied to the clipboard: two decrypted
    // copies of it on the computer. Returns the opened copy.
    std::string decryptTwoCopies(const std::string &name, const std::string &content)
    {
        const std::string source = dir_ / name;
        writeFile(source, content);
        XXDiskFileManager &disk = apptest::manager();
        auto tree = apptest::callManager([&](auto done) { disk.acquireProtectFileWithComplete(done); });
        auto top = tree.successWrapper()->allSubFileArray().front();
        EXPECT_TRUE(apptest::callManager([&](auto done) {
                        disk.importJob().start({XXFileWrapper::initWithURL(source)}, top, done);
                    }).isSuccess());
        entry_ = top->allSubFileArray().back();
        const auto opened = disk.cacheFileToComputer(entry_);
        XXPasteStaging staging(disk);
        EXPECT_EQ(staging.stage({entry_}, false, nullptr).stagedPaths.size(), 1u);
        EXPECT_EQ(copiesOnComputer().size(), 2u);
        return opened.value_or("");
    }

    static std::string readStored(const std::string &path)
    {
        auto engine = XXDiskFileManager::lockEngine();
        const int handle = fs_open(path.c_str(), FS_O_READ);
        std::string content;
        char buffer[4096];
        for (int got; handle >= 0 && (got = fs_read(handle, buffer, sizeof buffer)) > 0;)
            content.append(buffer, std::size_t(got));
        if (handle >= 0)
            fs_close(handle);
        return content;
    }

    // Regular files in the private folder but the lock files.
    static std::vector<std::string> copiesOnComputer()
    {
        std::vector<std::string> copies;
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator it(xxcache::applicationFolderPath(), error), end;
             !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (it->is_regular_file() && name != "owner.lock" && name.rfind("volume-", 0) != 0 &&
                it->path().parent_path().filename() != "stamps")
                copies.push_back(it->path().string());
        }
        return copies;
    }

    std::string volume_;
    XXMainWindowController *window_ = nullptr;
    XXLoginViewController *login_ = nullptr;
    std::shared_ptr<XXProtectFileWrapper> entry_;
};

}  // namespace

// The lock button, the idle lock and the desktop's lock: each ends the session with no
// decrypted copy left, an opened copy that was changed saved into the vault first.
TEST_F(IdleLockScreenTest, EveryWayOfLockingLeavesNoDecryptedCopy)
{
    const std::vector<std::pair<const char *, std::function<void(XXMainViewController *)>>> ways = {
        {"lock button", [](XXMainViewController *screen) { screen->lockBtn()->click(); }},
        {"idle lock",
         [](XXMainViewController *screen) {
             static std::chrono::steady_clock::time_point now{};
             screen->idleLock()->setClock([] { return now; });
             screen->idleLock()->stopTimer();
             now += 1h;
             screen->idleLock()->check();
         }},
        {"sleep", [](XXMainViewController *screen) { screen->idleLock()->sessionSignals()->prepareForSleep(true); }},
    };
    storeSettings({5, true});
    for (const auto &[way, lock] : ways) {
        XXMainViewController *unlocked = logIn(5);
        ASSERT_NE(unlocked, nullptr) << way;
        const std::string opened = decryptTwoCopies(std::string(way) + ".txt", "as stored");
        std::ofstream(opened, std::ios::trunc) << "changed by " << way;
        lock(unlocked);
        ASSERT_TRUE(waitFor([&] { return !login_->isLogin(); })) << way;
        EXPECT_TRUE(copiesOnComputer().empty()) << way << ": " << copiesOnComputer().front();
        ASSERT_TRUE(apptest::startOn(volume_));
        ASSERT_TRUE(apptest::logInWith("Secret#123"));
        EXPECT_EQ(readStored(entry_->fullPath()), std::string("changed by ") + way);
        apptest::logOut();
        apptest::closeAllWindows();
    }
}

// A change that cannot be saved stays where it was made, and the person is told where.
TEST_F(IdleLockScreenTest, ALockKeepsAChangeItCannotSaveAndSaysWhere)
{
    XXMainViewController *unlocked = logIn(0);
    ASSERT_NE(unlocked, nullptr);
    const std::string opened = decryptTwoCopies("doc.txt", "as stored");
    std::ofstream(opened, std::ios::trunc) << "unsaved work";
    apptest::callManager([&](auto done) { apptest::manager().removeProtectedFiles({entry_}, done); });
    unlocked->lockBtn()->click();
    const QString told = apptest::takeReminder();
    EXPECT_TRUE(told.startsWith(xxplatform::text("String_240"))) << told.toStdString();
    EXPECT_TRUE(told.contains(QString::fromStdString(opened))) << told.toStdString();
    EXPECT_EQ(copiesOnComputer(), std::vector<std::string>{opened});
    EXPECT_EQ(readFile(opened), "unsaved work");
    // The kept copy would be named again by every later lock in this process.
    std::filesystem::remove(opened);
}

// The stored option reaches the session's lock; with it on, the every-way test locks on sleep,
// and the sheet test switches it on for the running session.
TEST_F(IdleLockScreenTest, TheDesktopsLockLeavesTheSessionOpenWithTheOptionOff)
{
    storeSettings({3, false});
    XXMainViewController *unlocked = logIn(3);  // once it holds 3, the option was read too
    ASSERT_NE(unlocked, nullptr);
    unlocked->idleLock()->sessionSignals()->sessionLock();
    unlocked->idleLock()->sessionSignals()->prepareForSleep(true);
    QTest::qWait(100);
    EXPECT_TRUE(login_->isLogin());
    EXPECT_TRUE(apptest::manager().isLogin());
}

TEST_F(IdleLockScreenTest, TheSheetShowsTheStoredValuesAndStoresThemOnlyOnOk)
{
    storeSettings({45, false});
    XXMainViewController *unlocked = logIn(45);
    ASSERT_NE(unlocked, nullptr);
    QAction *entry = XXAppDelegate::shared()->mainMenu().action("timeout");
    ASSERT_TRUE(entry->isEnabled());
    const auto openSheet = [entry] {
        entry->trigger();
        return apptest::waitForVisible<XXTimeoutSettingView>();
    };

    auto *sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(entry->isEnabled()) << "not twice";
    EXPECT_EQ(sheet->idleMinutesBox()->value(), 45);
    EXPECT_FALSE(sheet->lockOnScreenLockBox()->isChecked());
    sheet->idleMinutesBox()->setValue(0);
    EXPECT_EQ(sheet->idleMinutesBox()->text(), xxplatform::text("String_193"));
    sheet->findChild<QPushButton *>("cancelBtn")->click();
    EXPECT_TRUE(entry->isEnabled());
    QTest::qWait(50);
    EXPECT_EQ(xxtimeout::readTimeoutSettings(), (XXTimeoutValues{45, false})) << "cancel stores nothing";
    EXPECT_EQ(unlocked->idleLock()->idleMinutes(), 45);

    sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    sheet->idleMinutesBox()->setValue(500);
    EXPECT_EQ(sheet->idleMinutesBox()->value(), 120) << "the box keeps the range";
    sheet->idleMinutesBox()->setValue(1);
    sheet->lockOnScreenLockBox()->setChecked(true);
    sheet->findChild<QPushButton *>("sureBtn")->click();
    EXPECT_TRUE(entry->isEnabled());
    EXPECT_EQ(unlocked->idleLock()->idleMinutes(), 1) << "applies at once";
    EXPECT_TRUE(unlocked->idleLock()->lockOnScreenLock());
    EXPECT_TRUE(waitFor([] { return xxtimeout::readTimeoutSettings() == XXTimeoutValues{1, true}; }));
    EXPECT_TRUE(apptest::visible<XXReminderView>().isEmpty());

    // A store that refuses the write: a reminder says so.
    HeldLock holder(volume_ + "/.TovinCoffervale/config.lock");
    sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    sheet->idleMinutesBox()->setValue(7);
    sheet->findChild<QPushButton *>("sureBtn")->click();
    EXPECT_EQ(apptest::takeReminder(), xxplatform::text("String_197"));
    holder.release();
    EXPECT_EQ(xxtimeout::readTimeoutSettings(), (XXTimeoutValues{1, true}));
    EXPECT_EQ(unlocked->idleLock()->idleMinutes(), 7) << "holds for this session all the same";
}
