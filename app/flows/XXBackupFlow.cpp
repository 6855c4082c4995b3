#include "XXBackupFlow.h"

#include <QDateTime>
#include <QWidget>

#include <chrono>
#include <string>

#include "XXDiskFileManager.h"
#include "XXProgressAlertView.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXTransferFeedback.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

double nowSeconds()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

}  // namespace

XXBackupFlow::XXBackupFlow(QWidget *screen) : QObject(screen), screen_(screen) {}

XXProgressAlertView *XXBackupFlow::progressView() const
{
    return progressView_;
}

void XXBackupFlow::start()
{
    if (running_)
        return;
    running_ = true;
    quiet_ = false;
    tickCounter_ = 0;
    auto token = std::make_shared<int>(0);
    runToken_ = token;
    progressView_ = XXProgressAlertView::show(
        screen_, xxplatform::text("String_60"),
        [] {
            // The flag is read by the copying worker; setting it never waits.
            xxplatform::runInBackground(nullptr, 0ms,
                                        [] { XXDiskFileManager::shareDiskFileManager().backupJob().cancel(); });
        },
        xxplatform::text("String_61"));
    QPointer<XXBackupFlow> self(this);
    std::weak_ptr<int> weakToken = token;
    xxplatform::runInBackground(
        this, 0ms,
        [self, weakToken] {
            XXBackupResult outcome;
            XXDiskFileManager::shareDiskFileManager().backupJob().backUpDiskDataProgressBlock(
                [self, weakToken](std::uint64_t total, std::uint64_t done) {
                    xxplatform::runOnMain(self, [self, weakToken, total, done] {
                        if (!weakToken.expired() && self->runToken_ == weakToken.lock())
                            self->progress(total, done);
                    });
                },
                [&outcome](const XXBackupResult &result) { outcome = result; });
            return outcome;
        },
        [this, token](const XXBackupResult &outcome) {
            if (runToken_ != token)
                return;
            finish(outcome.success(), QString::fromStdString(outcome.errorTip()),
                   QString::fromStdString(outcome.completeTip()));
        });
}

void XXBackupFlow::cancelQuietly()
{
    if (!running_)
        return;
    quiet_ = true;
    XXDiskFileManager::shareDiskFileManager().backupJob().cancel();
    if (progressView_)
        progressView_->dismiss();
}

void XXBackupFlow::progress(std::uint64_t total, std::uint64_t done)
{
    if (!running_ || !progressView_)
        return;
    XXTool &tool = XXTool::shareTool();
    if (tickCounter_ == 0)
        tool.transmitStartTime(nowSeconds());
    if (++tickCounter_ >= 20) {
        tool.transmitEndTime(nowSeconds(), done);
        tickCounter_ = 1;
        const std::uint64_t remaining = done > total ? 0 : total - done;
        progressView_->setSubtitle(QStringLiteral("%1 %2").arg(
            xxplatform::text("String_62"), QString::fromStdString(tool.timeNeedFromSize(remaining))));
    }
    progressView_->setProgress(XXTransferFeedback::progressValue(total, done));
}

void XXBackupFlow::finish(bool success, const QString &errorTip, const QString &completeTip)
{
    if (!running_)
        return;
    running_ = false;
    runToken_.reset();
    if (progressView_)
        progressView_->dismiss();
    progressView_ = nullptr;
    emit finished(success);
    if (quiet_)
        return;
    if (success)
        XXReminderView::show(screen_, completeTip.isEmpty() ? xxplatform::text("String_63") : completeTip,
                             XXReminderView::success);
    else
        XXReminderView::show(screen_, errorTip, XXReminderView::error);
}
