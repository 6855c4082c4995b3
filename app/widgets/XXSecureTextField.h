// A password field: never echoes, never copies, holds at most 32 characters (a longer text,
// typed or pasted, is cut to its first 32), and tells its screen when it is clicked.
#pragma once

#include <QLineEdit>

#include <functional>

class XXSecureTextField : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int maximumCharacters = 32;

    // echoes false for a password, true for a plain field with the same cut (the hint).
    explicit XXSecureTextField(QWidget *parent = nullptr, bool echoes = false);

    // Runs on every mouse press, after the field took the focus.
    void setBecomeFirstResponseBlock(std::function<void()> block)
    {
        becomeFirstResponseBlock_ = std::move(block);
    }
    // The text as UTF-8, for the service; the caller wipes it after use.
    std::string secretText() const;

signals:
    void editingBegan();
    // Focus left the field or Return was pressed, whether or not the text changed.
    void editingEnded();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void cutToMaximum();

    std::function<void()> becomeFirstResponseBlock_;
};
