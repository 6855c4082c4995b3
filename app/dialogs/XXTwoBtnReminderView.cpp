#include "XXTwoBtnReminderView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "XXTexts.h"

XXTwoBtnReminderView *XXTwoBtnReminderView::show(QWidget *parent, const QString &title,
                                                 std::function<void()> sureBlock,
                                                 std::function<void()> cancelBlock, const QString &sureTitle,
                                                 const QString &cancelTitle)
{
    auto *view = new XXTwoBtnReminderView(parent, title, sureTitle, cancelTitle);
    view->sureBlock_ = std::move(sureBlock);
    view->cancelBlock_ = std::move(cancelBlock);
    view->present();
    return view;
}

XXTwoBtnReminderView::XXTwoBtnReminderView(QWidget *parent, const QString &title, const QString &sureTitle,
                                           const QString &cancelTitle)
    : XXDialogBase(parent)
{
    setObjectName(QStringLiteral("XXTwoBtnReminderView"));
    auto *body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(imageLabel(QStringLiteral("main38")));
    body->addWidget(messageLabel(title), 1);
    content_->addLayout(body);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *cancel =
        addButton(buttons, cancelTitle.isEmpty() ? xxplatform::text("String_44") : cancelTitle, false);
    cancel->setObjectName(QStringLiteral("cancelBtn"));
    QPushButton *sure =
        addButton(buttons, sureTitle.isEmpty() ? xxplatform::text("String_1") : sureTitle, true);
    sure->setObjectName(QStringLiteral("sureBtn"));
    content_->addLayout(buttons);
    connect(sure, &QPushButton::clicked, this, [this] { finish(sureBlock_); });
    connect(cancel, &QPushButton::clicked, this, [this] { finish(cancelBlock_); });
}

void XXTwoBtnReminderView::answerClose()
{
    finish(cancelBlock_);
}
