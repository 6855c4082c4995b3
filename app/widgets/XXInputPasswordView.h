// The login screen's password box: one secure field with a placeholder.
#pragma once

#include <QFrame>

class XXSecureTextField;

class XXInputPasswordView : public QFrame {
    Q_OBJECT
public:
    explicit XXInputPasswordView(QWidget *parent = nullptr);

    XXSecureTextField *secureTextField() const { return field_; }
    // The placeholder is the text of a key; "String_2" until set.
    void setPlaceholderString(const QString &text);

private:
    XXSecureTextField *field_;
};
