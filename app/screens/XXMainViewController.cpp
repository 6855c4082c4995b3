#include "XXMainViewController.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>

#include "XXActivityIndicator.h"
#include "XXAppDelegate.h"
#include "XXChangePWViewController.h"
#include "XXDiskFileManager.h"
#include "XXMainMenu.h"
#include "XXStoryboard.h"
#include "XXTexts.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXMainViewController::XXMainViewController(QWidget *parent) : QWidget(parent), lockBtn_(new QPushButton)
{
    setObjectName(QStringLiteral("XXMainViewController"));
    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(xxscreens::logoLabel(72));
    auto *note = new QLabel(QStringLiteral("The vault is unlocked. The two panes for its files and the "
                                           "computer's come with the next version of Coffervale; until "
                                           "then use coffervale-cli."));
    note->setObjectName(QStringLiteral("unfinishedNote"));
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignCenter);
    note->setMinimumWidth(480);
    auto *noteRow = new QHBoxLayout;
    noteRow->addStretch(1);
    noteRow->addWidget(note, 2);
    noteRow->addStretch(1);
    layout->addLayout(noteRow);
    lockBtn_->setObjectName(QStringLiteral("lockBtn"));
    lockBtn_->setText(xxplatform::text("String_10"));
    lockBtn_->setMinimumHeight(34);
    layout->addWidget(lockBtn_, 0, Qt::AlignCenter);
    layout->addStretch();
    connect(lockBtn_, &QPushButton::clicked, this, &XXMainViewController::lockAction);
    connectMenu();
}

XXMainViewController::~XXMainViewController()
{
    disconnectMenu();
}

void XXMainViewController::connectMenu()
{
    XXAppDelegate *delegate = XXAppDelegate::shared();
    if (!delegate)
        return;
    XXMainMenu &menu = delegate->mainMenu();
    if (QAction *lock = menu.action(QStringLiteral("lock"))) {
        lock->setEnabled(true);
        connect(lock, &QAction::triggered, this, &XXMainViewController::lockAction);
    }
    if (QAction *change = menu.action(QStringLiteral("changePW"))) {
        change->setEnabled(true);
        connect(change, &QAction::triggered, this, &XXMainViewController::changePassword);
    }
}

void XXMainViewController::disconnectMenu()
{
    XXAppDelegate *delegate = XXAppDelegate::shared();
    if (!delegate)
        return;
    XXMainMenu &menu = delegate->mainMenu();
    for (QAction *entry : menu.sessionActions())
        disconnect(entry, nullptr, this, nullptr);
    menu.setSessionActionsEnabled(false);
}

void XXMainViewController::lockAction()
{
    if (locking_)
        return;
    locking_ = true;
    disconnectMenu();
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::white);
    xxplatform::runInBackground(
        this, 0ms,
        [] { XXDiskFileManager::shareDiskFileManager().logOutComplete([](const XXDiskResultObject &) {}); },
        [this] {
            XXActivityIndicator::stopActivityIndicator(this);
            if (dismissBlock_) {
                auto block = std::move(dismissBlock_);
                dismissBlock_ = nullptr;
                block();
            }
        });
}

void XXMainViewController::changePassword()
{
    auto *change = qobject_cast<XXChangePWViewController *>(xxstoryboard::instantiateControllerWithIdentifier(
        QStringLiteral("XXChangePWWindowController"), window()));
    if (!change)
        return;
    QPointer<XXMainViewController> self(this);
    change->setSuccessBlock([self] {
        if (self)
            self->lockAction();
    });
    change->show();
}
