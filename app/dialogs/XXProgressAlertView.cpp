#include "XXProgressAlertView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "XXTexts.h"

namespace {
constexpr int barSteps = 1000;
}

XXProgressAlertView *XXProgressAlertView::show(QWidget *parent, const QString &title,
                                               std::function<void()> cancelBlock, const QString &subtitle)
{
    auto *view = new XXProgressAlertView(parent, title, subtitle);
    view->cancelBlock_ = std::move(cancelBlock);
    view->present();
    return view;
}

XXProgressAlertView::XXProgressAlertView(QWidget *parent, const QString &title, const QString &subtitle)
    : XXDialogBase(parent), title_(messageLabel(title)), subtitle_(messageLabel({})), bar_(new QProgressBar),
      cancelBtn_(nullptr)
{
    setObjectName(QStringLiteral("XXProgressAlertView"));
    setMinimumWidth(440);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    content_->addWidget(title_);
    bar_->setRange(0, barSteps);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    content_->addWidget(bar_);
    setSubtitle(subtitle);
    content_->addWidget(subtitle_);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelBtn_ = addButton(buttons, xxplatform::text("String_44"), false);
    cancelBtn_->setObjectName(QStringLiteral("cancelBtn"));
    content_->addLayout(buttons);
    connect(cancelBtn_, &QPushButton::clicked, this, [this] { finish(cancelBlock_); });
}

void XXProgressAlertView::setTitle(const QString &title)
{
    title_->setText(title);
}

void XXProgressAlertView::setSubtitle(const QString &subtitle)
{
    subtitle_->setText(subtitle.isEmpty() ? xxplatform::text("String_61") : subtitle);
}

QString XXProgressAlertView::title() const
{
    return title_->text();
}

QString XXProgressAlertView::subtitle() const
{
    return subtitle_->text();
}

void XXProgressAlertView::setProgress(double progress)
{
    progress_ = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    bar_->setValue(static_cast<int>(std::lround(progress_ * barSteps)));
}

void XXProgressAlertView::setHiddenCancelBtn(bool hidden)
{
    cancelBtn_->setHidden(hidden);
}

void XXProgressAlertView::dismiss()
{
    finish({});
}

void XXProgressAlertView::answerClose()
{
    if (!cancelBtn_->isHidden())
        finish(cancelBlock_);
}
