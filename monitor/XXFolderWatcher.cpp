#include "XXFolderWatcher.h"

#include <cerrno>
#include <climits>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t entryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE;
constexpr std::uint32_t goneEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

}  // namespace

XXFolderWatcher::XXFolderWatcher(XXRunLoop &loop, std::chrono::milliseconds foldingDelay,
                                 ChangeHandler onChange)
    : loop_(loop), foldingDelay_(foldingDelay), onChange_(std::move(onChange))
{
    inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ >= 0)
        loopWatch_ = loop_.watchDescriptor(inotifyFd_, XXRunLoop::Condition::readable, [this] { readEvents(); });
}

XXFolderWatcher::~XXFolderWatcher()
{
    if (reportTimer_ != 0)
        loop_.cancelTimer(reportTimer_);
    if (loopWatch_ != 0)
        loop_.unwatchDescriptor(loopWatch_);
    if (inotifyFd_ >= 0)
        close(inotifyFd_);  // drops every watch with it
}

bool XXFolderWatcher::watchFolder(const std::string &path)
{
    if (inotifyFd_ < 0 || path.empty())
        return false;
    if (watchOfPath_.count(path))
        return true;
    const int descriptor = inotify_add_watch(inotifyFd_, path.c_str(), entryEvents | goneEvents | IN_ONLYDIR);
    if (descriptor < 0)
        return false;
    // Two paths of one folder (a link) share the kernel's watch; each keeps its own name.
    watchOfPath_[path] = descriptor;
    return true;
}

void XXFolderWatcher::unwatchFolder(const std::string &path)
{
    const auto found = watchOfPath_.find(path);
    if (found == watchOfPath_.end())
        return;
    const int descriptor = found->second;
    watchOfPath_.erase(found);
    for (const auto &[other, otherDescriptor] : watchOfPath_)
        if (otherDescriptor == descriptor)
            return;
    inotify_rm_watch(inotifyFd_, descriptor);
}

void XXFolderWatcher::setWatchedFolders(const std::set<std::string> &paths)
{
    for (const std::string &path : watchedFolders())
        if (!paths.count(path))
            unwatchFolder(path);
    for (const std::string &path : paths)
        watchFolder(path);
}

std::set<std::string> XXFolderWatcher::watchedFolders() const
{
    std::set<std::string> paths;
    for (const auto &[path, descriptor] : watchOfPath_)
        paths.insert(path);
    return paths;
}

void XXFolderWatcher::dropWatch(int descriptor)
{
    bool wasOurs = false;
    for (auto it = watchOfPath_.begin(); it != watchOfPath_.end();) {
        if (it->second == descriptor) {
            changed_.insert(it->first);
            it = watchOfPath_.erase(it);
            wasOurs = true;
        } else {
            ++it;
        }
    }
    // A folder renamed away keeps its kernel watch on the moved folder; nobody wants that one.
    if (wasOurs)
        inotify_rm_watch(inotifyFd_, descriptor);
}

void XXFolderWatcher::readEvents()
{
    alignas(inotify_event) char buffer[32 * (sizeof(inotify_event) + NAME_MAX + 1)];
    bool any = false;
    for (;;) {
        const ssize_t length = read(inotifyFd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break;  // EAGAIN: all read
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            any = true;
            if (event->mask & IN_Q_OVERFLOW) {
                // Nobody knows what was lost: every folder may have changed.
                for (const auto &[path, descriptor] : watchOfPath_)
                    changed_.insert(path);
                continue;
            }
            if (event->mask & (goneEvents | IN_IGNORED)) {
                dropWatch(event->wd);
                continue;
            }
            for (const auto &[path, descriptor] : watchOfPath_)
                if (descriptor == event->wd)
                    changed_.insert(path);
        }
    }
    if (any && !changed_.empty() && reportTimer_ == 0)
        reportTimer_ = loop_.runAfter(foldingDelay_, [this] {
            reportTimer_ = 0;
            report();
        });
}

void XXFolderWatcher::report()
{
    if (changed_.empty())
        return;
    const std::vector<std::string> folders(changed_.begin(), changed_.end());
    changed_.clear();
    if (onChange_)
        onChange_(folders);
}
