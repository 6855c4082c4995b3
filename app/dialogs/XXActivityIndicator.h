// A spinner over a view while a short background call runs; it also keeps clicks and keys
// away from the view underneath.
#pragma once

#include <QColor>
#include <QWidget>

class QTimer;

class XXActivityIndicator final : public QWidget {
    Q_OBJECT
public:
    // One indicator per view; showing it again only changes its colour.
    static XXActivityIndicator *showActivityIndicatorOnView(QWidget *view, const QColor &color = Qt::white);
    static void stopActivityIndicator(QWidget *view);
    static XXActivityIndicator *indicatorOnView(const QWidget *view);

    void setIndicatorColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit XXActivityIndicator(QWidget *view);

    QColor color_;
    QTimer *timer_;
    int angle_ = 0;
};
