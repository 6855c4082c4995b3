// The balloon under a password field that says what is wrong with it. It keeps its place in
// the layout while hidden, so the form does not jump as tips come and go.
#pragma once

#include <QLabel>

class XXPasswordTipView : public QLabel {
    Q_OBJECT
public:
    explicit XXPasswordTipView(QWidget *parent = nullptr);

    QString tipString() const { return text(); }
    // Shows the balloon with the text.
    void showTip(const QString &tip);
    // Hides the balloon (the tip is gone, not just empty).
    void removeTip();
    bool isShowingTip() const { return !isHidden(); }

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The register and change-password screens draw the same balloon.
using XXRegisterPWTipView = XXPasswordTipView;
using XXChangePWTipView = XXPasswordTipView;
