#include "XXInputPasswordView.h"

#include <QHBoxLayout>

#include "XXSecureTextField.h"
#include "XXTexts.h"

XXInputPasswordView::XXInputPasswordView(QWidget *parent)
    : QFrame(parent), field_(new XXSecureTextField(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field_);
    field_->setObjectName(QStringLiteral("secureTextField"));
    setPlaceholderString(xxplatform::text("String_2"));
}

void XXInputPasswordView::setPlaceholderString(const QString &text)
{
    field_->setPlaceholderText(text);
}
