// The file watcher on a real folder: folding a burst of saves, which changes count, and the
// rules for closing and for watchers made on other threads.
#include <gtest/gtest.h>

#include <thread>

#include "MonitorTestSupport.h"
#include "XXFileWatcher.h"
#include "XXMonitorLog.h"

using namespace std::chrono_literals;
using monitortest::runUntil;
using Clock = std::chrono::steady_clock;

namespace {

struct CountingDelegate : XXFileWatcherDelegate {
    int reports = 0;
    Clock::time_point lastReport;
    void fileWatcherDidChange(XXFileWatcher &) override
    {
        ++reports;
        lastReport = Clock::now();
    }
};

class FileWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XXMonitorSetLogSink([](std::string_view) {});
        writeFile(file, "first version");
    }
    void TearDown() override
    {
        if (watcher)
            watcher->closeWatch();
        watcher.reset();
        XXMonitorSetLogSink(nullptr);
    }
    std::shared_ptr<XXFileWatcher> watch(const std::filesystem::path &path)
    {
        watcher = XXFileWatcher::create(loop, path.string(), std::string("protected item"), &delegate);
        return watcher;
    }
    // A watcher of file with a change noticed and its report pending.
    void watchWithAReportPending()
    {
        watch(file);
        writeFile(file, "second");
        loop.runFor(50ms);
        ASSERT_TRUE(watcher->haveDoSomething());
    }
    bool reported()
    {
        return runUntil(
            loop, [&] { return delegate.reports > 0; }, 3s);
    }

    monitortest::ScratchFolder scratch;
    const std::filesystem::path file = scratch.path() / "report.txt";
    XXPollRunLoop loop;
    CountingDelegate delegate;
    std::shared_ptr<XXFileWatcher> watcher;
};

}  // namespace

TEST_F(FileWatcherTest, ABurstOfSavesGivesOneReportASecondAfterTheFirst)
{
    watch(file);
    ASSERT_TRUE(watcher->isWatching());
    const auto firstSave = Clock::now();
    writeFile(file, "second");
    loop.runFor(250ms);
    writeFile(file, "third");
    loop.runFor(250ms);
    writeFile(file, "fourth");

    ASSERT_TRUE(reported());
    // A second after the first save, not after the last (which would be 1.5 s).
    const auto delay = delegate.lastReport - firstSave;
    EXPECT_GE(delay, 950ms);
    EXPECT_LT(delay, 1350ms);
    EXPECT_FALSE(watcher->haveDoSomething());
    loop.runFor(1200ms);
    EXPECT_EQ(delegate.reports, 1);
}

TEST_F(FileWatcherTest, DeletingTheFileOrTouchingOthersGivesNoReport)
{
    watch(file);
    writeFile(scratch.path() / "neighbour.txt", "not watched");
    loop.runFor(100ms);
    EXPECT_FALSE(watcher->haveDoSomething());
    std::filesystem::remove(file);
    loop.runFor(1300ms);
    EXPECT_EQ(delegate.reports, 0);
}

TEST_F(FileWatcherTest, InvalidateDeliversThePendingReportThenCloses)
{
    watchWithAReportPending();
    watcher->invalidate();
    EXPECT_TRUE(watcher->isWatching());
    std::weak_ptr<XXFileWatcher> weak = watcher;
    watcher.reset();  // the owner lets go; the pending report still comes
    EXPECT_FALSE(weak.expired());
    ASSERT_TRUE(reported());
    EXPECT_TRUE(weak.expired());
}

TEST_F(FileWatcherTest, ClosingWithoutAPendingReportOrByCloseWatchReportsNothing)
{
    const auto idle = watch(scratch.path() / "other.txt");
    idle->invalidate();
    EXPECT_FALSE(idle->isWatching());

    watchWithAReportPending();
    watcher->closeWatch();
    EXPECT_FALSE(watcher->isWatching());
    EXPECT_FALSE(watcher->haveDoSomething());
    writeFile(scratch.path() / "other.txt", "written after the close");
    loop.runFor(1200ms);
    EXPECT_EQ(delegate.reports, 0);
}

TEST_F(FileWatcherTest, AWatcherCreatedOnAnotherThreadSetsUpOnTheLoop)
{
    std::thread([&] { watch(file); }).join();
    EXPECT_FALSE(watcher->isWatching());
    loop.runFor(0ms);
    ASSERT_TRUE(watcher->isWatching());
    writeFile(file, "second");
    EXPECT_TRUE(reported());

    // One closed before the set-up handed to the loop has run never starts.
    std::thread([&] { watch(file); }).join();
    watcher->closeWatch();
    loop.runFor(0ms);
    EXPECT_FALSE(watcher->isWatching());
}

TEST_F(FileWatcherTest, AMissingFolderLeavesTheWatcherIdle)
{
    watch(scratch.path() / "no-such-folder" / "report.txt");
    EXPECT_FALSE(watcher->isWatching());
    watcher->closeWatch();
    watcher->invalidate();
    EXPECT_FALSE(watcher->isWatching());
}
