// Real vaults on temporary volume folders, the one delegate of the process, and waits that
// keep the event loop turning.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <memory>
#include <optional>
#include <string>

#include "TempDir.h"
#include "XXAppDelegate.h"
#include "XXDiskCheck.h"
#include "XXDiskFileManager.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWorker.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace apptest {

// Turns the event loop until done() holds; false after timeout.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs = 5000)
{
    return QTest::qWaitFor(done, timeoutMs);
}

// The visible top-level widgets of type T, newest last.
template <class T>
QList<T *> visible()
{
    QList<T *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *typed = qobject_cast<T *>(widget); typed && typed->isVisible())
            found.append(typed);
    }
    return found;
}

template <class T>
T *waitForVisible(int timeoutMs = 5000)
{
    T *found = nullptr;
    waitFor(
        [&] {
            const auto all = visible<T>();
            found = all.isEmpty() ? nullptr : all.last();
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

// The texts a dialog shows, joined with "|".
inline QString reminderText(QWidget *dialog)
{
    QStringList texts;
    for (auto *label : dialog->findChildren<QLabel *>()) {
        if (!label->text().isEmpty())
            texts << label->text();
    }
    return texts.join("|");
}

// Closes every window and dialog and lets the deletions happen.
inline void closeAllWindows()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            widget->close();
    }
    QApplication::processEvents();
    xxplatform::waitForWorkers(std::chrono::seconds(10));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

inline XXDiskResultObject callManager(const std::function<void(const XXDiskResultBlock &)> &call)
{
    XXDiskResultObject outcome = XXDiskResultObject();
    call([&outcome](const XXDiskResultObject &result) { outcome = result; });
    return outcome;
}

inline XXDiskFileManager &manager()
{
    return XXDiskFileManager::shareDiskFileManager();
}

// The session calls the screens make, made directly; true on success.
inline bool startOn(const std::string &volume)
{
    return callManager([&](auto done) { manager().startManagerWithDiskPath(volume, done); }).isSuccess();
}
inline bool logInWith(const std::string &password)
{
    return callManager([&](auto done) { manager().loginWithPassword(password, done); }).isSuccess();
}
inline void logOut()
{
    callManager([](auto done) { manager().logOutComplete(done); });
}

// A vault with an account on volume, left logged out.
inline void makeVault(const std::string &volume, const std::string &password, const std::string &hint = "")
{
    ASSERT_TRUE(startOn(volume));
    ASSERT_TRUE(callManager([&](auto done) {
                    manager().createAccountWithPassword(password, hint, done);
                }).isSuccess());
    logOut();
}

// The text of the next reminder, which is then dismissed.
inline QString takeReminder()
{
    XXReminderView *reminder = waitForVisible<XXReminderView>();
    if (!reminder)
        return "<no reminder>";
    const QString text = reminderText(reminder);
    reminder->findChild<QPushButton *>("sureBtn")->click();
    QApplication::processEvents();
    return text;
}

// The process's delegate and a clean slate of windows, volumes and language for each test.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XXAppDelegate::shared())
            new XXAppDelegate(qApp);
        XXTool::shareTool().setLanguageName("en");
        XXAppDelegate::shared()->reSetPageLanguage();
        savedSource_ = XXVolumeSource::current();
    }
    void TearDown() override
    {
        closeAllWindows();
        logOut();
        XXVolumeSource::current() = savedSource_;
        XXTool::shareTool().setLanguageName("en");
    }

    // The screens see exactly these volumes (BSD names in order) and the program's folder.
    void useVolumes(const std::vector<std::string> &paths, const std::string &appRunPath = "")
    {
        XXDiskDictionary disks;
        int n = 0;
        for (const auto &path : paths) {
            const std::string name = "sd" + std::string(1, char('a' + n++));
            disks[name] = XXDiskDescription{name, "USB", 16'000'000'000ULL, path};
        }
        XXVolumeSource::current() = XXVolumeSource{[disks] { return std::optional<XXDiskDictionary>(disks); },
                                                   [appRunPath] { return appRunPath; }, {}};
    }

    // One stick volume under the test's folder, the only one the screens see.
    std::string useStickVolume()
    {
        const std::string stick = dir_ / "stick";
        std::filesystem::create_directories(stick);
        useVolumes({stick});
        return stick;
    }

    TempDir dir_;

private:
    XXVolumeSource savedSource_;
};

}  // namespace apptest
