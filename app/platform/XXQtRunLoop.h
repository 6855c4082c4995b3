// The run loop of the window: the disk monitor and the file watcher run on the GUI thread,
// woken by Qt's event loop instead of poll().
#pragma once

#include <QObject>

#include <map>
#include <memory>

#include "XXRunLoop.h"

class QSocketNotifier;
class QTimer;

class XXQtRunLoop final : public QObject, public XXRunLoop {
    Q_OBJECT
public:
    // Lives on the thread that creates it; create it on the GUI thread.
    explicit XXQtRunLoop(QObject *parent = nullptr);
    ~XXQtRunLoop() override;

    WatchId watchDescriptor(int fd, Condition condition, Task onReady) override;
    void unwatchDescriptor(WatchId id) override;
    TimerId runAfter(std::chrono::milliseconds delay, Task task) override;
    void cancelTimer(TimerId id) override;
    void post(Task task) override;
    bool isLoopThread() const override;

private:
    std::map<WatchId, QSocketNotifier *> watches_;
    std::map<TimerId, QTimer *> timers_;
    std::uint64_t nextId_ = 0;
};
