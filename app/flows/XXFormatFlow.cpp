#include "XXFormatFlow.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>
#include <QWidget>

#include "XXDiskFileManager.h"
#include "XXProgressAlertView.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXTwoBtnReminderView.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

std::chrono::milliseconds &tickInterval()
{
    static std::chrono::milliseconds interval = 10ms;
    return interval;
}

std::function<std::uint32_t()> &randomSource()
{
    static std::function<std::uint32_t()> source;
    return source;
}

std::uint32_t randomNumber()
{
    return randomSource() ? randomSource()() : QRandomGenerator::global()->generate();
}

}  // namespace

XXFormatFlow::XXFormatFlow(QWidget *screen) : QObject(screen), screen_(screen) {}

XXProgressAlertView *XXFormatFlow::progressView() const
{
    return progressView_;
}

void XXFormatFlow::setTickInterval(std::chrono::milliseconds interval)
{
    tickInterval() = interval;
}

void XXFormatFlow::setRandomSource(std::function<std::uint32_t()> source)
{
    randomSource() = std::move(source);
}

void XXFormatFlow::start()
{
    if (running_)
        return;
    QPointer<XXFormatFlow> self(this);
    XXTwoBtnReminderView::show(
        screen_, xxplatform::text("String_163"),
        [self] {
            if (self)
                self->animate();
        },
        {}, xxplatform::text("String_174"), xxplatform::text("String_175"));
}

void XXFormatFlow::animate()
{
    if (running_)
        return;
    running_ = true;
    progressView_ = XXProgressAlertView::show(screen_, xxplatform::text("String_164"), {});
    progressView_->setHiddenCancelBtn(true);
    progressView_->setSubtitle(QStringLiteral(" "));
    targetTicks_ = 25 + int(randomNumber() % 25u);
    tickCount_ = 0;
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::CoarseTimer);
    timer_->setInterval(tickInterval());
    connect(timer_, &QTimer::timeout, this, &XXFormatFlow::tick);
    timer_->start();
}

void XXFormatFlow::tick()
{
    if (tickCount_ >= targetTicks_) {
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
        if (progressView_) {
            progressView_->setProgress(1.0);
            progressView_->dismiss();
        }
        formatVault();
        return;
    }
    ++tickCount_;
    if (progressView_)
        progressView_->setProgress(double(tickCount_) / double(targetTicks_));
}

void XXFormatFlow::formatVault()
{
    QWidget *screen = screen_;
    xxplatform::runInBackground(
        this, 0ms, [] { return XXDiskFileManager::shareDiskFileManager().formatDisk(); },
        [screen](bool formatted) {
            // The delegate's quit path logs out and clears the clipboard when it holds ours.
            XXReminderView::show(
                screen, xxplatform::text(formatted ? "String_165" : "String_166"),
                formatted ? XXReminderView::success : XXReminderView::error,
                [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); });
        });
}
