// The change-password screen, a child window of the unlocked screen. Success locks the
// session, so the person logs in with the new password.
#pragma once

#include <QWidget>

#include "XXPasswordForm.h"

#include <functional>

class QPushButton;
class XXPasswordStrengthView;
class XXPasswordTipView;
class XXSecureTextField;

class XXChangePWViewController : public QWidget {
    Q_OBJECT
public:
    // parent is the window it stays above.
    explicit XXChangePWViewController(QWidget *parent = nullptr);

    void setSuccessBlock(std::function<void()> block) { successBlock_ = std::move(block); }
    void setCancelBlock(std::function<void()> block) { cancelBlock_ = std::move(block); }

    XXSecureTextField *currentPWTextField() const { return currentPWTextField_; }
    XXSecureTextField *thisPWTextField() const { return thisPWTextField_; }
    XXSecureTextField *thisPWAgainTextField() const { return thisPWAgainTextField_; }
    XXSecureTextField *pwTipStringLab() const { return pwTipStringLab_; }
    XXPasswordStrengthView *strengthView() const { return strength_; }
    XXPasswordTipView *firstTipView() const { return firstTipView_; }
    XXPasswordTipView *nextTipView() const { return nextTipView_; }
    QPushButton *sureBtn() const { return sureBtn_; }
    QPushButton *cancelBtn() const { return cancelBtn_; }

    void sureAction();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void textChanged();
    xxpasswordform::NewPasswordPair pair() const;
    bool inputIsAcceptable() const;

    XXSecureTextField *currentPWTextField_;
    XXSecureTextField *thisPWTextField_;
    XXSecureTextField *thisPWAgainTextField_;
    XXSecureTextField *pwTipStringLab_;
    XXPasswordStrengthView *strength_;
    XXPasswordTipView *firstTipView_ = nullptr;
    XXPasswordTipView *nextTipView_ = nullptr;
    QPushButton *sureBtn_;
    QPushButton *cancelBtn_;
    std::function<void()> successBlock_;
    std::function<void()> cancelBlock_;
    bool changing_ = false;
    bool succeeded_ = false;
};
