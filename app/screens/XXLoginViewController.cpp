#include "XXLoginViewController.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>

#include "XXActivityIndicator.h"
#include "XXAppDelegate.h"
#include "XXDiskCheck.h"
#include "XXDiskFileManager.h"
#include "XXInputPasswordView.h"
#include "XXMainViewController.h"
#include "XXMainWindowController.h"
#include "XXReminderView.h"
#include "XXSecureTextField.h"
#include "XXStoryboard.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

const QString english = QStringLiteral("English");
const QString simplifiedChinese = QStringLiteral("简体中文版");

}  // namespace

XXLoginViewController::XXLoginViewController(QWidget *parent)
    : QWidget(parent), title_(xxscreens::headingLabel(QStringLiteral("Coffervale"))),
      inputView_(new XXInputPasswordView), sureBtn_(new QPushButton), forgetBtn_(new QPushButton),
      chooseLanguageView_(new QComboBox)
{
    setObjectName(QStringLiteral("XXLoginViewController"));
    auto *column = new QVBoxLayout;
    column->setSpacing(14);
    column->addWidget(xxscreens::logoLabel(96));
    title_->setAlignment(Qt::AlignCenter);
    column->addWidget(title_);
    column->addSpacing(6);
    inputView_->setMinimumWidth(300);
    column->addWidget(inputView_);
    sureBtn_->setObjectName(QStringLiteral("sureBtn"));
    sureBtn_->setMinimumHeight(34);
    column->addWidget(sureBtn_);
    forgetBtn_->setObjectName(QStringLiteral("forgetBtn"));
    forgetBtn_->setFlat(true);
    forgetBtn_->setCursor(Qt::PointingHandCursor);
    column->addWidget(forgetBtn_, 0, Qt::AlignCenter);
    column->addSpacing(10);
    chooseLanguageView_->setObjectName(QStringLiteral("chooseLanguageView"));
    column->addWidget(chooseLanguageView_, 0, Qt::AlignCenter);

    auto *outer = new QHBoxLayout(this);
    outer->addStretch();
    auto *middle = new QVBoxLayout;
    middle->addStretch(2);
    middle->addLayout(column);
    middle->addStretch(3);
    outer->addLayout(middle);
    outer->addStretch();

    fillLanguageChooser();
    retitle();
    connect(sureBtn_, &QPushButton::clicked, this, &XXLoginViewController::sureAction);
    connect(forgetBtn_, &QPushButton::clicked, this, &XXLoginViewController::forgetAction);
    connect(chooseLanguageView_, &QComboBox::activated, this, &XXLoginViewController::languageChosen);
    qApp->installEventFilter(this);
}

XXLoginViewController::~XXLoginViewController()
{
    qApp->removeEventFilter(this);
}

void XXLoginViewController::fillLanguageChooser()
{
    const bool chinese = XXTool::shareTool().languageName() == "zh-Hans";
    chooseLanguageView_->clear();
    chooseLanguageView_->addItems(chinese ? QStringList{simplifiedChinese, english}
                                          : QStringList{english, simplifiedChinese});
    chooseLanguageView_->setCurrentIndex(0);
}

void XXLoginViewController::retitle()
{
    inputView_->setPlaceholderString(xxplatform::text("String_2"));
    sureBtn_->setText(xxplatform::text("String_1"));
    forgetBtn_->setText(xxplatform::text("String_3"));
}

void XXLoginViewController::languageChosen(int index)
{
    const QString chosen = chooseLanguageView_->itemText(index);
    XXTool::shareTool().setLanguageName(chosen == simplifiedChinese ? "zh-Hans" : "en");
    retitle();
    if (XXAppDelegate *delegate = XXAppDelegate::shared())
        delegate->reSetPageLanguage();
}

