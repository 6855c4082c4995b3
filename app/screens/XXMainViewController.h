// The unlocked screen, shown over the login screen while a session is open.
//
// UNFINISHED: the two panes, the toolbar and the transfers are not built yet. This screen
// says so, and its lock button and the lock and change-password menu entries work.
#pragma once

#include <QWidget>

#include <functional>

class QPushButton;

class XXMainViewController : public QWidget {
    Q_OBJECT
public:
    explicit XXMainViewController(QWidget *parent = nullptr);
    ~XXMainViewController() override;

    // Runs once the session is logged out by lockAction().
    void setDismissBlock(std::function<void()> block) { dismissBlock_ = std::move(block); }
    // Logs out on a worker, then runs the dismiss block.
    void lockAction();
    void changePassword();
    QPushButton *lockBtn() const { return lockBtn_; }

private:
    void connectMenu();
    void disconnectMenu();

    std::function<void()> dismissBlock_;
    QPushButton *lockBtn_;
    bool locking_ = false;
};
