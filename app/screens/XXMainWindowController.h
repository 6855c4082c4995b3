// The main window: the login screen, over which the unlocked screen is presented while a
// session is open, and the main menu.
#pragma once

#include <QMainWindow>
#include <QPointer>

class QStackedWidget;
class XXLoginViewController;

class XXMainWindowController : public QMainWindow {
    Q_OBJECT
public:
    explicit XXMainWindowController(QWidget *parent = nullptr);

    XXLoginViewController *loginViewController() const { return login_; }
    // Shows view over the login screen; the window owns it until dismissPresentedView().
    void presentView(QWidget *view);
    void dismissPresentedView();
    QWidget *presentedView() const { return presented_; }

private:
    QStackedWidget *stack_;
    XXLoginViewController *login_;
    QPointer<QWidget> presented_;
};
