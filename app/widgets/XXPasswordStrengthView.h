// Weak, medium, strong: the first n labels lit for strength level n.
#pragma once

#include <QWidget>

class QLabel;

class XXPasswordStrengthView : public QWidget {
    Q_OBJECT
public:
    explicit XXPasswordStrengthView(QWidget *parent = nullptr);

    // 1 to 3 lights that many labels; anything else greys all three.
    void setLevel(int level);
    int level() const { return level_; }
    void retitle();

    static QColor highlightColor() { return QColor::fromRgbF(1.0f, 0.541f, 0.047f); }
    static QColor greyColor() { return QColor::fromRgbF(0.6f, 0.6f, 0.6f); }
    // The colour label i (0 weak, 1 medium, 2 strong) shows now.
    QColor labelColor(int index) const;

private:
    QLabel *title_;
    QLabel *labels_[3];
    int level_ = 0;
};
