#include "XXSingleInputAlertView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "XXTexts.h"

XXSingleInputAlertView *XXSingleInputAlertView::show(QWidget *parent, const QString &placeholder,
                                                     SureBlock sureBlock, std::function<void()> cancelBlock,
                                                     const QString &initialText)
{
    auto *view = new XXSingleInputAlertView(parent, placeholder, initialText);
    view->sureBlock_ = std::move(sureBlock);
    view->cancelBlock_ = std::move(cancelBlock);
    view->present();
    view->field_->setFocus();
    return view;
}

XXSingleInputAlertView::XXSingleInputAlertView(QWidget *parent, const QString &placeholder,
                                               const QString &initialText)
    : XXDialogBase(parent), field_(new QLineEdit)
{
    setObjectName(QStringLiteral("XXSingleInputAlertView"));
    field_->setPlaceholderText(placeholder);
    field_->setText(initialText);
    field_->selectAll();
    field_->setClearButtonEnabled(true);
    content_->addWidget(field_);

    const auto [cancel, sure] = addCancelAndSureRow();

    auto confirm = [this] {
        const QString typed = field_->text();
        finish([this, typed] {
            if (sureBlock_)
                sureBlock_(typed);
        });
    };
    connect(sure, &QPushButton::clicked, this, confirm);
    connect(field_, &QLineEdit::returnPressed, this, confirm);
    connect(cancel, &QPushButton::clicked, this, [this] { finish(cancelBlock_); });
}

void XXSingleInputAlertView::answerClose()
{
    finish(cancelBlock_);
}
