#include "XXHelloViewController.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <chrono>

#include "XXAppDelegate.h"
#include "XXDiskCheck.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXWindowStyle.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXHelloViewController::XXHelloViewController(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XXHelloViewController"));
    xxscreens::prepareWindow(*this, {});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 40, 48, 40);
    layout->setSpacing(16);
    layout->addStretch();
    layout->addWidget(xxscreens::logoLabel(96));
    QLabel *name = xxscreens::headingLabel(QStringLiteral("Coffervale"));
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto *busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setMaximumHeight(6);
    layout->addWidget(busy);
    layout->addStretch();
    setFixedSize(420, 320);
}

void XXHelloViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!started_) {
        started_ = true;
        startDiskCheck();
    }
}

void XXHelloViewController::startDiskCheck()
{
    xxplatform::runInBackground(this, 1000ms, runDiskCheck, [this](const XXDiskCheckOutcome &outcome) {
        switch (outcome.kind) {
        case XXDiskCheckOutcome::noVolume:
            XXReminderView::show(this, xxplatform::text("String_4"), XXReminderView::notice,
                                 [this] { close(); });
            return;
        case XXDiskCheckOutcome::failed:
            XXReminderView::show(this, QString::fromStdString(outcome.result.errorTips()),
                                 XXReminderView::error);
            return;
        case XXDiskCheckOutcome::opened:
            break;
        }
        XXAppDelegate *delegate = XXAppDelegate::shared();
        if (!delegate)
            return;
        if (outcome.result.successCode() == 0) {
            delegate->openAgreementWindow();
            close();
        } else if (outcome.result.successCode() == 1) {
            delegate->openMainWindow();
            close();
        }
    });
}
