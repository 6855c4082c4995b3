// The user agreement, accepted with a check box (an image button) before registering.
#pragma once

#include <QWidget>

class QPushButton;
class QTextEdit;

class XXAgreeProtocolWindow : public QWidget {
    Q_OBJECT
public:
    explicit XXAgreeProtocolWindow(QWidget *parent = nullptr);

    QTextEdit *textView() const { return text_; }
    QPushButton *acceptBox() const { return accept_; }
    QPushButton *nextButton() const { return next_; }
    // "main41" while accepted, "main40" while not.
    QString acceptImageName() const;

private:
    void acceptChanged();
    void goNext();

    QTextEdit *text_;
    QPushButton *accept_;
    QPushButton *next_;
};

// The agreement's text alone, opened from the about window.
class XXProtocolWindow : public QWidget {
    Q_OBJECT
public:
    explicit XXProtocolWindow(QWidget *parent = nullptr);
};
