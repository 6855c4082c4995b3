#include "XXQtRunLoop.h"

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

XXQtRunLoop::XXQtRunLoop(QObject *parent) : QObject(parent) {}

XXQtRunLoop::~XXQtRunLoop()
{
    for (auto &[id, notifier] : watches_)
        delete notifier;
    for (auto &[id, timer] : timers_)
        delete timer;
}

XXRunLoop::WatchId XXQtRunLoop::watchDescriptor(int fd, Condition condition, Task onReady)
{
    const auto type = condition == Condition::readable ? QSocketNotifier::Read : QSocketNotifier::Exception;
    auto *notifier = new QSocketNotifier(fd, type, this);
    const WatchId id = ++nextId_;
    watches_[id] = notifier;
    connect(notifier, &QSocketNotifier::activated, this, [task = std::move(onReady)] { task(); });
    return id;
}

void XXQtRunLoop::unwatchDescriptor(WatchId id)
{
    auto it = watches_.find(id);
    if (it == watches_.end())
        return;
    // The notifier may be the one whose signal is running: disable it now, delete it later.
    it->second->setEnabled(false);
    it->second->deleteLater();
    watches_.erase(it);
}

XXRunLoop::TimerId XXQtRunLoop::runAfter(std::chrono::milliseconds delay, Task task)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    const TimerId id = ++nextId_;
    timers_[id] = timer;
    connect(timer, &QTimer::timeout, this, [this, id, task = std::move(task)] {
        if (auto it = timers_.find(id); it != timers_.end()) {
            it->second->deleteLater();
            timers_.erase(it);
        }
        task();
    });
    timer->start(delay);
    return id;
}

void XXQtRunLoop::cancelTimer(TimerId id)
{
    auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

void XXQtRunLoop::post(Task task)
{
    QMetaObject::invokeMethod(
        this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

bool XXQtRunLoop::isLoopThread() const
{
    return QThread::currentThread() == thread();
}
