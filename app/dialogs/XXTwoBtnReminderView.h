// A question with a confirm and a cancel button.
#pragma once

#include "XXDialogBase.h"

class XXTwoBtnReminderView final : public XXDialogBase {
    Q_OBJECT
public:
    // Empty titles take the defaults "String_1" (sure) and "String_44" (cancel). Escape and
    // the close button answer cancel.
    static XXTwoBtnReminderView *show(QWidget *parent, const QString &title, std::function<void()> sureBlock,
                                      std::function<void()> cancelBlock = {}, const QString &sureTitle = {},
                                      const QString &cancelTitle = {});

private:
    XXTwoBtnReminderView(QWidget *parent, const QString &title, const QString &sureTitle,
                         const QString &cancelTitle);
    void answerClose() override;

    std::function<void()> sureBlock_;
    std::function<void()> cancelBlock_;
};
