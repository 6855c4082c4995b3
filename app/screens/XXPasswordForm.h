// The rows the register and change-password screens share: titled fields with their tip
// balloons, the hint with its explanation, and the strength labels.
#pragma once

#include <QString>

class QGridLayout;
class QLabel;
class QWidget;
class XXPasswordTipView;
class XXSecureTextField;

namespace xxpasswordform {

// Adds "title | field" and, when tip is not null, the tip's row under the field. Returns the
// new field.
XXSecureTextField *addField(QGridLayout &grid, const QString &title, bool echoes, XXPasswordTipView **tip);
// Adds the hint's explanation under the last row.
QLabel *addNote(QGridLayout &grid, const QString &note);
// Adds a widget spanning the field column.
void addRow(QGridLayout &grid, QWidget *widget);

// The tip for a password check code: "String_46" to "String_48"; "" for a valid password.
QString tipForCheckCode(int code);
// The hint is at most 32 characters.
bool hintIsTooLong(const QString &hint);

}  // namespace xxpasswordform
