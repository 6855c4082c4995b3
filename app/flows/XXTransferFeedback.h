// Runs the unlocked screen's transfers (import, export, copy/move) on workers and shows them:
// one progress dialog at a time with the remaining time, the result reminder, and the
// conflict dialogs whose answers resume the suspended run. The GUI thread only shows; every
// start, answer and cancel goes to a worker.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "XXFileWrapper.h"
#include "XXProtectFileWrapper.h"
#include "XXTransferConversation.h"

class QWidget;
class XXDiskFileManager;
class XXProgressAlertView;

class XXTransferFeedback final : public QObject {
    Q_OBJECT
public:
    // Called once per run on the GUI thread: success, or the run ended otherwise (failure,
    // cancel) — the screen reloads what the run may have changed in both cases.
    using Finished = std::function<void(bool success)>;

    XXTransferFeedback(QWidget *screen, XXDiskFileManager &manager);
    ~XXTransferFeedback() override;

    void runImport(XXFileArray files, std::shared_ptr<XXProtectFileWrapper> destination, Finished finished);
    void runExport(XXProtectFileArray files, std::shared_ptr<XXFileWrapper> destination, Finished finished);
    void runOperate(XXProtectFileArray files, std::shared_ptr<XXProtectFileWrapper> destination, bool isCopy,
                    Finished finished);

    bool isRunning() const { return running_; }
    XXProgressAlertView *progressView() const;

    // The handlers, on the GUI thread (public so the screen's tests can drive them).
    void progress(std::uint64_t total, std::uint64_t done, const QString &itemName);
    void complete(const XXDiskResultObject &report, const std::string &currentItemName);

    // The progress text rules, shared with the backup's dialog.
    static double progressValue(std::uint64_t total, std::uint64_t done);

    // Cancels a running transfer (lock, quit).
    void cancelRunning();

private:
    // Hands a worker's report to the GUI thread, for the current run only.
    using MainTask = std::function<void(XXTransferFeedback &)>;
    std::function<void(MainTask)> poster();
    void begin(XXTransferKind kind, std::size_t selectedCount, QString destinationName, Finished finished);
    void end(bool success);
    void ask(const XXTransferQuestion &question);
    void answer(const XXTransferQuestion &question, XXTransferChoice choice, bool applyToAll);
    QString progressTitle(const QString &itemName) const;
    XXTransferCalls calls() const;
    void cancelOnWorker();

    QWidget *screen_;
    XXDiskFileManager &manager_;
    XXTransferKind kind_ = XXTransferKind::importing;
    bool isCopy_ = true;
    bool running_ = false;
    std::size_t selectedCount_ = 0;
    QString destinationName_;
    QString destinationPath_;
    Finished finished_;
    QPointer<XXProgressAlertView> progressView_;
    int tickCounter_ = 0;
    // Reports of a run that was cancelled or replaced are dropped.
    std::shared_ptr<int> runToken_;
};
