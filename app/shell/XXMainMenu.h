// The five menus of the main window, found by identifier as their entries are. The entries are
// the program's commands (XXCommands), titled from the text tables (retitle()); those of the
// first four menus belong to the unlocked screen, which connects them and hands in the state
// that enables them while a session is open.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QMenuBar;
class XXCommands;

class XXMainMenu : public QObject {
    Q_OBJECT
public:
    // The identifiers of the five top-level menus, in order.
    static const QStringList &menuIdentifiers();

    explicit XXMainMenu(QObject *parent = nullptr);
    ~XXMainMenu() override;

    XXCommands &commands() const { return *commands_; }
    QList<QMenu *> menus() const { return menus_; }
    QMenu *menu(const QString &identifier) const;
    // An entry of any menu, submenus included; nullptr when there is none.
    QAction *action(const QString &identifier) const;

    // Titles every menu and command in the current language and removes the entries that
    // are neither commands nor separators.
    void retitle();

    // Shows the menus in bar (which does not own them).
    void attachTo(QMenuBar *bar) const;

signals:
    void aboutRequested();
    void checkUpdateRequested();

private:
    QMenu *addMenu(const QString &identifier);

    XXCommands *commands_;
    QList<QMenu *> menus_;
};
