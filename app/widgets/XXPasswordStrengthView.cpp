#include "XXPasswordStrengthView.h"

#include <QHBoxLayout>
#include <QLabel>

#include "XXTexts.h"

XXPasswordStrengthView::XXPasswordStrengthView(QWidget *parent) : QWidget(parent), title_(new QLabel)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(title_);
    for (auto &label : labels_) {
        label = new QLabel;
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(56);
        label->setAutoFillBackground(true);
        layout->addWidget(label);
    }
    layout->addStretch();
    retitle();
    setLevel(0);
}

void XXPasswordStrengthView::retitle()
{
    title_->setText(xxplatform::text("String_40"));
    labels_[0]->setText(xxplatform::text("String_41"));
    labels_[1]->setText(xxplatform::text("String_42"));
    labels_[2]->setText(xxplatform::text("String_43"));
}

void XXPasswordStrengthView::setLevel(int level)
{
    level_ = (level >= 1 && level <= 3) ? level : 0;
    for (int i = 0; i < 3; ++i) {
        QPalette colours = labels_[i]->palette();
        const QColor colour = i < level_ ? highlightColor() : greyColor();
        colours.setColor(QPalette::Window, colour);
        colours.setColor(QPalette::WindowText, Qt::white);
        labels_[i]->setPalette(colours);
    }
}

QColor XXPasswordStrengthView::labelColor(int index) const
{
    return labels_[index]->palette().color(QPalette::Window);
}
