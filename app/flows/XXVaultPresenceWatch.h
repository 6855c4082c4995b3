// Notices that the open vault went away: its folder deleted or renamed on the stick, or the
// stick's file system gone (unmounted, or pulled so that it no longer answers). The vault is
// checked whenever its folder or the volume's top folder changes, and every few seconds,
// since a pulled stick may stop answering without any event. Checks run on a worker: a dying
// drive can keep a stat waiting.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QTimer;
class XXFolderWatcher;
class XXQtRunLoop;

class XXVaultPresenceWatch final : public QObject {
    Q_OBJECT
public:
    // vaultGone runs once, on the GUI thread, the first time a check finds the vault missing
    // while isExpected (a format or a restore replacing the folder on purpose) does not hold.
    XXVaultPresenceWatch(std::string storeDirectory, std::function<void()> vaultGone, QObject *parent);
    ~XXVaultPresenceWatch() override;

    void setExpectedPredicate(std::function<bool()> isExpected) { isExpected_ = std::move(isExpected); }

    // The store folder is there with its root index, and answers.
    static bool isVaultPresent(const std::string &storeDirectory);

private:
    void check();
    void checked(bool present);

    const std::string storeDirectory_;
    const std::string volumeDirectory_;
    std::function<void()> vaultGone_;
    std::function<bool()> isExpected_;
    QTimer *poll_;
    XXQtRunLoop *loop_;
    std::unique_ptr<XXFolderWatcher> watcher_;
    bool checking_ = false;
    bool recheck_ = false;
    bool reported_ = false;
};
