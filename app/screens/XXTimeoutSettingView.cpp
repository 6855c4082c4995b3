#include "XXTimeoutSettingView.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <chrono>

#include "XXIdleLock.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXTimeoutSettingView *XXTimeoutSettingView::show(QWidget *parent, const XXTimeoutValues &values,
                                                 SureBlock sureBlock, std::function<void()> cancelBlock)
{
    auto *view = new XXTimeoutSettingView(parent, values);
    view->sureBlock_ = std::move(sureBlock);
    view->cancelBlock_ = std::move(cancelBlock);
    view->present();
    return view;
}

XXTimeoutSettingView::XXTimeoutSettingView(QWidget *parent, const XXTimeoutValues &values)
    : XXDialogBase(parent), minutesBox_(new QSpinBox), screenLockBox_(new QCheckBox)
{
    setObjectName(QStringLiteral("XXTimeoutSettingView"));
    setWindowTitle(xxplatform::windowTitle(xxplatform::text("String_191")));
    auto *title = new QLabel(xxplatform::text("String_191"));
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    content_->addWidget(title);

    minutesBox_->setObjectName(QStringLiteral("idleMinutesBox"));
    minutesBox_->setRange(0, XXTimeoutValues::maxIdleLockMinutes);
    minutesBox_->setSpecialValueText(xxplatform::text("String_193"));
    minutesBox_->setSuffix(xxplatform::text("String_194"));
    minutesBox_->setValue(values.idleLockMinutes);
    minutesBox_->setAccelerated(true);
    auto *form = new QFormLayout;
    form->addRow(messageLabel(xxplatform::text("String_192")), minutesBox_);
    content_->addLayout(form);

    screenLockBox_->setObjectName(QStringLiteral("lockOnScreenLockBox"));
    screenLockBox_->setText(xxplatform::text("String_195"));
    screenLockBox_->setChecked(values.lockOnScreenLock);
    content_->addWidget(screenLockBox_);

    QLabel *note = messageLabel(xxplatform::text("String_196"));
    QPalette colours = note->palette();  // grey like the password screens' notes
    colours.setColor(QPalette::WindowText, QColor::fromRgbF(0.4f, 0.4f, 0.4f));
    note->setPalette(colours);
    content_->addWidget(note);

    const auto [cancel, sure] = addCancelAndSureRow();
    connect(sure, &QPushButton::clicked, this, [this] {
        const XXTimeoutValues chosen = this->values();
        finish([this, chosen] {
            if (sureBlock_)
                sureBlock_(chosen);
        });
    });
    connect(cancel, &QPushButton::clicked, this, [this] { finish(cancelBlock_); });
    minutesBox_->setFocus();
}

XXTimeoutValues XXTimeoutSettingView::values() const
{
    return {minutesBox_->value(), screenLockBox_->isChecked()};
}

void XXTimeoutSettingView::answerClose()
{
    finish(cancelBlock_);
}

void XXTimeoutSettingView::editSettings(QWidget *parent, XXIdleLock *idleLock, std::function<void()> finished)
{
    QPointer<QWidget> owner(parent);
    QPointer<XXIdleLock> lock(idleLock);
    auto done = std::make_shared<std::function<void()>>(std::move(finished));
    xxplatform::runInBackground(
        parent, 0ms, [] { return xxtimeout::readTimeoutSettings(); },
        [owner, lock, done](const XXTimeoutValues &stored) {
            auto sure = [owner, lock, done](const XXTimeoutValues &chosen) {
                if (lock) {
                    lock->setIdleMinutes(chosen.idleLockMinutes);
                    lock->setLockOnScreenLock(chosen.lockOnScreenLock);
                }
                if (*done)
                    (*done)();
                xxplatform::runInBackground(
                    owner, 0ms, [chosen] { return xxtimeout::writeTimeoutSettings(chosen); },
                    [owner](bool stored) {
                        if (!stored)
                            XXReminderView::show(owner, xxplatform::text("String_197"),
                                                 XXReminderView::error);
                    });
            };
            auto cancel = [done] {
                if (*done)
                    (*done)();
            };
            XXTimeoutSettingView *view = show(owner, stored, sure, cancel);
            // The sheet belongs to the session: once the unlocked screen is gone, so is it.
            connect(owner, &QObject::destroyed, view, [view] { view->finish({}); });
        });
}
