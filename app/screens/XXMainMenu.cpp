#include "XXMainMenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QHash>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

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

const QHash<QString, const char *> &entryTitleKeys()
{
    static const QHash<QString, const char *> keys = {
        {"create", "String_6"},      {"createDir", "String_7"},    {"addFile", "String_8"},
        {"saveFileTo", "String_9"},  {"lock", "String_10"},        {"exist", "String_11"},
        {"copy", "String_13"},       {"cut", "String_14"},         {"paste", "String_15"},
        {"rename", "String_16"},     {"delete", "String_17"},      {"moveToDir", "String_18"},
        {"selecteAll", "String_19"}, {"detailInfo", "String_21"},  {"list", "String_22"},
        {"thumb", "String_23"},      {"attribute", "String_24"},   {"changePW", "String_26"},
        {"backupData", "String_27"}, {"restoreData", "String_28"}, {"format", "String_162"},
        {"location", "String_29"},   {"timeout", "String_30"},     {"updata", "String_32"},
        {"about", "String_33"},
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

XXMainMenu::XXMainMenu(QObject *parent) : QObject(parent)
{
    QMenu *file = addMenu("mainItemSubOne");
    QAction *create = addEntry(file, "create");
    auto *createMenu = new QMenu(file);
    createMenu->setObjectName("createMenu");
    create->setMenu(createMenu);
    addEntry(createMenu, "createDir")->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    addEntry(file, "addFile")->setShortcut(QKeySequence::Open);
    addEntry(file, "saveFileTo")->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    file->addSeparator();
    addEntry(file, "lock")->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    file->addSeparator();
    QAction *quit = addEntry(file, "exist");
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    QMenu *edit = addMenu("mainItemSubTwo");
    addEntry(edit, "copy")->setShortcut(QKeySequence::Copy);
    addEntry(edit, "cut")->setShortcut(QKeySequence::Cut);
    addEntry(edit, "paste")->setShortcut(QKeySequence::Paste);
    edit->addSeparator();
    addEntry(edit, "rename")->setShortcut(QKeySequence(Qt::Key_F2));
    addEntry(edit, "delete")->setShortcut(QKeySequence::Delete);
    addEntry(edit, "moveToDir");
    edit->addSeparator();
    addEntry(edit, "selecteAll")->setShortcut(QKeySequence::SelectAll);

    QMenu *view = addMenu("mainItemSubThree");
    addEntry(view, "detailInfo")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    addEntry(view, "list")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    addEntry(view, "thumb")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_3));
    view->addSeparator();
    addEntry(view, "attribute")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));

    QMenu *settings = addMenu("mainItemSubFour");
    addEntry(settings, "changePW");
    settings->addSeparator();
    addEntry(settings, "backupData");
    addEntry(settings, "restoreData");
    settings->addSeparator();
    addEntry(settings, "location");
    addEntry(settings, "timeout");
    settings->addSeparator();
    addEntry(settings, "format");

    QMenu *help = addMenu("mainItemSubFive");
    connect(addEntry(help, "updata"), &QAction::triggered, this, &XXMainMenu::checkUpdateRequested);
    QAction *about = addEntry(help, "about");
    about->setMenuRole(QAction::AboutRole);

    setSessionActionsEnabled(false);
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

QAction *XXMainMenu::addEntry(QMenu *menu, const QString &identifier)
{
    QAction *entry = menu->addAction(identifier);
    entry->setObjectName(identifier);
    return entry;
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
    for (QMenu *menu : menus_) {
        const auto menuKey = menuTitleKeys().find(menu->objectName());
        if (menuKey == menuTitleKeys().end())
            continue;
        menu->setTitle(xxplatform::text(menuKey.value()));
        for (QAction *entry : menu->actions()) {
            if (entry->isSeparator())
                continue;
            const auto key = entryTitleKeys().find(entry->objectName());
            if (key == entryTitleKeys().end()) {
                removeAction(menu, entry);
                continue;
            }
            entry->setText(xxplatform::text(key.value()));
            if (entry->objectName() == "create" && entry->menu()) {
                for (QAction *inner : entry->menu()->actions()) {
                    if (inner->objectName() == "createDir")
                        inner->setText(xxplatform::text("String_7"));
                }
            }
            if (entry->objectName() == "about") {
                connect(entry, &QAction::triggered, this, &XXMainMenu::aboutRequested, Qt::UniqueConnection);
            }
        }
    }
    if (QMenu *edit = menu("mainItemSubTwo")) {
        for (QAction *entry : edit->actions()) {
            if (entry->objectName() == "moveToDir")
                removeAction(edit, entry);
        }
    }
}

QList<QAction *> XXMainMenu::sessionActions() const
{
    QList<QAction *> found;
    for (int i = 0; i < 4 && i < menus_.size(); ++i) {
        for (QAction *entry : menus_[i]->actions()) {
            if (entry->isSeparator() || entry->objectName() == "exist")
                continue;
            found.append(entry);
            if (entry->menu())
                found.append(entry->menu()->actions());
        }
    }
    return found;
}

void XXMainMenu::setSessionActionsEnabled(bool enabled)
{
    for (QAction *entry : sessionActions())
        entry->setEnabled(enabled);
}

void XXMainMenu::attachTo(QMenuBar *bar) const
{
    for (QMenu *menu : menus_)
        bar->addMenu(menu);
}
