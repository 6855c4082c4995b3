// A poll(2)-based XXRunLoop for tests and the command-line tool.
//
// The loop's thread is the thread that constructs it; run() and runFor() must be called there.
#pragma once

#include "XXRunLoop.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

class XXPollRunLoop final : public XXRunLoop {
public:
    XXPollRunLoop();
    ~XXPollRunLoop() override;
    XXPollRunLoop(const XXPollRunLoop &) = delete;
    XXPollRunLoop &operator=(const XXPollRunLoop &) = delete;

    // Runs until quit().
    void run();
    // Runs until the duration has passed or quit() is called, whichever is first. Always
    // handles what is ready at the moment of the call, so runFor(0ms) drains posted tasks
    // and due timers.
    void runFor(std::chrono::milliseconds duration);
    // Makes the running run()/runFor() return after the current callback; any thread.
    // A quit() while the loop is not running makes the next run return at once.
    void quit();

    WatchId watchDescriptor(int fd, Condition condition, Task onReady) override;
    void unwatchDescriptor(WatchId id) override;
    TimerId runAfter(std::chrono::milliseconds delay, Task task) override;
    void cancelTimer(TimerId id) override;
    void post(Task task) override;
    bool isLoopThread() const override;

private:
    using Clock = std::chrono::steady_clock;

    struct Watch {
        int fd;
        Condition condition;
        Task onReady;
    };
    struct Timer {
        Clock::time_point due;
        Task task;
    };

    void requireLoopThread(const char *operation) const;
    void runUntil(const Clock::time_point *deadline);
    void iterate(Clock::time_point wakeBy);
    void runPostedTasks();
    void runDueTimers();
    void wake();

    const std::thread::id loopThread_;
    int wakeFd_;
    std::atomic<bool> quitRequested_{false};

    std::mutex postedMutex_;
    std::deque<Task> posted_;

    std::uint64_t nextId_ = 1;
    std::map<WatchId, Watch> watches_;
    std::map<TimerId, Timer> timers_;
};
