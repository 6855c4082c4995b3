#include "XXWorker.h"

#include <QRunnable>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cmath>

namespace xxplatform {
namespace {

std::atomic<double> delayScale{1.0};

}  // namespace

QThreadPool &workerPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(8);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

void setDelayScale(double scale)
{
    delayScale.store(scale);
}

std::chrono::milliseconds scaledDelay(std::chrono::milliseconds delay)
{
    return std::chrono::milliseconds(std::llround(static_cast<double>(delay.count()) * delayScale.load()));
}

void runInBackground(QObject *context, std::chrono::milliseconds delay, std::function<void()> work)
{
    auto start = [work = std::move(work)]() mutable {
        workerPool().start(QRunnable::create(std::move(work)));
    };
    const auto wait = scaledDelay(delay);
    if (wait.count() <= 0 || !context)
        start();
    else
        QTimer::singleShot(wait, context, std::move(start));
}

bool waitForWorkers(std::chrono::milliseconds timeout)
{
    return workerPool().waitForDone(static_cast<int>(timeout.count()));
}

}  // namespace xxplatform
