// The question a transfer asks about one item (a name taken, an item that failed), with a
// check box that applies the answer to all remaining items.
#pragma once

#include "XXDialogBase.h"

class QCheckBox;
class QPushButton;

class XXTransmissionErrorView final : public XXDialogBase {
    Q_OBJECT
public:
    // Both receive the state of the apply-to-all box.
    using AnswerBlock = std::function<void(bool applyToAll)>;

    struct Answers {
        AnswerBlock sureBlock;
        AnswerBlock cancelBlock;
        std::function<void()> closeBlock;  // the close button and Escape
    };

    // showsApplyToAll false hides the box (a question that concerns one item only).
    static XXTransmissionErrorView *show(QWidget *parent, const QString &message, const QString &sureTitle,
                                         const QString &cancelTitle, Answers answers,
                                         bool showsApplyToAll = true);

    // Paints the confirm button as the cancel button, for confirmations that stop something.
    void changeSureBtnColorLikeCancelBtn();
    QCheckBox *applyToAllBox() const { return applyToAll_; }

private:
    XXTransmissionErrorView(QWidget *parent, const QString &message, const QString &sureTitle,
                            const QString &cancelTitle, bool showsApplyToAll);
    void answerClose() override;
    void answer(const AnswerBlock &block);

    QCheckBox *applyToAll_;
    QPushButton *sureBtn_ = nullptr;
    QPushButton *cancelBtn_ = nullptr;
    Answers answers_;
};
