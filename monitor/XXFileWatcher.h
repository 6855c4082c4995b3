// Tells a delegate when a file on the computer has been saved again.
//
// Watches the folder that holds the file (inotify) for the file being created, deleted,
// renamed to or from, or closed after writing: in-place saves and editors' safe saves
// (write a temporary file, rename it over the original) alike. All changes within one
// second of the first are folded into one report, made only when the file still exists.
// Changes to other entries of the folder are not reported.
//
// Everything runs on the loop's thread: a watcher created on another thread sets itself up
// there. The owner calls invalidate() before letting the watcher go; a pending report is
// still delivered first (the scheduled report keeps the watcher alive until then).
#pragma once

#include "XXRunLoop.h"

#include <any>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class XXFileWatcher;

class XXFileWatcherDelegate {
public:
    virtual ~XXFileWatcherDelegate() = default;
    // On the loop's thread, while the file at watcher.watchPath() exists.
    virtual void fileWatcherDidChange(XXFileWatcher &watcher) = 0;
};

class XXFileWatcher : public std::enable_shared_from_this<XXFileWatcher> {
    struct Passkey {};

public:
    static constexpr std::chrono::milliseconds foldingDelay{1000};

    // protectFileWrapper is whatever the owner uses to find the protected item the file was
    // exported from (the service keeps its XXProtectFileWrapper handle there); the watcher
    // only hands it back. delegate is not owned; it must outlive the watcher or be reset.
    // Any thread.
    static std::shared_ptr<XXFileWatcher> create(XXRunLoop &loop, std::string watchPath,
                                                 std::any protectFileWrapper,
                                                 XXFileWatcherDelegate *delegate);

    XXFileWatcher(Passkey, XXRunLoop &loop, std::string watchPath, std::any protectFileWrapper,
                  XXFileWatcherDelegate *delegate);
    ~XXFileWatcher();
    XXFileWatcher(const XXFileWatcher &) = delete;
    XXFileWatcher &operator=(const XXFileWatcher &) = delete;

    // Stops watching: at once when nothing is pending, else right after the pending report.
    // Any thread (handed to the loop from others).
    void invalidate();
    // Stops watching now; a pending report is dropped. A closed watcher does not start again.
    // Any thread (handed to the loop from others).
    void closeWatch();

    const std::string &watchPath() const { return watchPath_; }
    const std::any &protectFileWrapper() const { return protectFileWrapper_; }
    XXFileWatcherDelegate *delegate() const { return delegate_; }
    void setDelegate(XXFileWatcherDelegate *delegate) { delegate_ = delegate; }  // loop thread
    // True from a change until its report has been delivered.
    bool haveDoSomething() const { return haveDoSomething_; }
    // True while the folder is being watched. Any thread.
    bool isWatching() const { return watching_; }

private:
    void startMonitoringFile(const std::string &folder);
    void watchOnLoopThread(const std::string &folder);
    void changedCallback();
    void deliverReport();
    bool drainEvents();

    XXRunLoop &loop_;
    const std::string watchPath_;
    const std::string fileName_;
    const std::any protectFileWrapper_;
    XXFileWatcherDelegate *delegate_;

    // Loop thread only.
    int inotifyFd_ = -1;
    XXRunLoop::WatchId loopWatch_ = 0;
    XXRunLoop::TimerId reportTimer_ = 0;
    bool closed_ = false;
    std::function<void()> block_;  // runs right after the next report (set by invalidate)

    std::atomic<bool> haveDoSomething_{false};
    std::atomic<bool> watching_{false};
};
