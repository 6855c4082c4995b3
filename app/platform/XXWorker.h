// The window's background queue. Service calls block (a transfer runs to its end on the
// calling thread), so the GUI thread hands every one of them to a worker and only shows what
// comes back.
//
//     xxplatform::runInBackground(this, 750ms, [password] { return login(password); },
//                                 [this](const XXDiskResultObject &r) { show(r); });
//
// The work runs on a worker thread after the delay; the result is handed to the GUI thread
// and given to done only while context still exists.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>

class QThreadPool;

namespace xxplatform {

// The pool behind runInBackground. Several threads, so a long transfer never holds up a
// short call such as reading the password hint.
QThreadPool &workerPool();

// Tests run the design's pauses (0.75 s before a login...) faster; 1.0 in the application.
void setDelayScale(double scale);
std::chrono::milliseconds scaledDelay(std::chrono::milliseconds delay);

// Runs work on a worker thread after delay (measured on the GUI thread, so nothing sleeps).
void runInBackground(QObject *context, std::chrono::milliseconds delay, std::function<void()> work);

// Runs task on the GUI thread unless context is gone by then. May be called from any thread.
// The task is posted to the application object, which outlives every piece of work, and the
// guard is read on the GUI thread, where widgets are destroyed: posting to context itself from a
// worker would reach freed memory if the widget went between the check and the post.
template <class T>
void runOnMain(QPointer<T> context, std::function<void()> task)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application,
        [context = std::move(context), task = std::move(task)] {
            if (context)
                task();
        },
        Qt::QueuedConnection);
}

template <class Work, class Done>
void runInBackground(QObject *context, std::chrono::milliseconds delay, Work work, Done done)
{
    using Result = std::invoke_result_t<Work>;
    QPointer<QObject> guard(context);
    if constexpr (std::is_void_v<Result>) {
        runInBackground(context, delay, [guard, work = std::move(work), done = std::move(done)]() mutable {
            work();
            runOnMain(guard, [done = std::move(done)]() mutable { done(); });
        });
    } else {
        runInBackground(context, delay, [guard, work = std::move(work), done = std::move(done)]() mutable {
            auto result = std::make_shared<Result>(work());
            runOnMain(guard, [result, done = std::move(done)]() mutable { done(*result); });
        });
    }
}

// Waits, at most timeout, for the workers to finish (at quit, after the transfers were
// cancelled).
bool waitForWorkers(std::chrono::milliseconds timeout);

}  // namespace xxplatform
