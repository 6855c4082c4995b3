#include "XXPasswordTipView.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int arrowHeight = 6;
}

XXPasswordTipView::XXPasswordTipView(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("tipView"));
    setWordWrap(true);
    setContentsMargins(10, arrowHeight + 4, 10, 4);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, QColor(0x8a, 0x1c, 0x1c));
    setPalette(colours);
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    hide();
}

void XXPasswordTipView::showTip(const QString &tip)
{
    setText(tip);
    show();
}

void XXPasswordTipView::removeTip()
{
    hide();
}

void XXPasswordTipView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect()).adjusted(0.5, arrowHeight + 0.5, -0.5, -0.5);
    QPainterPath balloon;
    balloon.addRoundedRect(body, 6, 6);
    QPainterPath arrow;
    arrow.moveTo(body.left() + 16, body.top());
    arrow.lineTo(body.left() + 22, body.top() - arrowHeight);
    arrow.lineTo(body.left() + 28, body.top());
    arrow.closeSubpath();
    balloon = balloon.united(arrow);
    painter.setPen(QColor(0xe5, 0x48, 0x4d));
    painter.setBrush(QColor(0xfd, 0xec, 0xec));
    painter.drawPath(balloon);
    painter.end();
    QLabel::paintEvent(event);
}
