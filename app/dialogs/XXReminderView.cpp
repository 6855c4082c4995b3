#include "XXReminderView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "XXTexts.h"

XXReminderView *XXReminderView::show(QWidget *parent, const QString &message, int type,
                                     std::function<void()> sureBlock)
{
    auto *view = new XXReminderView(parent, message, type, std::move(sureBlock));
    view->present();
    return view;
}

QString XXReminderView::imageNameForType(int type)
{
    switch (type) {
    case success:
        return QStringLiteral("main37");
    case notice:
        return QStringLiteral("main38");
    case error:
        return QStringLiteral("main39");
    default:
        return {};
    }
}

XXReminderView::XXReminderView(QWidget *parent, const QString &message, int type,
                               std::function<void()> sureBlock)
    : XXDialogBase(parent), sureBlock_(std::move(sureBlock))
{
    setObjectName(QStringLiteral("XXReminderView"));
    auto *body = new QHBoxLayout;
    body->setSpacing(16);
    const QString image = imageNameForType(type);
    if (!image.isEmpty())
        body->addWidget(imageLabel(image));
    body->addWidget(messageLabel(message), 1);
    content_->addLayout(body);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *ok = addButton(buttons, xxplatform::text("String_1"), true);
    ok->setObjectName(QStringLiteral("sureBtn"));
    content_->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { finish(sureBlock_); });
}

void XXReminderView::answerClose()
{
    finish(sureBlock_);
}
