#include "XXPasswordForm.h"

#include <QGridLayout>
#include <QLabel>

#include "XXPasswordTipView.h"
#include "XXSecureTextField.h"
#include "XXTexts.h"
#include "XXTool.h"

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

}  // namespace xxpasswordform
