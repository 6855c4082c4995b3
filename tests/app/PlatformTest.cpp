// The Qt run loop, the worker queue and the clipboard rule.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

#include <unistd.h>

#include <atomic>

#include "AppTestSupport.h"
#include "XXClipboard.h"
#include "XXQtRunLoop.h"

using namespace std::chrono_literals;
using apptest::waitFor;

TEST(QtRunLoop, PostsTimersAndDescriptorsRunOnTheLoopThread)
{
    XXQtRunLoop loop;
    EXPECT_TRUE(loop.isLoopThread());

    std::atomic<bool> postedOnLoop{false};
    std::thread other([&] {
        EXPECT_FALSE(loop.isLoopThread());
        loop.post([&] { postedOnLoop = loop.isLoopThread(); });
    });
    other.join();
    ASSERT_TRUE(waitFor([&] { return postedOnLoop.load(); }));

    int fired = 0, cancelledFired = 0;
    loop.runAfter(10ms, [&] { ++fired; });
    const auto cancelled = loop.runAfter(10ms, [&] { ++cancelledFired; });
    loop.cancelTimer(cancelled);
    loop.cancelTimer(cancelled);
    QTest::qWait(60);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(cancelledFired, 0);

    // A level-triggered watch that consumes its byte and then unwatches itself from inside.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int reads = 0;
    XXRunLoop::WatchId id = 0;
    id = loop.watchDescriptor(fds[0], XXRunLoop::Condition::readable, [&] {
        char byte;
        ASSERT_EQ(read(fds[0], &byte, 1), 1);
        if (++reads == 2)
            loop.unwatchDescriptor(id);
    });
    ASSERT_EQ(write(fds[1], "ab", 2), 2);
    ASSERT_TRUE(waitFor([&] { return reads == 2; }));
    ASSERT_EQ(write(fds[1], "c", 1), 1);
    QTest::qWait(50);
    EXPECT_EQ(reads, 2);
    close(fds[0]);
    close(fds[1]);
}

TEST(Worker, WorkLeavesTheGuiThreadAndItsResultComesBackOnlyWhileTheContextLives)
{
    QObject context;
    QThread *workThread = nullptr;
    QThread *doneThread = nullptr;
    int result = 0;
    xxplatform::runInBackground(
        &context, 20ms,
        [&] {
            workThread = QThread::currentThread();
            return 42;
        },
        [&](int value) {
            doneThread = QThread::currentThread();
            result = value;
        });
    ASSERT_TRUE(waitFor([&] { return result == 42; }));
    EXPECT_NE(workThread, QThread::currentThread());
    EXPECT_EQ(doneThread, QThread::currentThread());

    std::atomic<bool> worked{false};
    bool doneCalled = false;
    auto *shortLived = new QObject;
    xxplatform::runInBackground(
        shortLived, 0ms,
        [&] {
            QThread::msleep(50);
            worked = true;
        },
        [&] { doneCalled = true; });
    delete shortLived;
    ASSERT_TRUE(waitFor([&] { return worked.load(); }));
    QTest::qWait(50);
    EXPECT_FALSE(doneCalled);
}

TEST(Clipboard, OnlyOurOwnDataIsCleared)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("copied in another program"));
    EXPECT_FALSE(xxplatform::clearClipboardIfOurs());
    EXPECT_EQ(clipboard->text(), QStringLiteral("copied in another program"));

    auto *ours = new QMimeData;
    ours->setText(QStringLiteral("ours"));
    xxplatform::markAsOurs(*ours);
    clipboard->setMimeData(ours);
    EXPECT_TRUE(xxplatform::clearClipboardIfOurs());
    EXPECT_FALSE(xxplatform::isOurs(clipboard->mimeData()));
    EXPECT_TRUE(clipboard->text().isEmpty());
}

TEST(Texts, FieldsCountCharactersNotUtf16Units)
{
    const QString mixed = QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("密码");
    EXPECT_EQ(xxplatform::characterCount(mixed), 5);
    EXPECT_EQ(xxplatform::firstCharacters(mixed, 3), QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600"));
    std::string secret = "Secret#123";
    xxplatform::wipe(secret);
    EXPECT_TRUE(secret.empty());
}
