// The main-thread event loop that the disk monitor and the file watcher run on.
//
// The application supplies a Qt implementation (QSocketNotifier, single-shot QTimer,
// QMetaObject::invokeMethod); tests and the command-line tool use XXPollRunLoop.
//
// Thread rules: post() and isLoopThread() may be called from any thread. Everything else
// must be called on the loop's thread; callbacks always run there.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

class XXRunLoop {
public:
    using Task = std::function<void()>;
    // Identifies a watch or a timer; 0 is never handed out and means "none".
    using WatchId = std::uint64_t;
    using TimerId = std::uint64_t;

    enum class Condition {
        readable,  // POLLIN  (QSocketNotifier::Read)
        priority,  // POLLPRI (QSocketNotifier::Exception), how /proc/self/mountinfo signals a change
    };

    virtual ~XXRunLoop() = default;

    // Calls onReady whenever fd is in the given condition (or has an error). Level-triggered:
    // onReady must consume what made fd ready, or it is called again at once. The caller
    // keeps ownership of fd and must unwatch it before closing it. Unwatching from inside
    // onReady is allowed.
    virtual WatchId watchDescriptor(int fd, Condition condition, Task onReady) = 0;
    virtual void unwatchDescriptor(WatchId id) = 0;

    // Runs task once after delay. Cancelling a timer that already ran or was cancelled is
    // harmless.
    virtual TimerId runAfter(std::chrono::milliseconds delay, Task task) = 0;
    virtual void cancelTimer(TimerId id) = 0;

    // Queues task to run on the loop's thread, after the tasks posted before it.
    virtual void post(Task task) = 0;

    virtual bool isLoopThread() const = 0;
};
