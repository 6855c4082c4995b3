// The common frame of the program's dialogs: modal to the window that opens them, and
// dismissed before the block of the chosen answer runs, which runs exactly once.
#pragma once

#include <QDialog>

#include <functional>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

class XXDialogBase : public QDialog {
    Q_OBJECT
public:
    // Opens the dialog modal to parent's window (application-modal without a parent); returns
    // at once. The dialog deletes itself once an answer ran.
    void present();

protected:
    explicit XXDialogBase(QWidget *parent);

    // Hides the dialog, then runs block (when set); later calls do nothing.
    void finish(const std::function<void()> &block);
    bool isFinished() const { return finished_; }

    // What Escape and the window's close button answer.
    virtual void answerClose() = 0;
    void reject() override;

    // A label for a message that wraps and can be selected, as dialog texts on the desktop.
    static QLabel *messageLabel(const QString &text);
    // An image of the resources at 48 pixels; nothing for a missing one.
    static QLabel *imageLabel(const QString &imageName);
    QPushButton *addButton(QHBoxLayout *row, const QString &title, bool isDefault);
    // The right-aligned Cancel ("cancelBtn") and default OK ("sureBtn") row at the bottom.
    struct CancelAndSure {
        QPushButton *cancel;
        QPushButton *sure;
    };
    CancelAndSure addCancelAndSureRow();

    QVBoxLayout *content_;

private:
    bool finished_ = false;
};
