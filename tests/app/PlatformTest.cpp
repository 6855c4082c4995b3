// The Qt run loop, the worker queue and the clipboard rule.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

#include "AppTestSupport.h"
#include "XXClipboard.h"
#include "XXQtRunLoop.h"
#include "XXSelectionTimeGuard.h"
#include "XXSingleInstance.h"

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

TEST(Worker, WorkLeavesTheGuiThreadAndItsResultComesBackToIt)
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
}

// A screen closed just as its work ends: the worker must never post to the freed widget. Each
// round frees the widget at the moment the work returns, so under AddressSanitizer a post that
// reads the widget after its guard was checked shows up as a use after free.
TEST(Worker, AScreenClosedAsItsWorkEndsIsNeverTouched)
{
    constexpr int rounds = 400;
    int doneCalls = 0;
    for (int round = 0; round < rounds; ++round) {
        auto *screen = new QWidget;
        std::atomic<bool> ending{false};
        xxplatform::runInBackground(
            screen, 0ms, [&ending] { ending = true; }, [&doneCalls] { ++doneCalls; });
        while (!ending.load())
            QThread::yieldCurrentThread();
        // A different moment each round; the volatile store keeps the loop from being optimised away.
        volatile int spin = 0;
        while (spin < round % 64)
            spin = spin + 1;
        delete screen;
    }
    ASSERT_TRUE(xxplatform::waitForWorkers(5s));
    QTest::qWait(20);
    EXPECT_EQ(doneCalls, 0);  // every screen was gone before the GUI thread could show a result
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

namespace {

// X11 events in their wire layout, as the server sends them: the type, then the time at the
// offset where that type carries it.
constexpr unsigned char keyPress = 2, propertyNotify = 28, selectionRequest = 30;
std::size_t timeOffset(unsigned char type)
{
    return type == propertyNotify ? 12 : 4;
}
std::array<unsigned char, 32> event(unsigned char type, std::uint32_t time)
{
    std::array<unsigned char, 32> wire{};
    wire[0] = type;
    std::memcpy(wire.data() + timeOffset(type), &time, 4);
    return wire;
}
// What Qt does with the times it sees: keeps the newest, on the wrapping 32-bit clock.
struct QtClock {
    std::uint32_t now = 0;
    void see(std::uint32_t time)
    {
        if (static_cast<std::int32_t>(time - now) > 0 || now == 0)
            now = time;
    }
};

}  // namespace

// pcmanfm asks for a drag's data with the Unix time in seconds, which Qt keeps as its clock;
// the guard lets the request through and then brings the clock back to the server's.
TEST(SelectionTimeGuard, AFalseTimeFromTheFutureIsUndoneAfterTheDrag)
{
    XXSelectionTimeGuard guard;
    QtClock qt;
    // Delivers an event and returns the time Qt sees in it.
    auto deliver = [&](unsigned char type, std::uint32_t time) {
        auto wire = event(type, time);
        guard.inspect(wire.data());
        std::memcpy(&time, wire.data() + timeOffset(type), 4);
        qt.see(time);
        return time;
    };
    deliver(keyPress, 1'000'000);
    EXPECT_EQ(deliver(selectionRequest, 1'000'500), 1'000'500u) << "a request of now is left alone";
    EXPECT_FALSE(guard.isRepairing());

    guard.setDragRunning(true);
    const std::uint32_t unixSeconds = 1'796'783'870;
    EXPECT_EQ(deliver(selectionRequest, unixSeconds), unixSeconds) << "the drag needs it as it is";
    EXPECT_EQ(qt.now, unixSeconds);
    EXPECT_EQ(deliver(propertyNotify, 1'001'000), 1'001'000u) << "no repair while the drag runs";
    guard.setDragRunning(false);

    deliver(keyPress, 1'002'000);  // the Ctrl of a Ctrl+C
    EXPECT_NE(qt.now, unixSeconds);
    deliver(keyPress, 1'002'100);  // its C
    EXPECT_EQ(qt.now, 1'002'100u) << "the clock the next copy claims the clipboard with";
    EXPECT_FALSE(guard.isRepairing());
    EXPECT_EQ(deliver(keyPress, 1'002'200), 1'002'200u);

    // Events sent by other programs carry whatever time they like and teach the guard nothing.
    auto sent = event(keyPress, unixSeconds);
    sent[0] |= 0x80;
    guard.inspect(sent.data());
    EXPECT_EQ(guard.lastServerTime(), 1'002'200u);
}

// A second start on the same volume (by any path to it) finds the first, which is asked to
// show itself; another volume gets a program of its own.
TEST(SingleInstance, ASecondStartOnTheSameVolumeHandsOverToTheFirst)
{
    TempDir volumes;
    std::filesystem::create_directories(volumes / "stick");
    std::filesystem::create_directories(volumes / "other");
    std::filesystem::create_directory_symlink(volumes / "stick", volumes / "link");
    XXSingleInstance first;
    int raised = 0;
    QObject::connect(&first, &XXSingleInstance::raiseRequested, [&] { ++raised; });
    ASSERT_EQ(first.claim(QString::fromStdString(volumes / "stick")), XXSingleInstance::Role::first);

    XXSingleInstance second;
    EXPECT_EQ(second.claim(QString::fromStdString(volumes / "link")), XXSingleInstance::Role::handedOver);
    EXPECT_TRUE(apptest::waitFor([&] { return raised == 1; }));
    XXSingleInstance elsewhere;
    EXPECT_EQ(elsewhere.claim(QString::fromStdString(volumes / "other")), XXSingleInstance::Role::first);
    EXPECT_EQ(raised, 1);
}
