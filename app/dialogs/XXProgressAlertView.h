// The progress of a transfer, backup or format, with a Cancel button.
#pragma once

#include "XXDialogBase.h"

class QLabel;
class QProgressBar;
class QPushButton;

class XXProgressAlertView final : public XXDialogBase {
    Q_OBJECT
public:
    // An empty subtitle takes the default "String_61".
    static XXProgressAlertView *show(QWidget *parent, const QString &title, std::function<void()> cancelBlock,
                                     const QString &subtitle = {});

    void setTitle(const QString &title);
    void setSubtitle(const QString &subtitle);
    // 0.0 to 1.0; values outside are brought into the range.
    void setProgress(double progress);
    double progress() const { return progress_; }
    QString title() const;
    QString subtitle() const;
    // Without the button neither Escape nor the close button stop anything.
    void setHiddenCancelBtn(bool hidden);
    // Closes the dialog without running the cancel block (the work ended).
    void dismiss();

private:
    XXProgressAlertView(QWidget *parent, const QString &title, const QString &subtitle);
    void answerClose() override;

    QLabel *title_;
    QLabel *subtitle_;
    QProgressBar *bar_;
    QPushButton *cancelBtn_;
    double progress_ = 0.0;
    std::function<void()> cancelBlock_;
};
