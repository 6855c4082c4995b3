#include "XXIdleLock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include "XXSessionSignals.h"

#include <time.h>

namespace {

std::chrono::steady_clock::time_point bootTime()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::steady_clock::time_point(std::chrono::seconds(now.tv_sec) +
                                                 std::chrono::nanoseconds(now.tv_nsec));
}

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
    }
}

}  // namespace

XXIdleLock::XXIdleLock(std::function<void()> lockCallback, QObject *parent)
    : QObject(parent), lockCallback_(std::move(lockCallback)), now_(bootTime), timer_(new QTimer(this)),
      sessionSignals_(new XXSessionSignals(this))
{
    lastInput_ = now_();
    // A lock a few seconds late is fine; waking every few seconds costs nothing.
    timer_->setInterval(std::chrono::seconds(5));
    connect(timer_, &QTimer::timeout, this, &XXIdleLock::check);
    timer_->start();
    connect(sessionSignals_, &XXSessionSignals::lockRequested, this, &XXIdleLock::screenLocked);
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

XXIdleLock::~XXIdleLock()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

void XXIdleLock::setIdleMinutes(int minutes)
{
    idleMinutes_ = minutes < 0 ? 0 : minutes;
}

void XXIdleLock::setClock(Clock now)
{
    now_ = std::move(now);
    lastInput_ = now_();
}

void XXIdleLock::stopTimer()
{
    timer_->stop();
}

void XXIdleLock::check()
{
    if (fired_ || idleMinutes_ == 0)
        return;
    if (now_() - lastInput_ < std::chrono::minutes(idleMinutes_))
        return;
    if (busy_ && busy_())
        return;
    fire();
}

void XXIdleLock::screenLocked()
{
    if (lockOnScreenLock_)
        fire();
}

void XXIdleLock::noteInput()
{
    lastInput_ = now_();
}

bool XXIdleLock::eventFilter(QObject *watched, QEvent *event)
{
    // One user action reaches the filter once per object it propagates through; keeping the
    // time is all that needs doing.
    if (isInput(event->type()))
        noteInput();
    return QObject::eventFilter(watched, event);
}

void XXIdleLock::fire()
{
    if (fired_)
        return;
    fired_ = true;
    timer_->stop();
    if (lockCallback_)
        lockCallback_();
}
