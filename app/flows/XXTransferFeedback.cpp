#include "XXTransferFeedback.h"

#include <QDateTime>
#include <QWidget>

#include <chrono>

#include "XXDiskFileManager.h"
#include "XXProgressAlertView.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXTransmissionErrorView.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

double nowSeconds()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

QString nameText(const std::string &name)
{
    return QString::fromUtf8(name.c_str());
}

}  // namespace

XXTransferFeedback::XXTransferFeedback(QWidget *screen, XXDiskFileManager &manager)
    : QObject(screen), screen_(screen), manager_(manager)
{}

XXTransferFeedback::~XXTransferFeedback() = default;

XXProgressAlertView *XXTransferFeedback::progressView() const
{
    return progressView_;
}

double XXTransferFeedback::progressValue(std::uint64_t total, std::uint64_t done)
{
    if (total == 0)
        return 1.0;
    return std::min(1.0, double(done) / double(total));
}

XXTransferCalls XXTransferFeedback::calls() const
{
    switch (kind_) {
    case XXTransferKind::importing:
        return XXTransferCalls::forImport(manager_);
    case XXTransferKind::exporting:
        return XXTransferCalls::forExport(manager_);
    case XXTransferKind::operating:
        break;
    }
    return XXTransferCalls::forOperate(manager_);
}

void XXTransferFeedback::begin(XXTransferKind kind, std::size_t selectedCount, QString destinationName,
                               Finished finished)
{
    kind_ = kind;
    running_ = true;
    selectedCount_ = selectedCount;
    destinationName_ = std::move(destinationName);
    finished_ = std::move(finished);
    tickCounter_ = 0;
    runToken_ = std::make_shared<int>(0);
}

std::function<void(XXTransferFeedback::MainTask)> XXTransferFeedback::poster()
{
    QPointer<XXTransferFeedback> self(this);
    std::weak_ptr<int> token = runToken_;
    return [self, token](MainTask task) {
        xxplatform::runOnMain(self, [self, token, task = std::move(task)] {
            if (!token.expired())
                task(*self);
        });
    };
}

void XXTransferFeedback::runImport(XXFileArray files, std::shared_ptr<XXProtectFileWrapper> destination,
                                   Finished finished)
{
    if (running_ || !destination)
        return;
    begin(XXTransferKind::importing, files.size(),
          destination->isRootWrapper() ? xxplatform::text("String_55") : nameText(destination->fileName()),
          std::move(finished));
    auto onMain = poster();
    XXDiskFileManager *manager = &manager_;
    xxplatform::runInBackground(this, 0ms, [=, files = std::move(files)] {
        manager->importJob().setProgressBlock(
            [onMain](std::uint64_t all, std::uint64_t done, const std::string &name) {
                onMain([all, done, name = nameText(name)](XXTransferFeedback &feedback) {
                    feedback.progress(all, done, name);
                });
            });
        manager->importJob().start(files, destination, [onMain, manager](const XXDiskResultObject &r) {
            const std::string item = manager->importJob().currentItemName();
            onMain([r, item](XXTransferFeedback &feedback) { feedback.complete(r, item); });
        });
    });
}

void XXTransferFeedback::runExport(XXProtectFileArray files, std::shared_ptr<XXFileWrapper> destination,
                                   Finished finished)
{
    if (running_ || !destination)
        return;
    begin(XXTransferKind::exporting, files.size(), QString::fromLocal8Bit(destination->fileName().c_str()),
          std::move(finished));
    auto onMain = poster();
    XXDiskFileManager *manager = &manager_;
    xxplatform::runInBackground(this, 0ms, [=, files = std::move(files)] {
        manager->exportJob().setProgressBlock([onMain](std::uint64_t all, std::uint64_t done,
                                                       const std::string &name) {
            onMain([all, done, name = QString::fromLocal8Bit(name.c_str())](XXTransferFeedback &feedback) {
                feedback.progress(all, done, name);
            });
        });
        manager->exportJob().start(files, destination, [onMain, manager](const XXDiskResultObject &r) {
            const std::string item = manager->exportJob().currentItemName();
            onMain([r, item](XXTransferFeedback &feedback) { feedback.complete(r, item); });
        });
    });
}

