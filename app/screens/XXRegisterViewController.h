// The register screen: a new password twice, checked as it is typed, and an optional hint.
#pragma once

#include <QWidget>

#include "XXPasswordForm.h"

class QPushButton;
class XXPasswordStrengthView;
class XXPasswordTipView;
class XXSecureTextField;

class XXRegisterViewController : public QWidget {
    Q_OBJECT
public:
    explicit XXRegisterViewController(QWidget *parent = nullptr);

    XXSecureTextField *secuTextFieldOne() const { return secuTextFieldOne_; }
    XXSecureTextField *secuTextFieldTwo() const { return secuTextFieldTwo_; }
    XXSecureTextField *helpGetPWTipTextField() const { return helpGetPWTipTextField_; }
    XXPasswordStrengthView *strengthView() const { return strength_; }
    XXPasswordTipView *firstTipView() const { return firstTipView_; }
    XXPasswordTipView *nextTipView() const { return nextTipView_; }
    QPushButton *sureBtn() const { return sureBtn_; }
    QPushButton *cancelBtn() const { return cancelBtn_; }

    void sureAction();

private:
    void textChanged();
    xxpasswordform::NewPasswordPair pair() const;

    XXSecureTextField *secuTextFieldOne_;
    XXSecureTextField *secuTextFieldTwo_;
    XXSecureTextField *helpGetPWTipTextField_;
    XXPasswordStrengthView *strength_;
    XXPasswordTipView *firstTipView_ = nullptr;
    XXPasswordTipView *nextTipView_ = nullptr;
    QPushButton *sureBtn_;
    QPushButton *cancelBtn_;
    bool registering_ = false;
};
