#include "XXMainMenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QHash>
#include <QMenu>
#include <QMenuBar>

#include "XXCommands.h"
#include "XXTexts.h"

namespace {

const QHash<QString, const char *> &menuTitleKeys()
{
    static const QHash<QString, const char *> keys = {
        {"mainItemSubOne", "String_5"},   {"mainItemSubTwo", "String_12"},  {"mainItemSubThree", "String_20"},
        {"mainItemSubFour", "String_25"}, {"mainItemSubFive", "String_31"},
    };
    return keys;
}

void removeAction(QMenu *menu, QAction *entry)
{
    menu->removeAction(entry);
    entry->deleteLater();
}

}  // namespace

const QStringList &XXMainMenu::menuIdentifiers()
{
    static const QStringList ids = {"mainItemSubOne", "mainItemSubTwo", "mainItemSubThree", "mainItemSubFour",
                                    "mainItemSubFive"};
    return ids;
}

XXMainMenu::XXMainMenu(QObject *parent) : QObject(parent), commands_(new XXCommands(this))
{
    using C = XXCommands;
    auto add = [this](QMenu *menu, C::Command command) { menu->addAction(commands_->action(command)); };
    QMenu *file = addMenu("mainItemSubOne");
    add(file, C::create);
    auto *createMenu = new QMenu(file);
    createMenu->setObjectName("createMenu");
    commands_->action(C::create)->setMenu(createMenu);
    add(createMenu, C::createDir);
    add(file, C::addFile);
    add(file, C::saveFileTo);
    file->addSeparator();
    add(file, C::lock);
    file->addSeparator();
    add(file, C::quit);
    connect(commands_->action(C::quit), &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    QMenu *edit = addMenu("mainItemSubTwo");
    add(edit, C::copy);
    add(edit, C::cut);
    add(edit, C::paste);
    edit->addSeparator();
    add(edit, C::rename);
    add(edit, C::remove);
    edit->addSeparator();
    add(edit, C::selectAll);

    QMenu *view = addMenu("mainItemSubThree");
    add(view, C::detailPage);
    add(view, C::listPage);
    add(view, C::thumbPage);
    view->addSeparator();
    add(view, C::attribute);

    QMenu *settings = addMenu("mainItemSubFour");
    add(settings, C::changePassword);
    settings->addSeparator();
    add(settings, C::backupData);
    add(settings, C::restoreData);
    settings->addSeparator();
    add(settings, C::location);
    add(settings, C::timeout);
    settings->addSeparator();
    add(settings, C::format);

    QMenu *help = addMenu("mainItemSubFive");
    add(help, C::checkUpdate);
    add(help, C::about);
    connect(commands_->action(C::checkUpdate), &QAction::triggered, this, &XXMainMenu::checkUpdateRequested);
    connect(commands_->action(C::about), &QAction::triggered, this, &XXMainMenu::aboutRequested);

    retitle();
}

XXMainMenu::~XXMainMenu()
{
    qDeleteAll(menus_);
}

QMenu *XXMainMenu::addMenu(const QString &identifier)
{
    auto *menu = new QMenu;
    menu->setObjectName(identifier);
    menus_.append(menu);
    return menu;
}

QMenu *XXMainMenu::menu(const QString &identifier) const
{
    for (QMenu *menu : menus_) {
        if (menu->objectName() == identifier)
            return menu;
    }
    return nullptr;
}

QAction *XXMainMenu::action(const QString &identifier) const
{
    for (QMenu *menu : menus_) {
        for (QAction *entry : menu->actions()) {
            if (entry->objectName() == identifier)
                return entry;
            if (entry->menu()) {
                for (QAction *inner : entry->menu()->actions()) {
                    if (inner->objectName() == identifier)
                        return inner;
                }
            }
        }
    }
    return nullptr;
}

void XXMainMenu::retitle()
{
    commands_->retitle();
    for (QMenu *menu : menus_) {
        const auto menuKey = menuTitleKeys().find(menu->objectName());
        if (menuKey == menuTitleKeys().end())
            continue;
        menu->setTitle(xxplatform::text(menuKey.value()));
        for (QAction *entry : menu->actions())
            if (!entry->isSeparator() && entry->parent() != commands_)
                removeAction(menu, entry);
    }
}

void XXMainMenu::attachTo(QMenuBar *bar) const
{
    for (QMenu *menu : menus_)
        bar->addMenu(menu);
}