void XXTransferFeedback::runOperate(XXProtectFileArray files,
                                    std::shared_ptr<XXProtectFileWrapper> destination, bool isCopy,
                                    Finished finished)
{
    if (running_ || !destination)
        return;
    begin(XXTransferKind::operating, files.size(),
          destination->isRootWrapper() ? xxplatform::text("String_55") : nameText(destination->fileName()),
          std::move(finished));
    isCopy_ = isCopy;
    destinationPath_ =
        nameText(destination->isRootWrapper() ? std::string() : destination->parentFolderPath());
    auto onMain = poster();
    XXDiskFileManager *manager = &manager_;
    xxplatform::runInBackground(this, 0ms, [=, files = std::move(files)] {
        manager->operateJob().setProgressBlock([onMain](std::uint64_t all, std::uint64_t done,
                                                        const std::shared_ptr<XXProtectFileWrapper> &entry) {
            const QString name = entry ? nameText(entry->fileName()) : QString();
            onMain([all, done, name](XXTransferFeedback &feedback) { feedback.progress(all, done, name); });
        });
        manager->operateJob().start(
            files, destination, isCopy, [onMain, manager](const XXDiskResultObject &r) {
                const std::string item = manager->operateJob().currentItemName();
                onMain([r, item](XXTransferFeedback &feedback) { feedback.complete(r, item); });
            });
    });
}

QString XXTransferFeedback::progressTitle(const QString &itemName) const
{
    switch (kind_) {
    case XXTransferKind::importing:
        return QStringLiteral("%1...%2:%3").arg(xxplatform::text("String_89"), destinationName_, itemName);
    case XXTransferKind::exporting:
        return QStringLiteral("%1...%2:%3").arg(xxplatform::text("String_64"), destinationName_, itemName);
    case XXTransferKind::operating:
        break;
    }
    return QStringLiteral("%1...%2/%3:%4")
        .arg(xxplatform::text(isCopy_ ? "String_74" : "String_75"), destinationPath_, destinationName_,
             itemName);
}

void XXTransferFeedback::progress(std::uint64_t total, std::uint64_t done, const QString &itemName)
{
    if (!running_)
        return;
    XXTool &tool = XXTool::shareTool();
    if (tickCounter_ == 0) {
        tool.transmitStartTime(nowSeconds());
        QPointer<XXTransferFeedback> self(this);
        progressView_ = XXProgressAlertView::show(screen_, progressTitle(itemName), [self] {
            if (self)
                self->cancelRunning();
        });
    }
    ++tickCounter_;
    if (!progressView_)
        return;
    if (tickCounter_ >= 20) {
        tool.transmitEndTime(nowSeconds(), done);
        tickCounter_ = 1;
        const std::uint64_t remaining = done > total ? 0 : total - done;
        progressView_->setSubtitle(QStringLiteral("%1 %2").arg(
            xxplatform::text("String_62"), QString::fromStdString(tool.timeNeedFromSize(remaining))));
    }
    progressView_->setTitle(progressTitle(itemName));
    progressView_->setProgress(progressValue(total, done));
}

void XXTransferFeedback::complete(const XXDiskResultObject &report, const std::string &currentItemName)
{
    if (!running_)
        return;
    const XXTransferQuestion question =
        XXTransferConversation::questionFor(report, selectedCount_, currentItemName);
    if (question.kind != XXTransferQuestionKind::none) {
        ask(question);
        return;
    }
    if (progressView_)
        progressView_->dismiss();
    progressView_ = nullptr;
    if (report.isSuccess()) {
        // Every item skipped is no success to report: say that nothing was transferred.
        const auto *outcome = std::any_cast<XXTransferOutcome>(&report.successValue());
        const bool nothing = outcome && outcome->transferredItems == 0;
        const char *key = kind_ == XXTransferKind::importing ? (nothing ? "String_244" : "String_171")
            : kind_ == XXTransferKind::exporting             ? (nothing ? "String_245" : "String_172")
                                                             : (nothing ? "String_246" : "String_65");
        XXReminderView::show(screen_, xxplatform::text(key), nothing ? XXReminderView::notice : XXReminderView::success);
    } else {
        XXReminderView::show(screen_, QString::fromStdString(report.errorTips()), XXReminderView::error);
    }
    end(report.isSuccess());
}

