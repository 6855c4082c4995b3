#include "XXDialogBase.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "XXImages.h"
#include "XXTexts.h"

XXDialogBase::XXDialogBase(QWidget *parent) : QDialog(parent ? parent->window() : nullptr)
{
    setWindowTitle(xxplatform::windowTitle());
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose, false);
    content_ = new QVBoxLayout(this);
    content_->setContentsMargins(20, 20, 20, 16);
    content_->setSpacing(14);
    setMinimumWidth(380);
}

void XXDialogBase::present()
{
    open();
    raise();
    activateWindow();
}

void XXDialogBase::finish(const std::function<void()> &block)
{
    if (finished_)
        return;
    finished_ = true;
    hide();
    setResult(QDialog::Accepted);
    if (block)
        block();
    deleteLater();
}

void XXDialogBase::reject()
{
    if (!finished_)
        answerClose();
}

QLabel *XXDialogBase::messageLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(280);
    return label;
}

QLabel *XXDialogBase::imageLabel(const QString &imageName)
{
    auto *label = new QLabel;
    const QPixmap pixmap = xxplatform::namedPixmap(imageName, QSize(48, 48), label->devicePixelRatioF());
    if (!pixmap.isNull())
        label->setPixmap(pixmap);
    label->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    label->setVisible(!pixmap.isNull());
    return label;
}

QPushButton *XXDialogBase::addButton(QHBoxLayout *row, const QString &title, bool isDefault)
{
    auto *button = new QPushButton(title);
    button->setAutoDefault(isDefault);
    button->setDefault(isDefault);
    button->setMinimumWidth(88);
    row->addWidget(button);
    return button;
}

XXDialogBase::CancelAndSure XXDialogBase::addCancelAndSureRow()
{
    auto *row = new QHBoxLayout;
    row->addStretch();
    QPushButton *cancel = addButton(row, xxplatform::text("String_44"), false);
    cancel->setObjectName(QStringLiteral("cancelBtn"));
    QPushButton *sure = addButton(row, xxplatform::text("String_1"), true);
    sure->setObjectName(QStringLiteral("sureBtn"));
    content_->addLayout(row);
    return {cancel, sure};
}
