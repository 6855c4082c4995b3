// The automatic-lock sheet: minutes without input after which the vault locks (off, or 1 to
// 120) and whether a screen lock or sleep locks it too. editSettings() is the whole round:
// read the stored values on a worker, show the sheet, and on OK apply them to the idle lock at
// once and store them on a worker, with a reminder when storing failed. Cancel stores nothing.
#pragma once

#include <QPointer>

#include <functional>

#include "XXDialogBase.h"
#include "XXTimeoutSettings.h"

class QCheckBox;
class QSpinBox;
class XXIdleLock;

class XXTimeoutSettingView final : public XXDialogBase {
    Q_OBJECT
public:
    using SureBlock = std::function<void(const XXTimeoutValues &values)>;

    // Escape, Cancel and the close button run cancelBlock.
    static XXTimeoutSettingView *show(QWidget *parent, const XXTimeoutValues &values, SureBlock sureBlock,
                                      std::function<void()> cancelBlock);

    // finished runs once the sheet is answered either way (after OK, before the write ends),
    // and not when parent goes away first, which closes the sheet unanswered.
    static void editSettings(QWidget *parent, XXIdleLock *idleLock, std::function<void()> finished);

    XXTimeoutValues values() const;
    QSpinBox *idleMinutesBox() const { return minutesBox_; }
    QCheckBox *lockOnScreenLockBox() const { return screenLockBox_; }

private:
    XXTimeoutSettingView(QWidget *parent, const XXTimeoutValues &values);
    void answerClose() override;

    QSpinBox *minutesBox_;
    QCheckBox *screenLockBox_;
    SureBlock sureBlock_;
    std::function<void()> cancelBlock_;
};
