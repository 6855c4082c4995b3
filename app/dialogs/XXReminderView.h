// A message with one OK button; its type picks the image.
#pragma once

#include "XXDialogBase.h"

class XXReminderView final : public XXDialogBase {
    Q_OBJECT
public:
    enum Type { success = 0, notice = 1, error = 2, textOnly = 3 };

    // Shows message over parent's window. sureBlock (may be empty) runs after the dialog is
    // gone, whichever way it was dismissed: a reminder has only one answer.
    static XXReminderView *show(QWidget *parent, const QString &message, int type,
                                std::function<void()> sureBlock = {});

    static QString imageNameForType(int type);

private:
    XXReminderView(QWidget *parent, const QString &message, int type, std::function<void()> sureBlock);
    void answerClose() override;

    std::function<void()> sureBlock_;
};
