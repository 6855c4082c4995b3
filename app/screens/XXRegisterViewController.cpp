#include "XXRegisterViewController.h"

#include <QPushButton>

#include <chrono>
#include <memory>

#include "XXActivityIndicator.h"
#include "XXAppDelegate.h"
#include "XXDiskFileManager.h"
#include "XXPasswordForm.h"
#include "XXReminderView.h"
#include "XXSecureTextField.h"
#include "XXTexts.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXRegisterViewController::XXRegisterViewController(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XXRegisterViewController"));
    xxscreens::prepareWindow(*this, xxplatform::text("String_50"));
    form_ = xxpasswordform::buildForm(*this, {xxplatform::text("String_50"), {}, xxplatform::text("String_51"),
                                              xxplatform::text("String_52")});
    form_.password->setObjectName(QStringLiteral("secuTextFieldOne"));
    form_.confirmation->setObjectName(QStringLiteral("secuTextFieldTwo"));
    form_.hint->setObjectName(QStringLiteral("helpGetPWTipTextField"));
    for (XXSecureTextField *field : {form_.password, form_.confirmation, form_.hint})
        connect(field, &QLineEdit::textChanged, this, &XXRegisterViewController::textChanged);
    connect(form_.sure, &QPushButton::clicked, this, &XXRegisterViewController::sureAction);
    resize(560, 460);
}

void XXRegisterViewController::textChanged()
{
    xxpasswordform::showAcceptance(form_.pair(), xxpasswordform::pairIsAcceptable(form_.pair()), form_.sure,
                                   sender() == form_.password);
}

void XXRegisterViewController::sureAction()
{
    if (xxpasswordform::refuseLongHint(*this, form_))
        return;
    if (!xxpasswordform::pairIsAcceptable(form_.pair()) || registering_)
        return;
    registering_ = true;
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    auto password = std::make_shared<std::string>(form_.password->secretText());
    const std::string hint = form_.hint->text().toStdString();
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
