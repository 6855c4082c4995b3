#include "XXChangePWViewController.h"

#include <QCloseEvent>
#include <QPushButton>

#include <chrono>
#include <memory>

#include "XXActivityIndicator.h"
#include "XXDiskFileManager.h"
#include "XXPasswordForm.h"
#include "XXPasswordTipView.h"
#include "XXReminderView.h"
#include "XXSecureTextField.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXChangePWViewController::XXChangePWViewController(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XXChangePWViewController"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_158"));
    setWindowModality(Qt::WindowModal);
    form_ = xxpasswordform::buildForm(*this, {xxplatform::text("String_158"), xxplatform::text("String_35"),
                                              xxplatform::text("String_36"), xxplatform::text("String_38")});
    form_.current->setObjectName(QStringLiteral("currentPWTextField"));
    form_.password->setObjectName(QStringLiteral("thisPWTextField"));
    form_.confirmation->setObjectName(QStringLiteral("thisPWAgainTextField"));
    form_.hint->setObjectName(QStringLiteral("pwTipStringLab"));
    for (XXSecureTextField *field : {form_.current, form_.password, form_.confirmation, form_.hint})
        connect(field, &QLineEdit::textChanged, this, &XXChangePWViewController::textChanged);
    connect(form_.sure, &QPushButton::clicked, this, &XXChangePWViewController::sureAction);
    resize(560, 500);
}

bool XXChangePWViewController::inputIsAcceptable() const
{
    return !form_.current->text().isEmpty() && xxpasswordform::pairIsAcceptable(form_.pair());
}

void XXChangePWViewController::textChanged()
{
    const QString password = form_.password->text();
    const int code = XXTool::judgePasswordIsEffective(password.toStdString());
    if (code == XXPasswordValid || (code == XXPasswordTooShort && password.isEmpty()))
        form_.passwordTip->removeTip();
    else
        form_.passwordTip->showTip(xxpasswordform::tipForCheckCode(code));

    xxpasswordform::showAcceptance(form_.pair(), inputIsAcceptable(), form_.sure);
}

void XXChangePWViewController::sureAction()
{
    if (xxpasswordform::refuseLongHint(*this, form_))
        return;
    if (!inputIsAcceptable() || changing_)
        return;
    changing_ = true;
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    auto oldPassword = std::make_shared<std::string>(form_.current->secretText());
    auto newPassword = std::make_shared<std::string>(form_.password->secretText());
    const std::string hint = form_.hint->text().toStdString();
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
