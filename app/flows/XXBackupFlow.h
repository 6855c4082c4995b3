// The unlocked screen's backup of the whole vault: a progress dialog that can cancel, the copy
// on a worker, and the result reminder. One backup runs at a time.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

class QWidget;
class XXProgressAlertView;

class XXBackupFlow final : public QObject {
    Q_OBJECT
public:
    // screen is where the dialogs appear.
    explicit XXBackupFlow(QWidget *screen);

    // Does nothing while a backup runs.
    void start();
    bool isRunning() const { return running_; }
    // Asks the running copy to stop and shows nothing when it does (the session is being
    // locked); the service removes the partial backup folder.
    void cancelQuietly();
    XXProgressAlertView *progressView() const;

    // The handlers, on the GUI thread (public so tests can drive them).
    void progress(std::uint64_t total, std::uint64_t done);
    void finish(bool success, const QString &errorTip, const QString &completeTip);

signals:
    void finished(bool success);

private:
    QWidget *screen_;
    QPointer<XXProgressAlertView> progressView_;
    bool running_ = false;
    bool quiet_ = false;
    int tickCounter_ = 0;
    // Reports of an earlier run never reach a later one.
    std::shared_ptr<int> runToken_;
};
