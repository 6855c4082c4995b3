#include "XXChangePWViewController.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>
#include <memory>

#include "XXActivityIndicator.h"
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

XXChangePWViewController::XXChangePWViewController(QWidget *parent)
    : QWidget(parent, Qt::Window), strength_(new XXPasswordStrengthView),
      sureBtn_(new QPushButton(xxplatform::text("String_1"))),
      cancelBtn_(new QPushButton(xxplatform::text("String_44")))
{
    setObjectName(QStringLiteral("XXChangePWViewController"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_158"));
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 20);
    layout->setSpacing(14);
    layout->addWidget(xxscreens::headingLabel(xxplatform::text("String_158")));

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    currentPWTextField_ = xxpasswordform::addField(*grid, xxplatform::text("String_35"), false, nullptr);
    thisPWTextField_ = xxpasswordform::addField(*grid, xxplatform::text("String_36"), false, &firstTipView_);
    xxpasswordform::addRow(*grid, strength_);
    thisPWAgainTextField_ =
        xxpasswordform::addField(*grid, xxplatform::text("String_38"), false, &nextTipView_);
    pwTipStringLab_ = xxpasswordform::addField(*grid, xxplatform::text("String_37"), true, nullptr);
    xxpasswordform::addNote(*grid, xxplatform::text("String_39"));
    layout->addLayout(grid);
    layout->addStretch();
    currentPWTextField_->setObjectName(QStringLiteral("currentPWTextField"));
    thisPWTextField_->setObjectName(QStringLiteral("thisPWTextField"));
    thisPWAgainTextField_->setObjectName(QStringLiteral("thisPWAgainTextField"));
    pwTipStringLab_->setObjectName(QStringLiteral("pwTipStringLab"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelBtn_->setObjectName(QStringLiteral("cancelBtn"));
    sureBtn_->setObjectName(QStringLiteral("sureBtn"));
    sureBtn_->setDefault(true);
    sureBtn_->setEnabled(false);
    buttons->addWidget(cancelBtn_);
    buttons->addWidget(sureBtn_);
    layout->addLayout(buttons);

    for (XXSecureTextField *field :
         {currentPWTextField_, thisPWTextField_, thisPWAgainTextField_, pwTipStringLab_})
        connect(field, &QLineEdit::textChanged, this, &XXChangePWViewController::textChanged);
    xxpasswordform::connectPair(this, pair());
    connect(sureBtn_, &QPushButton::clicked, this, &XXChangePWViewController::sureAction);
    connect(cancelBtn_, &QPushButton::clicked, this, &QWidget::close);
    currentPWTextField_->setFocus();
    resize(560, 500);
}

xxpasswordform::NewPasswordPair XXChangePWViewController::pair() const
{
    return {thisPWTextField_, thisPWAgainTextField_, firstTipView_, nextTipView_, strength_};
}

bool XXChangePWViewController::inputIsAcceptable() const
{
    return !currentPWTextField_->text().isEmpty() && xxpasswordform::pairIsAcceptable(pair());
}

void XXChangePWViewController::textChanged()
{
    const QString password = thisPWTextField_->text();
    const int code = XXTool::judgePasswordIsEffective(password.toStdString());
    if (code == XXPasswordValid || (code == XXPasswordTooShort && password.isEmpty()))
        firstTipView_->removeTip();
    else
        firstTipView_->showTip(xxpasswordform::tipForCheckCode(code));

    xxpasswordform::showAcceptance(pair(), inputIsAcceptable(), sureBtn_);
}

void XXChangePWViewController::sureAction()
{
    if (xxpasswordform::hintIsTooLong(pwTipStringLab_->text())) {
        XXReminderView::show(this, xxplatform::text("String_170"), XXReminderView::error);
        return;
    }
    if (!inputIsAcceptable() || changing_)
        return;
    changing_ = true;
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    auto oldPassword = std::make_shared<std::string>(currentPWTextField_->secretText());
    auto newPassword = std::make_shared<std::string>(thisPWTextField_->secretText());
    const std::string hint = pwTipStringLab_->text().toStdString();
    xxplatform::runInBackground(
        this, 1000ms,
        [oldPassword, newPassword, hint] {
            XXDiskResultObject outcome = XXDiskResultObject::success(0);
            XXDiskFileManager::shareDiskFileManager().changePasswordWithOld(
                *oldPassword, *newPassword, hint,
                [&outcome](const XXDiskResultObject &result) { outcome = result; });
            xxplatform::wipe(*oldPassword);
            xxplatform::wipe(*newPassword);
            return outcome;
        },
        [this](const XXDiskResultObject &result) {
            changing_ = false;
            XXActivityIndicator::stopActivityIndicator(this);
            if (!result.isSuccess()) {
                XXReminderView::show(this, QString::fromStdString(result.errorTips()), XXReminderView::error);
                return;
            }
            succeeded_ = true;
            XXReminderView::show(this, xxplatform::text("String_45"), XXReminderView::success, [this] {
                auto success = successBlock_;
                close();
                if (success)
                    success();
            });
        });
}

void XXChangePWViewController::closeEvent(QCloseEvent *event)
{
    if (changing_) {
        // The change is on its way; closing now would leave its answer unseen.
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    if (!succeeded_ && cancelBlock_) {
        auto cancel = std::move(cancelBlock_);
        cancelBlock_ = nullptr;
        cancel();
    }
}
