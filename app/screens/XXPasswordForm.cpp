#include "XXPasswordForm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "XXPasswordStrengthView.h"
#include "XXPasswordTipView.h"
#include "XXReminderView.h"
#include "XXSecureTextField.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXWindowStyle.h"

namespace xxpasswordform {

XXSecureTextField *addField(QGridLayout &grid, const QString &title, bool echoes, XXPasswordTipView **tip)
{
    const int row = grid.rowCount();
    auto *label = new QLabel(title);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *field = new XXSecureTextField(nullptr, echoes);
    grid.addWidget(label, row, 0);
    grid.addWidget(field, row, 1);
    label->setBuddy(field);
    if (tip) {
        *tip = new XXPasswordTipView;
        grid.addWidget(*tip, row + 1, 1);
    }
    return field;
}

QLabel *addNote(QGridLayout &grid, const QString &note)
{
    auto *label = new QLabel(note);
    label->setWordWrap(true);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, QColor::fromRgbF(0.4f, 0.4f, 0.4f));
    label->setPalette(colours);
    addRow(grid, label);
    return label;
}

void addRow(QGridLayout &grid, QWidget *widget)
{
    grid.addWidget(widget, grid.rowCount(), 1);
}

QString tipForCheckCode(int code)
{
    switch (code) {
    case XXPasswordTooShort:
        return xxplatform::text("String_46");
    case XXPasswordTooLong:
        return xxplatform::text("String_47");
    case XXPasswordBadCharacter:
        return xxplatform::text("String_48");
    default:
        return {};
    }
}

bool hintIsTooLong(const QString &hint)
{
    return xxplatform::characterCount(hint) > XXSecureTextField::maximumCharacters;
}

void connectPair(QObject *context, const NewPasswordPair &pair)
{
    QObject::connect(pair.password, &XXSecureTextField::editingBegan, context,
                     [pair] { passwordEditingBegan(pair); });
    pair.password->setBecomeFirstResponseBlock([pair] { passwordEditingBegan(pair); });
    QObject::connect(pair.confirmation, &XXSecureTextField::editingBegan, context,
                     [pair] { pair.confirmationTip->removeTip(); });
    pair.confirmation->setBecomeFirstResponseBlock([pair] { pair.confirmationTip->removeTip(); });
    QObject::connect(pair.password, &XXSecureTextField::editingEnded, context,
                     [pair] { passwordEditingEnded(pair); });
    QObject::connect(pair.confirmation, &XXSecureTextField::editingEnded, context,
                     [pair] { confirmationEditingEnded(pair); });
}

void passwordEditingBegan(const NewPasswordPair &pair)
{
    pair.passwordTip->removeTip();
    pair.strength->setLevel(0);
}

void passwordEditingEnded(const NewPasswordPair &pair)
{
    const std::string password = pair.password->text().toStdString();
    const int code = XXTool::judgePasswordIsEffective(password);
    if (code == XXPasswordValid)
        pair.strength->setLevel(XXTool::levelWithEffectivePassword(password));
    else
        pair.passwordTip->showTip(tipForCheckCode(code));
}

void confirmationEditingEnded(const NewPasswordPair &pair)
{
    // A password that breaks a rule is told so under itself; only a valid one can mismatch.
    if (XXTool::judgePasswordIsEffective(pair.password->text().toStdString()) != XXPasswordValid)
        return;
    if (pair.confirmation->text() != pair.password->text())
        pair.confirmationTip->showTip(xxplatform::text("String_49"));
}

bool pairIsAcceptable(const NewPasswordPair &pair)
{
    const QString password = pair.password->text();
    return XXTool::judgePasswordIsEffective(password.toStdString()) == XXPasswordValid &&
        password == pair.confirmation->text();
}

void showAcceptance(const NewPasswordPair &pair, bool acceptable, QPushButton *sure, bool passwordBeingEdited)
{
    sure->setEnabled(acceptable);
    const QString password = pair.password->text();
    const QString confirmation = pair.confirmation->text();
    const int code = XXTool::judgePasswordIsEffective(password.toStdString());
    if (password.isEmpty() || confirmation.isEmpty() || (code == XXPasswordValid && password == confirmation)) {
        pair.confirmationTip->removeTip();
        return;
    }
    // The rules in their order: the password's own first, then the two being equal.
    if (code != XXPasswordValid) {
        pair.confirmationTip->removeTip();
        if (!passwordBeingEdited)
            pair.passwordTip->showTip(tipForCheckCode(code));
        return;
    }
    pair.confirmationTip->showTip(xxplatform::text("String_49"));
}

Form buildForm(QWidget &window, const FormTitles &titles)
{
    Form form;
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(32, 24, 32, 20);
    layout->setSpacing(14);
    layout->addWidget(xxscreens::headingLabel(titles.heading));

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    if (!titles.current.isEmpty())
        form.current = addField(*grid, titles.current, false, nullptr);
    form.password = addField(*grid, titles.password, false, &form.passwordTip);
    form.strength = new XXPasswordStrengthView;
    addRow(*grid, form.strength);
    form.confirmation = addField(*grid, titles.confirmation, false, &form.confirmationTip);
    form.hint = addField(*grid, xxplatform::text("String_37"), true, nullptr);
    addNote(*grid, xxplatform::text("String_39"));
    layout->addLayout(grid);
    layout->addStretch();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    form.cancel = new QPushButton(xxplatform::text("String_44"));
    form.sure = new QPushButton(xxplatform::text("String_1"));
    form.cancel->setObjectName(QStringLiteral("cancelBtn"));
    form.sure->setObjectName(QStringLiteral("sureBtn"));
    form.sure->setDefault(true);
    form.sure->setEnabled(false);
    buttons->addWidget(form.cancel);
    buttons->addWidget(form.sure);
    layout->addLayout(buttons);

    connectPair(&window, form.pair());
    QObject::connect(form.cancel, &QPushButton::clicked, &window, &QWidget::close);
    (form.current ? form.current : form.password)->setFocus();
    return form;
}

bool refuseLongHint(QWidget &window, const Form &form)
{
    if (!hintIsTooLong(form.hint->text()))
        return false;
    XXReminderView::show(&window, xxplatform::text("String_170"), XXReminderView::error);
    return true;
}

}  // namespace xxpasswordform