void XXTransferFeedback::end(bool success)
{
    running_ = false;
    runToken_.reset();
    progressView_ = nullptr;
    if (auto finished = std::move(finished_)) {
        finished_ = nullptr;
        finished(success);
    }
}

void XXTransferFeedback::ask(const XXTransferQuestion &question)
{
    const QString name = nameText(question.itemName);
    const bool importing = kind_ == XXTransferKind::importing;
    const bool exporting = kind_ == XXTransferKind::exporting;
    QPointer<XXTransferFeedback> self(this);
    auto reply = [self, question](XXTransferChoice choice) {
        return [self, question, choice](bool applyToAll) {
            if (self)
                self->answer(question, choice, applyToAll);
        };
    };
    auto close = [self, question] {
        if (self)
            self->answer(question, XXTransferChoice::close, false);
    };
    switch (question.kind) {
    case XXTransferQuestionKind::nameTaken: {
        const QString message = QStringLiteral("%1 %2").arg(
            name, xxplatform::text(question.code == 5 ? "String_66" : "String_69"));
        XXTransmissionErrorView::show(
            screen_, message, xxplatform::text("String_67"), xxplatform::text("String_68"),
            {reply(XXTransferChoice::rename), reply(XXTransferChoice::skip), close});
        return;
    }
    case XXTransferQuestionKind::itemFailed: {
        QString message;
        if (importing)
            message = QStringLiteral("%1 %2").arg(
                name, xxplatform::text(question.code == 7 ? "String_90" : "String_91"));
        else if (exporting)
            message = QStringLiteral("%1 %2").arg(
                name, xxplatform::text(question.code == 7 ? "String_70" : "String_72"));
        else
            message = QStringLiteral("%1 %2%3").arg(
                name, xxplatform::text(isCopy_ ? "String_13" : "String_14"), xxplatform::text("String_76"));
        auto *view = XXTransmissionErrorView::show(
            screen_, message, xxplatform::text("String_71"), xxplatform::text("String_68"),
            {reply(XXTransferChoice::cancel), reply(XXTransferChoice::skip), close});
        view->changeSureBtnColorLikeCancelBtn();
        return;
    }
    case XXTransferQuestionKind::intoItself: {
        if (!question.offersApplyToAll) {
            // Nothing else to go on with: the report is an error, and its OK ends the run.
            XXReminderView::show(screen_, xxplatform::text("String_77"), XXReminderView::error,
                                 [close] { close(); });
            return;
        }
        auto *view = XXTransmissionErrorView::show(
            screen_, xxplatform::text("String_77"), xxplatform::text("String_71"),
            xxplatform::text("String_68"),
            {reply(XXTransferChoice::cancel), reply(XXTransferChoice::skip), close}, false);
        view->changeSureBtnColorLikeCancelBtn();
        return;
    }
    case XXTransferQuestionKind::none:
        break;
    }
}

void XXTransferFeedback::answer(const XXTransferQuestion &question, XXTransferChoice choice, bool applyToAll)
{
    if (!running_)
        return;
    const auto call = XXTransferConversation::callFor(question, choice, applyToAll);
    if (!call || call->kind == XXTransferCall::cancel) {
        cancelRunning();
        return;
    }
    auto conversation = std::make_shared<XXTransferConversation>(calls());
    xxplatform::runInBackground(this, 0ms, [conversation, question, choice, applyToAll] {
        conversation->answer(question, choice, applyToAll);
    });
}

void XXTransferFeedback::cancelOnWorker()
{
    auto cancel = calls().cancel;
    xxplatform::runInBackground(this, 0ms, [cancel] { cancel(); });
}

void XXTransferFeedback::cancelRunning()
{
    if (!running_)
        return;
    cancelOnWorker();
    if (progressView_)
        progressView_->dismiss();
    // A cancelled run reports nothing more: it ends here.
    end(false);
}
