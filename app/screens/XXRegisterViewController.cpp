#include "XXRegisterViewController.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>
#include <memory>

#include "XXActivityIndicator.h"
#include "XXAppDelegate.h"
#include "XXDiskFileManager.h"
#include "XXPasswordForm.h"
#include "XXPasswordStrengthView.h"
#include "XXPasswordTipView.h"
#include "XXReminderView.h"
#include "XXSecureTextField.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXRegisterViewController::XXRegisterViewController(QWidget *parent)
    : QWidget(parent, Qt::Window), strength_(new XXPasswordStrengthView),
      sureBtn_(new QPushButton(xxplatform::text("String_1"))),
      cancelBtn_(new QPushButton(xxplatform::text("String_44")))
{
    setObjectName(QStringLiteral("XXRegisterViewController"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_50"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 20);
    layout->setSpacing(14);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_50")));

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    secuTextFieldOne_ = xxpasswordform::addField(*grid, xxplatform::text("String_51"), false, &firstTipView_);
    xxpasswordform::addRow(*grid, strength_);
    secuTextFieldTwo_ = xxpasswordform::addField(*grid, xxplatform::text("String_52"), false, &nextTipView_);
    helpGetPWTipTextField_ = xxpasswordform::addField(*grid, xxplatform::text("String_37"), true, nullptr);
    xxpasswordform::addNote(*grid, xxplatform::text("String_39"));
    layout->addLayout(grid);
    layout->addStretch();
    secuTextFieldOne_->setObjectName(QStringLiteral("secuTextFieldOne"));
    secuTextFieldTwo_->setObjectName(QStringLiteral("secuTextFieldTwo"));
    helpGetPWTipTextField_->setObjectName(QStringLiteral("helpGetPWTipTextField"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelBtn_->setObjectName(QStringLiteral("cancelBtn"));
    sureBtn_->setObjectName(QStringLiteral("sureBtn"));
    sureBtn_->setDefault(true);
    sureBtn_->setEnabled(false);
    buttons->addWidget(cancelBtn_);
    buttons->addWidget(sureBtn_);
    layout->addLayout(buttons);

    for (XXSecureTextField *field : {secuTextFieldOne_, secuTextFieldTwo_, helpGetPWTipTextField_})
        connect(field, &QLineEdit::textChanged, this, &XXRegisterViewController::textChanged);
    xxpasswordform::connectPair(this, pair());
    connect(sureBtn_, &QPushButton::clicked, this, &XXRegisterViewController::sureAction);
    connect(cancelBtn_, &QPushButton::clicked, this, &QWidget::close);
    secuTextFieldOne_->setFocus();
    resize(560, 460);
}

xxpasswordform::NewPasswordPair XXRegisterViewController::pair() const
{
    return {secuTextFieldOne_, secuTextFieldTwo_, firstTipView_, nextTipView_, strength_};
}

void XXRegisterViewController::textChanged()
{
    xxpasswordform::showAcceptance(pair(), xxpasswordform::pairIsAcceptable(pair()), sureBtn_,
                                   sender() == secuTextFieldOne_);
}

void XXRegisterViewController::sureAction()
{
    if (xxpasswordform::hintIsTooLong(helpGetPWTipTextField_->text())) {
        XXReminderView::show(this, xxplatform::text("String_170"), XXReminderView::error);
        return;
    }
    if (!xxpasswordform::pairIsAcceptable(pair()) || registering_)
        return;
    registering_ = true;
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    auto password = std::make_shared<std::string>(secuTextFieldOne_->secretText());
    const std::string hint = helpGetPWTipTextField_->text().toStdString();
    xxplatform::runInBackground(
        this, 1000ms,
        [password, hint] {
            XXDiskResultObject outcome = XXDiskResultObject::success(0);
            XXDiskFileManager::shareDiskFileManager().createAccountWithPassword(
                *password, hint, [&outcome](const XXDiskResultObject &result) { outcome = result; });
            xxplatform::wipe(*password);
            return outcome;
        },
        [this](const XXDiskResultObject &result) {
            registering_ = false;
            XXActivityIndicator::stopActivityIndicator(this);
            if (!result.isSuccess()) {
                XXReminderView::show(this, QString::fromStdString(result.errorTips()), XXReminderView::error);
                return;
            }
            if (XXAppDelegate *delegate = XXAppDelegate::shared())
                delegate->openMainWindow();
            close();
        });
}
