#include "XXTransmissionErrorView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "XXTexts.h"

XXTransmissionErrorView *XXTransmissionErrorView::show(QWidget *parent, const QString &message,
                                                       const QString &sureTitle, const QString &cancelTitle,
                                                       Answers answers, bool showsApplyToAll)
{
    auto *view = new XXTransmissionErrorView(parent, message, sureTitle, cancelTitle, showsApplyToAll);
    view->answers_ = std::move(answers);
    view->present();
    return view;
}

XXTransmissionErrorView::XXTransmissionErrorView(QWidget *parent, const QString &message,
                                                 const QString &sureTitle, const QString &cancelTitle,
                                                 bool showsApplyToAll)
    : XXDialogBase(parent), applyToAll_(new QCheckBox(xxplatform::text("String_108")))
{
    setObjectName(QStringLiteral("XXTransmissionErrorView"));
    auto *body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(imageLabel(QStringLiteral("main38")));
    body->addWidget(messageLabel(message), 1);
    content_->addLayout(body);
    applyToAll_->setObjectName(QStringLiteral("applyToAll"));
    applyToAll_->setVisible(showsApplyToAll);
    content_->addWidget(applyToAll_);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelBtn_ = addButton(buttons, cancelTitle, false);
    cancelBtn_->setObjectName(QStringLiteral("cancelBtn"));
    sureBtn_ = addButton(buttons, sureTitle, true);
    sureBtn_->setObjectName(QStringLiteral("sureBtn"));
    content_->addLayout(buttons);
    connect(sureBtn_, &QPushButton::clicked, this, [this] { answer(answers_.sureBlock); });
    connect(cancelBtn_, &QPushButton::clicked, this, [this] { answer(answers_.cancelBlock); });
}

void XXTransmissionErrorView::changeSureBtnColorLikeCancelBtn()
{
    // A button that stops the transfer must not look like the suggested way on.
    sureBtn_->setDefault(false);
    sureBtn_->setAutoDefault(false);
    cancelBtn_->setDefault(true);
    cancelBtn_->setAutoDefault(true);
}

void XXTransmissionErrorView::answer(const AnswerBlock &block)
{
    const bool all = applyToAll_->isVisible() && applyToAll_->isChecked();
    finish([block, all] {
        if (block)
            block(all);
    });
}

void XXTransmissionErrorView::answerClose()
{
    finish(answers_.closeBlock);
}
