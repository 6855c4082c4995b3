// The register screen: a new password twice, checked as it is typed, and an optional hint.
#pragma once

#include <QWidget>

#include "XXPasswordForm.h"

class XXRegisterViewController : public QWidget {
    Q_OBJECT
public:
    explicit XXRegisterViewController(QWidget *parent = nullptr);

    const xxpasswordform::Form &form() const { return form_; }

    void sureAction();

private:
    void textChanged();

    xxpasswordform::Form form_;
    bool registering_ = false;
};
