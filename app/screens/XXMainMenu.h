// The five menus of the main window, found by identifier as their entries are. The entries'
// titles come from the text tables (retitle()); the actions of the first four menus belong to
// the unlocked screen, which connects and enables them while a session is open.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QMenuBar;

class XXMainMenu : public QObject {
    Q_OBJECT
public:
    // The identifiers of the five top-level menus, in order.
    static const QStringList &menuIdentifiers();

    explicit XXMainMenu(QObject *parent = nullptr);
    ~XXMainMenu() override;

    QList<QMenu *> menus() const { return menus_; }
    QMenu *menu(const QString &identifier) const;
    // An entry of any menu, submenus included; nullptr when there is none.
    QAction *action(const QString &identifier) const;

    // Titles every known menu and entry in the current language, removes the entries that
    // are neither known nor separators, and removes "moveToDir": moving is cut and paste or
    // a drag.
    void retitle();

    // The entries of the first four menus but Quit: disabled while no session is open.
    QList<QAction *> sessionActions() const;
    void setSessionActionsEnabled(bool enabled);

    // Shows the menus in bar (which does not own them).
    void attachTo(QMenuBar *bar) const;

signals:
    void aboutRequested();
    void checkUpdateRequested();

private:
    QMenu *addMenu(const QString &identifier);
    QAction *addEntry(QMenu *menu, const QString &identifier);

    QList<QMenu *> menus_;
};