bool XXLoginViewController::eventFilter(QObject *watched, QEvent *event)
{
    // Return logs in from anywhere on this window, but not while the unlocked screen is
    // shown; the key goes on to the focused widget as usual.
    if (event->type() == QEvent::KeyPress && !isLogin_ && isVisible()) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool isReturn = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        auto *target = qobject_cast<QWidget *>(watched);
        // Only the first receiver: a key that travels up to the parents is seen again.
        if (isReturn && !key->isAutoRepeat() && target && target->window() == window() &&
            (target == QApplication::focusWidget() || (!QApplication::focusWidget() && target == window())))
            sureAction();
    }
    return QWidget::eventFilter(watched, event);
}

void XXLoginViewController::sureAction()
{
    if (isLogin_ || loggingIn_)
        return;
    loggingIn_ = true;
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::white);
    auto password = std::make_shared<std::string>(inputView_->secureTextField()->secretText());
    xxplatform::runInBackground(
        this, 750ms,
        [password] {
            XXDiskResultObject outcome = XXDiskResultObject::success(0);
            XXDiskFileManager::shareDiskFileManager().loginWithPassword(
                *password, [&outcome](const XXDiskResultObject &result) { outcome = result; });
            xxplatform::wipe(*password);
            return outcome;
        },
        [this](const XXDiskResultObject &result) {
            loggingIn_ = false;
            XXActivityIndicator::stopActivityIndicator(this);
            if (!result.isSuccess()) {
                XXReminderView::show(this, QString::fromStdString(result.errorTips()), XXReminderView::error);
                return;
            }
            loginSucceeded();
        });
}

void XXLoginViewController::loginSucceeded()
{
    auto *mainWindow = qobject_cast<XXMainWindowController *>(window());
    auto *mainView = qobject_cast<XXMainViewController *>(
        xxstoryboard::instantiateControllerWithIdentifier(QStringLiteral("XXMainViewController")));
    if (!mainWindow || !mainView) {
        delete mainView;
        return;
    }
    QPointer<XXLoginViewController> self(this);
    mainView->setDismissBlock([self] {
        if (self)
            self->returnFromMainView();
    });
    isLogin_ = true;
    setControlsHidden(true);
    inputView_->secureTextField()->clear();
    mainWindow->presentView(mainView);
}

void XXLoginViewController::setControlsHidden(bool hidden)
{
    chooseLanguageView_->setHidden(hidden);
    sureBtn_->setHidden(hidden);
    forgetBtn_->setHidden(hidden);
    inputView_->setHidden(hidden);
}

void XXLoginViewController::returnFromMainView()
{
    if (auto *mainWindow = qobject_cast<XXMainWindowController *>(window()))
        mainWindow->dismissPresentedView();
    setControlsHidden(false);
    isLogin_ = false;
    inputView_->secureTextField()->setFocus();
    runDiskCheckAfterLock();
}

void XXLoginViewController::runDiskCheckAfterLock()
{
    xxplatform::runInBackground(this, 1000ms, runDiskCheck, [this](const XXDiskCheckOutcome &outcome) {
        switch (outcome.kind) {
        case XXDiskCheckOutcome::noVolume:
            XXReminderView::show(this, xxplatform::text("String_4"), XXReminderView::notice);
            return;
        case XXDiskCheckOutcome::failed:
            XXReminderView::show(this, QString::fromStdString(outcome.result.errorTips()),
                                 XXReminderView::error);
            return;
        case XXDiskCheckOutcome::opened:
            break;
        }
        if (outcome.result.successCode() != 0)
            return;
        if (XXAppDelegate *delegate = XXAppDelegate::shared())
            delegate->openRegisterWindow();
        window()->close();
    });
}

void XXLoginViewController::forgetAction()
{
    xxplatform::runInBackground(
        this, 0ms, [] { return XXDiskFileManager::shareDiskFileManager().acquirePasswordTip(); },
        [this](const std::string &tip) {
            const QString shown = tip.empty() ? xxplatform::text("String_167") : QString::fromStdString(tip);
            XXReminderView::show(this, shown, XXReminderView::textOnly);
        });
}
