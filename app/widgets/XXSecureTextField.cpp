#include "XXSecureTextField.h"

#include <QFocusEvent>
#include <QMouseEvent>

#include "XXTexts.h"

XXSecureTextField::XXSecureTextField(QWidget *parent, bool echoes) : QLineEdit(parent)
{
    if (!echoes) {
        setEchoMode(QLineEdit::Password);
        setContextMenuPolicy(Qt::NoContextMenu);
    }
    setMinimumHeight(32);
    connect(this, &QLineEdit::textChanged, this, &XXSecureTextField::cutToMaximum);
    connect(this, &QLineEdit::returnPressed, this, &XXSecureTextField::editingEnded);
}

std::string XXSecureTextField::secretText() const
{
    return text().toStdString();
}

void XXSecureTextField::cutToMaximum()
{
    const QString current = text();
    if (xxplatform::characterCount(current) <= maximumCharacters)
        return;
    const int cursor = cursorPosition();
    setText(xxplatform::firstCharacters(current, maximumCharacters));
    setCursorPosition(std::min<int>(cursor, static_cast<int>(text().size())));
}

void XXSecureTextField::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (becomeFirstResponseBlock_)
        becomeFirstResponseBlock_();
}

void XXSecureTextField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    emit editingBegan();
}

void XXSecureTextField::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    emit editingEnded();
}
