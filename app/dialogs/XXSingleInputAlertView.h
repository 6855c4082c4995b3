// One line of text to type (a folder's name, a new name); Return in the field confirms.
#pragma once

#include "XXDialogBase.h"

class QLineEdit;

class XXSingleInputAlertView final : public XXDialogBase {
    Q_OBJECT
public:
    using SureBlock = std::function<void(const QString &text)>;

    // Escape, Cancel and the close button run cancelBlock.
    static XXSingleInputAlertView *show(QWidget *parent, const QString &placeholder, SureBlock sureBlock,
                                        std::function<void()> cancelBlock = {},
                                        const QString &initialText = {});

    QLineEdit *inputField() const { return field_; }

private:
    XXSingleInputAlertView(QWidget *parent, const QString &placeholder, const QString &initialText);
    void answerClose() override;

    QLineEdit *field_;
    SureBlock sureBlock_;
    std::function<void()> cancelBlock_;
};
