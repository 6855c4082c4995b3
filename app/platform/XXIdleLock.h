// Locks the session after a stretch without input, and when the desktop locks its screen or
// goes to sleep. Input is any key press or mouse use (press, move, wheel) in any window of the
// program, seen through an event filter on the application.
//
// Busy rule: while busy() holds (a transfer or backup runs) the idle lock waits. Once nothing
// is busy, it locks at the next check if the last input is at least the idle time ago: the
// user who walked away during a long import finds the vault locked as soon as it ended, and
// one who kept working is not locked at all. A screen lock or sleep locks at once, busy or
// not: the desktop's own lock says the user is gone, and locking cancels the transfer.
//
// The lock callback runs at most once; the session it guards ends with it.
#pragma once

#include <QObject>

#include <chrono>
#include <functional>

class QTimer;
class XXSessionSignals;

class XXIdleLock : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Checks every few seconds on the real clock and listens to the desktop through an
    // XXSessionSignals of its own. Both locks are off until set.
    explicit XXIdleLock(std::function<void()> lockCallback, QObject *parent = nullptr);
    ~XXIdleLock() override;

    // 0 switches the idle lock off. Applies at once, counted from the last input.
    void setIdleMinutes(int minutes);
    int idleMinutes() const { return idleMinutes_; }
    void setLockOnScreenLock(bool on) { lockOnScreenLock_ = on; }
    bool lockOnScreenLock() const { return lockOnScreenLock_; }
    void setBusyPredicate(std::function<bool()> busy) { busy_ = std::move(busy); }

    // Tests drive time themselves: a clock of their own, and check() instead of the timer.
    // The default clock counts time asleep (CLOCK_BOOTTIME), so waking up after a long sleep
    // counts as idle even with the screen-lock option off.
    void setClock(Clock now);
    void stopTimer();

    // Locks when the rule above says so.
    void check();
    // From the desktop (XXSessionSignals): locks when lockOnScreenLock is on.
    void screenLocked();
    // Counts as input; the event filter calls it.
    void noteInput();

    bool hasFired() const { return fired_; }
    XXSessionSignals *sessionSignals() const { return sessionSignals_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fire();

    std::function<void()> lockCallback_;
    std::function<bool()> busy_;
    Clock now_;
    QTimer *timer_;
    XXSessionSignals *sessionSignals_;
    std::chrono::steady_clock::time_point lastInput_;
    int idleMinutes_ = 0;
    bool lockOnScreenLock_ = false;
    bool fired_ = false;
};
