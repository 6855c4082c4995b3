#include "XXDragOut.h"

#include <QAbstractItemView>
#include <QDrag>
#include <QGuiApplication>
#include <QMimeData>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "XXDiskFileManager.h"
#include "XXMimeFormats.h"
#include "XXPasteStaging.h"
#include "XXProgressAlertView.h"
#include "XXSelectionTimeGuard.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXTransferFeedback.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXDragOut::XXDragOut(QWidget *pane, XXDiskFileManager &manager)
    : QObject(pane), pane_(pane), manager_(manager),
      runDrag_([](QAbstractItemView *view, QMimeData *data) {
          auto *drag = new QDrag(view);
          drag->setMimeData(data);
          drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
          drag->deleteLater();
      }),
      buttonHeld_([] { return QGuiApplication::mouseButtons().testFlag(Qt::LeftButton); })
{}

bool XXDragOut::stagedFor(const XXProtectFileArray &entries) const
{
    if (stagedPaths_.empty() || entries != stagedEntries_)
        return false;
    for (const std::string &path : stagedPaths_) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0)
            return false;  // taken away (a paste) or removed (a lock)
    }
    return true;
}

void XXDragOut::start(QAbstractItemView *view, QMimeData *data, const XXProtectFileArray &entries)
{
    if (staging_ || entries.empty()) {
        delete data;
        return;
    }
    if (stagedFor(entries)) {
        offer(view, data, stagedPaths_);
        return;
    }
    stagedEntries_.clear();
    stagedPaths_.clear();
    if (beforeStaging_)
        beforeStaging_();
    auto staging = std::make_shared<XXPasteStaging>(manager_);
    staging_ = staging;
    QPointer<XXProgressAlertView> progress;
    if (manager_.allSelectedProtectFileSize(entries) > progressThreshold)
        progress = XXProgressAlertView::show(
            pane_, xxplatform::text("String_13") + QLatin1Char(' ') + QString::fromStdString(entries.front()->fileName()),
            [staging] { staging->cancel(); });
    QPointer<XXDragOut> self(this);
    QPointer<QAbstractItemView> source(view);
    std::shared_ptr<QMimeData> held(data);
    xxplatform::runInBackground(
        this, 0ms,
        [staging, entries, self, progress] {
            return staging->stage(entries, false, [self, progress](std::uint64_t all, std::uint64_t done, const std::string &) {
                xxplatform::runOnMain(self, [progress, all, done] {
                    if (progress)
                        progress->setProgress(XXTransferFeedback::progressValue(all, done));
                });
            });
        },
        [this, staging, entries, progress, source, held](const XXPasteStaging::Result &result) mutable {
            if (progress)
                progress->dismiss();
            const bool current = staging_ == staging;
            if (current)
                staging_.reset();
            if (!current || result.cancelled || staging->isCancelled()) {
                // Cancelled as it finished: its copies go, unless a newer drag decrypts there.
                if (!staging_)
                    for (const std::string &path : result.stagedPaths)
                        std::filesystem::remove_all(path);
                return;
            }
            if (!result.failedFiles.empty()) {
                const QString first = QString::fromUtf8(result.failedFiles.front()->fileName().c_str());
                const QString text = xxplatform::text("String_143");
                XXReminderView::show(pane_,
                                     result.failedFiles.size() == 1 ? QStringLiteral("%1 %2").arg(first, text)
                                                                    : QStringLiteral("%1...%2").arg(first, text),
                                     XXReminderView::error);
            }
            if (result.stagedPaths.empty())
                return;
            stagedEntries_ = entries;
            stagedPaths_ = result.stagedPaths;
            if (!source || !buttonHeld_()) {
                XXReminderView::show(pane_, xxplatform::text("String_243"), XXReminderView::notice);
                return;
            }
            // The data goes to the drag, which owns it from now on.
            QMimeData *data = new QMimeData;
            for (const QString &format : held->formats())
                data->setData(format, held->data(format));
            offer(source, data, stagedPaths_);
        });
}

void XXDragOut::offer(QAbstractItemView *view, QMimeData *data, const std::vector<std::string> &paths)
{
    xxplatform::setLocalFiles(*data, paths, false);
    XXSelectionTimeGuard *guard = XXSelectionTimeGuard::installed();
    if (guard)
        guard->setDragRunning(true);
    runDrag_(view, data);
    if (guard)
        guard->setDragRunning(false);
}

void XXDragOut::cancel()
{
    if (staging_)
        staging_->cancel();
    staging_.reset();
    stagedEntries_.clear();
    stagedPaths_.clear();
}
