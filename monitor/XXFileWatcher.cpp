#include "XXFileWatcher.h"

#include "XXMonitorLog.h"

#include <cerrno>
#include <climits>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Entry changes in the folder plus in-place writes of the file.
constexpr std::uint32_t watchedEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR;

}  // namespace

std::shared_ptr<XXFileWatcher> XXFileWatcher::create(XXRunLoop &loop, std::string watchPath,
                                                     std::any protectFileWrapper,
                                                     XXFileWatcherDelegate *delegate)
{
    auto watcher = std::make_shared<XXFileWatcher>(Passkey{}, loop, std::move(watchPath),
                                                   std::move(protectFileWrapper), delegate);
    watcher->startMonitoringFile(fs::path(watcher->watchPath_).parent_path().string());
    return watcher;
}

XXFileWatcher::XXFileWatcher(Passkey, XXRunLoop &loop, std::string watchPath, std::any protectFileWrapper,
                             XXFileWatcherDelegate *delegate)
    : loop_(loop), watchPath_(std::move(watchPath)), fileName_(fs::path(watchPath_).filename().string()),
      protectFileWrapper_(std::move(protectFileWrapper)), delegate_(delegate)
{}

XXFileWatcher::~XXFileWatcher()
{
    XXMonitorLog("XXFileWatcher dealloc");
    if (inotifyFd_ < 0)
        return;
    if (loop_.isLoopThread()) {
        loop_.unwatchDescriptor(loopWatch_);
        close(inotifyFd_);
    } else {
        loop_.post([&loop = loop_, watch = loopWatch_, fd = inotifyFd_] {
            loop.unwatchDescriptor(watch);
            close(fd);
        });
    }
}

void XXFileWatcher::startMonitoringFile(const std::string &folder)
{
    if (loop_.isLoopThread()) {
        watchOnLoopThread(folder);
        return;
    }
    loop_.post([weak = weak_from_this(), folder] {
        if (auto watcher = weak.lock())
            watcher->watchOnLoopThread(folder);
    });
}

void XXFileWatcher::watchOnLoopThread(const std::string &folder)
{
    if (closed_ || inotifyFd_ >= 0 || folder.empty())
        return;
    // Any failure leaves the watcher idle and silent, as a missing folder does.
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return;
    if (inotify_add_watch(fd, folder.c_str(), watchedEvents) < 0) {
        close(fd);
        return;
    }
    inotifyFd_ = fd;
    loopWatch_ = loop_.watchDescriptor(fd, XXRunLoop::Condition::readable, [weak = weak_from_this()] {
        if (auto watcher = weak.lock())
            watcher->changedCallback();
    });
    watching_ = true;
}

void XXFileWatcher::changedCallback()
{
    // Changes while a report is pending are folded into it.
    if (!drainEvents() || haveDoSomething_)
        return;
    haveDoSomething_ = true;
    if (reportTimer_ != 0)
        loop_.cancelTimer(reportTimer_);
    // The timer holds the watcher, so a report still comes after the owner has let go.
    reportTimer_ = loop_.runAfter(foldingDelay, [self = shared_from_this()] {
        self->reportTimer_ = 0;
        self->deliverReport();
    });
}

void XXFileWatcher::deliverReport()
{
    // What arrived since the first change is part of this report.
    drainEvents();
    std::error_code error;
    if (delegate_ && fs::exists(watchPath_, error))
        delegate_->fileWatcherDidChange(*this);
    haveDoSomething_ = false;
    if (block_) {
        std::function<void()> block = std::move(block_);
        block_ = nullptr;
        block();
    }
}

bool XXFileWatcher::drainEvents()
{
    bool concernsFile = false;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t length = read(inotifyFd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            return concernsFile;  // EAGAIN: nothing more queued
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            // After an overflow nobody knows what was lost, so count it as a change.
            if ((event->mask & IN_Q_OVERFLOW) || (event->len > 0 && fileName_ == event->name))
                concernsFile = true;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void XXFileWatcher::invalidate()
{
    if (!loop_.isLoopThread()) {
        loop_.post([self = shared_from_this()] { self->invalidate(); });
        return;
    }
    if (!haveDoSomething_) {
        closeWatch();
        return;
    }
    block_ = [weak = weak_from_this()] {
        if (auto watcher = weak.lock())
            watcher->closeWatch();
    };
}

void XXFileWatcher::closeWatch()
{
    auto self = shared_from_this();  // cancelling the report may drop the last other holder
    if (!loop_.isLoopThread()) {
        loop_.post([self] { self->closeWatch(); });
        return;
    }
    closed_ = true;
    if (reportTimer_ != 0) {
        loop_.cancelTimer(reportTimer_);
        reportTimer_ = 0;
        haveDoSomething_ = false;
    }
    if (loopWatch_ != 0) {
        loop_.unwatchDescriptor(loopWatch_);
        loopWatch_ = 0;
    }
    if (inotifyFd_ >= 0) {
        close(inotifyFd_);
        inotifyFd_ = -1;
    }
    watching_ = false;
}
