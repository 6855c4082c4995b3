// The start window: finds the volume the program runs from, opens its vault and hands over
// to the agreement (no account yet) or the login window.
#pragma once

#include <QWidget>

class XXHelloViewController : public QWidget {
    Q_OBJECT
public:
    explicit XXHelloViewController(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void startDiskCheck();

    bool started_ = false;
};
