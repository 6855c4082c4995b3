// The change-password screen, a child window of the unlocked screen. Success locks the
// session, so the person logs in with the new password.
#pragma once

#include <QWidget>

#include "XXPasswordForm.h"

#include <functional>

class XXChangePWViewController : public QWidget {
    Q_OBJECT
public:
    // parent is the window it stays above.
    explicit XXChangePWViewController(QWidget *parent = nullptr);

    void setSuccessBlock(std::function<void()> block) { successBlock_ = std::move(block); }
    void setCancelBlock(std::function<void()> block) { cancelBlock_ = std::move(block); }

    const xxpasswordform::Form &form() const { return form_; }

    void sureAction();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void textChanged();
    bool inputIsAcceptable() const;

    xxpasswordform::Form form_;
    std::function<void()> successBlock_;
    std::function<void()> cancelBlock_;
    bool changing_ = false;
    bool succeeded_ = false;
};
