#include "XXMainWindowController.h"

#include <QMenuBar>
#include <QStackedWidget>

#include "XXAppDelegate.h"
#include "XXLoginViewController.h"
#include "XXMainMenu.h"
#include "XXWindowStyle.h"

XXMainWindowController::XXMainWindowController(QWidget *parent)
    : QMainWindow(parent), stack_(new QStackedWidget), login_(new XXLoginViewController)
{
    setObjectName(QStringLiteral("XXMainWindowController"));
    xxscreens::prepareWindow(*this, {});
    stack_->addWidget(login_);
    setCentralWidget(stack_);
    if (XXAppDelegate *delegate = XXAppDelegate::shared())
        delegate->mainMenu().attachTo(menuBar());
    resize(1120, 720);
    setMinimumSize(800, 480);  // room for both panes' name columns
}

void XXMainWindowController::presentView(QWidget *view)
{
    dismissPresentedView();
    presented_ = view;
    stack_->addWidget(view);
    stack_->setCurrentWidget(view);
}

void XXMainWindowController::dismissPresentedView()
{
    if (!presented_)
        return;
    stack_->removeWidget(presented_);
    presented_->deleteLater();
    presented_ = nullptr;
    stack_->setCurrentWidget(login_);
}
