// Which transfer runs are in progress, so that logging out can stop them before the store
// is unmounted: a run that is cancelled mid-file still removes its partial file, and it can
// only do that while the store is there.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

class XXTransferActivity {
public:
    using CancelHandler = std::function<void()>;

    XXTransferActivity() = default;
    XXTransferActivity(const XXTransferActivity &) = delete;
    XXTransferActivity &operator=(const XXTransferActivity &) = delete;

    // Marks the calling thread as running a transfer loop while it lives.
    class Scope {
    public:
        explicit Scope(XXTransferActivity &activity);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        XXTransferActivity &activity_;
        std::multimap<std::thread::id, int>::iterator entry_;
    };

    // A pipeline's cancel, run by cancelAll(). The handler must outlive its registration.
    std::uint64_t addCancelHandler(CancelHandler handler);
    void removeCancelHandler(std::uint64_t token);

    // Cancels every registered pipeline, then waits until every loop running on another
    // thread has returned, or timeout has passed. Loops on the calling thread (a hook that
    // logs out) are not waited for. True when none is left running.
    bool cancelAllAndWait(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable stopped_;
    std::multimap<std::thread::id, int> running_;
    std::map<std::uint64_t, CancelHandler> cancelHandlers_;
    std::uint64_t nextToken_ = 1;
};
