#include "XXActivityIndicator.h"

#include <QEvent>
#include <QPainter>
#include <QTimer>

XXActivityIndicator *XXActivityIndicator::showActivityIndicatorOnView(QWidget *view, const QColor &color)
{
    XXActivityIndicator *indicator = indicatorOnView(view);
    if (!indicator)
        indicator = new XXActivityIndicator(view);
    indicator->setIndicatorColor(color);
    indicator->setGeometry(view->rect());
    indicator->show();
    indicator->raise();
    indicator->setFocus();
    return indicator;
}

void XXActivityIndicator::stopActivityIndicator(QWidget *view)
{
    if (XXActivityIndicator *indicator = indicatorOnView(view)) {
        indicator->hide();
        indicator->deleteLater();
        indicator->setObjectName({});
    }
}

XXActivityIndicator *XXActivityIndicator::indicatorOnView(const QWidget *view)
{
    return view ? view->findChild<XXActivityIndicator *>(QStringLiteral("XXActivityIndicator"),
                                                         Qt::FindDirectChildrenOnly)
                : nullptr;
}

XXActivityIndicator::XXActivityIndicator(QWidget *view) : QWidget(view), timer_(new QTimer(this))
{
    setObjectName(QStringLiteral("XXActivityIndicator"));
    setFocusPolicy(Qt::StrongFocus);
    view->installEventFilter(this);
    connect(timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
    timer_->start(80);
}

void XXActivityIndicator::setIndicatorColor(const QColor &color)
{
    color_ = color;
    update();
}

bool XXActivityIndicator::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void XXActivityIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0, 0, 0, 60));
    const int side = 64;
    const QRect box(width() / 2 - side / 2, height() / 2 - side / 2, side, side);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 150));
    painter.drawRoundedRect(box, 12, 12);
    // Twelve spokes, fading behind the leading one.
    painter.translate(box.center());
    for (int i = 0; i < 12; ++i) {
        QColor spoke = color_;
        spoke.setAlphaF(0.15 + 0.85 * ((12 - i) / 12.0));
        painter.save();
        painter.rotate(angle_ - i * 30);
        painter.setBrush(spoke);
        painter.drawRoundedRect(QRectF(-2, -22, 4, 10), 2, 2);
        painter.restore();
    }
}
