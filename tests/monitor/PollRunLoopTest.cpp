// The poll-based loop: posted tasks, timers, descriptor watches, quitting, and its thread rule.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "MonitorTestSupport.h"
#include "XXPollRunLoop.h"

using namespace std::chrono_literals;
using monitortest::runUntil;

TEST(PollRunLoop, RunsPostedTasksInOrderFromAnyThread)
{
    XXPollRunLoop loop;
    std::vector<int> order;
    bool otherThreadIsLoop = true;
    loop.post([&] { order.push_back(1); });
    std::thread([&] {
        otherThreadIsLoop = loop.isLoopThread();
        loop.post([&] { order.push_back(2); });
    }).join();
    loop.post([&] {
        order.push_back(3);
        loop.post([&] { order.push_back(4); });  // posted while running: runs after
    });

    EXPECT_TRUE(runUntil(
        loop, [&] { return order.size() == 4; }, 1s));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(loop.isLoopThread());
    EXPECT_FALSE(otherThreadIsLoop);
}

TEST(PollRunLoop, TimersFireInDueOrderAndCancelledOnesNever)
{
    XXPollRunLoop loop;
    std::vector<std::string> fired;
    loop.runAfter(40ms, [&] { fired.push_back("late"); });
    const auto cancelled = loop.runAfter(30ms, [&] { fired.push_back("cancelled"); });
    loop.runAfter(10ms, [&] {
        fired.push_back("early");
        loop.cancelTimer(cancelled);
    });
    loop.cancelTimer(9999);  // unknown ids are harmless

    EXPECT_TRUE(runUntil(
        loop, [&] { return fired.size() == 2; }, 1s));
    loop.runFor(50ms);
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
}

TEST(PollRunLoop, WatchCallsBackWhileReadableUntilUnwatched)
{
    XXPollRunLoop loop;
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_NONBLOCK), 0);
    int calls = 0;
    XXRunLoop::WatchId watch = 0;
    watch = loop.watchDescriptor(pipeFds[0], XXRunLoop::Condition::readable, [&] {
        char byte;
        while (read(pipeFds[0], &byte, 1) == 1) {
        }
        if (++calls == 2)
            loop.unwatchDescriptor(watch);
    });

    loop.runFor(20ms);
    EXPECT_EQ(calls, 0);
    for (int expected : {1, 2}) {
        ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
        EXPECT_TRUE(runUntil(
            loop, [&] { return calls == expected; }, 1s));
    }
    ASSERT_EQ(write(pipeFds[1], "z", 1), 1);
    loop.runFor(30ms);
    EXPECT_EQ(calls, 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST(PollRunLoop, QuitFromAnotherThreadEndsRun)
{
    XXPollRunLoop loop;
    const auto start = std::chrono::steady_clock::now();
    std::thread other([&] {
        std::this_thread::sleep_for(30ms);
        loop.quit();
    });
    loop.run();
    other.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // A quit that came while the loop was idle ends the next run at once.
    loop.quit();
    const auto again = std::chrono::steady_clock::now();
    loop.runFor(5s);
    EXPECT_LT(std::chrono::steady_clock::now() - again, 1s);
}

TEST(PollRunLoop, RefusesLoopOnlyCallsFromOtherThreads)
{
    XXPollRunLoop loop;
    std::thread([&] { EXPECT_THROW(loop.runAfter(1ms, [] {}), std::logic_error); }).join();
}
