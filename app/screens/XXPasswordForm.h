// What the register and change-password screens share: the window's heading, titled fields
// with their tip balloons, the hint with its explanation, the strength labels, Cancel and OK,
// and the rules that check a new password as it is typed.
#pragma once

#include <QString>

class QGridLayout;
class QLabel;
class QObject;
class QPushButton;
class QWidget;
class XXPasswordStrengthView;
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

// A new password and its confirmation, with their tips and the strength labels: the rules
// the register and change-password screens share.
struct NewPasswordPair {
    XXSecureTextField *password;
    XXSecureTextField *confirmation;
    XXPasswordTipView *passwordTip;
    XXPasswordTipView *confirmationTip;
    XXPasswordStrengthView *strength;
};

// Wires entering and leaving both fields (focus or Return) to the rules below.
void connectPair(QObject *context, const NewPasswordPair &pair);
// Entering the password hides its tip and the strength; leaving it shows the strength of a
// valid password or the tip of its check code.
void passwordEditingBegan(const NewPasswordPair &pair);
void passwordEditingEnded(const NewPasswordPair &pair);
// Leaving the confirmation shows "String_49" when it differs from a valid password.
void confirmationEditingEnded(const NewPasswordPair &pair);
// A valid password, typed the same twice.
bool pairIsAcceptable(const NewPasswordPair &pair);
// OK follows acceptable. With both fields filled, the first rule the pair breaks is told: a
// password breaking its own rule under the password (not while it is being typed, when its
// tip stays away), else two that differ "String_49" under the confirmation.
void showAcceptance(const NewPasswordPair &pair, bool acceptable, QPushButton *sure,
                    bool passwordBeingEdited = false);

// The whole form of one of the two screens.
struct Form {
    XXSecureTextField *current = nullptr;  // the change-password screen's current password
    XXSecureTextField *password = nullptr;
    XXSecureTextField *confirmation = nullptr;
    XXSecureTextField *hint = nullptr;
    XXPasswordTipView *passwordTip = nullptr;
    XXPasswordTipView *confirmationTip = nullptr;
    XXPasswordStrengthView *strength = nullptr;
    QPushButton *sure = nullptr;
    QPushButton *cancel = nullptr;

    NewPasswordPair pair() const { return {password, confirmation, passwordTip, confirmationTip, strength}; }
};

struct FormTitles {
    QString heading;
    QString current;  // empty: no current-password field
    QString password;
    QString confirmation;
};

// Lays the form out in window (heading, fields, the hint and its note, Cancel and a disabled
// default OK), wires the pair's rules and Cancel's closing, and focuses the first field.
Form buildForm(QWidget &window, const FormTitles &titles);
// A hint longer than allowed is refused with "String_170" over window; true when it was.
bool refuseLongHint(QWidget &window, const Form &form);

}  // namespace xxpasswordform
