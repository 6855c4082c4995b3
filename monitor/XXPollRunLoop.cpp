#include "XXPollRunLoop.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

XXPollRunLoop::XXPollRunLoop()
    : loopThread_(std::this_thread::get_id()), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (wakeFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "XXPollRunLoop: eventfd");
}

XXPollRunLoop::~XXPollRunLoop()
{
    // Tasks may own objects whose destructors unwatch or cancel; let them run while the
    // loop is still whole.
    std::map<TimerId, Timer> timers;
    timers.swap(timers_);
    timers.clear();
    std::deque<Task> posted;
    {
        std::lock_guard lock(postedMutex_);
        posted.swap(posted_);
    }
    posted.clear();
    std::map<WatchId, Watch> watches;
    watches.swap(watches_);
    watches.clear();
    close(wakeFd_);
}

void XXPollRunLoop::run()
{
    runUntil(nullptr);
}

void XXPollRunLoop::runFor(std::chrono::milliseconds duration)
{
    const Clock::time_point deadline = Clock::now() + duration;
    runUntil(&deadline);
}

void XXPollRunLoop::quit()
{
    quitRequested_ = true;
    wake();
}

void XXPollRunLoop::runUntil(const Clock::time_point *deadline)
{
    requireLoopThread("run");
    for (;;) {
        if (quitRequested_.exchange(false))
            return;
        const Clock::time_point wakeBy = deadline ? *deadline : Clock::time_point::max();
        iterate(wakeBy);
        if (deadline && Clock::now() >= *deadline) {
            quitRequested_ = false;
            return;
        }
    }
}

void XXPollRunLoop::iterate(Clock::time_point wakeBy)
{
    for (const auto &[id, timer] : timers_)
        wakeBy = std::min(wakeBy, timer.due);

    // The watches are copied so that callbacks may add or remove watches freely.
    std::vector<WatchId> ids;
    std::vector<pollfd> fds;
    fds.push_back({wakeFd_, POLLIN, 0});
    for (const auto &[id, watch] : watches_) {
        ids.push_back(id);
        const short events = watch.condition == Condition::priority ? POLLPRI : POLLIN;
        fds.push_back({watch.fd, events, 0});
    }

    int timeoutMs = -1;
    if (wakeBy != Clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeBy - Clock::now());
        timeoutMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
    }
    {
        std::lock_guard lock(postedMutex_);
        if (!posted_.empty())
            timeoutMs = 0;
    }

    const int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), "XXPollRunLoop: poll");

    if (ready > 0 && (fds[0].revents & POLLIN)) {
        std::uint64_t count;
        (void)!read(wakeFd_, &count, sizeof count);
    }
    runPostedTasks();
    runDueTimers();

    if (ready <= 0)
        return;
    for (std::size_t i = 0; i < ids.size() && !quitRequested_; ++i) {
        const short revents = fds[i + 1].revents;
        if (revents == 0)
            continue;
        auto found = watches_.find(ids[i]);
        if (found == watches_.end())
            continue;  // removed by an earlier callback of this round
        if (revents & POLLNVAL) {
            // The owner closed the descriptor without unwatching it; dropping the watch
            // keeps the loop from spinning on it.
            watches_.erase(found);
            continue;
        }
        Task onReady = found->second.onReady;  // the callback may unwatch itself
        onReady();
    }
}

void XXPollRunLoop::runPostedTasks()
{
    std::deque<Task> tasks;
    {
        std::lock_guard lock(postedMutex_);
        tasks.swap(posted_);
    }
    while (!tasks.empty()) {
        Task task = std::move(tasks.front());
        tasks.pop_front();
        task();
    }
}

void XXPollRunLoop::runDueTimers()
{
    const Clock::time_point now = Clock::now();
    std::vector<TimerId> due;
    for (const auto &[id, timer] : timers_)
        if (timer.due <= now)
            due.push_back(id);
    std::sort(due.begin(), due.end(), [this](TimerId a, TimerId b) {
        const auto &ta = timers_.at(a), &tb = timers_.at(b);
        return ta.due != tb.due ? ta.due < tb.due : a < b;
    });
    for (TimerId id : due) {
        auto found = timers_.find(id);
        if (found == timers_.end())
            continue;  // cancelled by an earlier timer of this round
        Task task = std::move(found->second.task);
        timers_.erase(found);
        task();
    }
}

XXRunLoop::WatchId XXPollRunLoop::watchDescriptor(int fd, Condition condition, Task onReady)
{
    requireLoopThread("watchDescriptor");
    const WatchId id = nextId_++;
    watches_.emplace(id, Watch{fd, condition, std::move(onReady)});
    return id;
}

void XXPollRunLoop::unwatchDescriptor(WatchId id)
{
    requireLoopThread("unwatchDescriptor");
    watches_.erase(id);
}

XXRunLoop::TimerId XXPollRunLoop::runAfter(std::chrono::milliseconds delay, Task task)
{
    requireLoopThread("runAfter");
    const TimerId id = nextId_++;
    timers_.emplace(id, Timer{Clock::now() + delay, std::move(task)});
    return id;
}

void XXPollRunLoop::cancelTimer(TimerId id)
{
    requireLoopThread("cancelTimer");
    timers_.erase(id);
}

void XXPollRunLoop::post(Task task)
{
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    wake();
}

bool XXPollRunLoop::isLoopThread() const
{
    return std::this_thread::get_id() == loopThread_;
}

void XXPollRunLoop::requireLoopThread(const char *operation) const
{
    if (!isLoopThread())
        throw std::logic_error(std::string("XXPollRunLoop::") + operation + " called off the loop's thread");
}

void XXPollRunLoop::wake()
{
    const std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
}
