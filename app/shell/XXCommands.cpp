#include "XXCommands.h"

#include <QAction>
#include <QKeySequence>

#include "XXTexts.h"

namespace {

struct CommandSetup {
    const char *identifier;
    const char *textKey;
    QKeySequence shortcut;
};

const std::array<CommandSetup, XXCommands::commandCount> &setups()
{
    using Key = QKeySequence;
    static const std::array<CommandSetup, XXCommands::commandCount> table = {{
        {"create", "String_6", {}},
        {"createDir", "String_7", Key(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
        {"addFile", "String_8", Key(Key::Open)},
        {"saveFileTo", "String_9", Key(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {"lock", "String_10", Key(Qt::CTRL | Qt::SHIFT | Qt::Key_L)},
        {"exist", "String_11", Key(Key::Quit)},
        {"copy", "String_13", Key(Key::Copy)},
        {"cut", "String_14", Key(Key::Cut)},
        {"paste", "String_15", Key(Key::Paste)},
        {"rename", "String_16", Key(Qt::Key_F2)},
        {"delete", "String_17", Key(Key::Delete)},
        {"selecteAll", "String_19", Key(Key::SelectAll)},
        {"detailInfo", "String_21", Key(Qt::CTRL | Qt::Key_1)},
        {"list", "String_22", Key(Qt::CTRL | Qt::Key_2)},
        {"thumb", "String_23", Key(Qt::CTRL | Qt::Key_3)},
        {"attribute", "String_24", Key(Qt::CTRL | Qt::Key_I)},
        {"changePW", "String_26", {}},
        {"backupData", "String_27", {}},
        {"restoreData", "String_28", {}},
        {"location", "String_29", {}},
        {"timeout", "String_30", {}},
        {"format", "String_162", {}},
        {"updata", "String_32", {}},
        {"about", "String_33", {}},
        {"goBack", "String_57", {}},
        {"goPrevious", "String_58", {}},
        {"goRoot", "String_59", {}},
    }};
    return table;
}

int pageOf(XXCommands::Command command)
{
    switch (command) {
    case XXCommands::listPage:
        return 1;
    case XXCommands::thumbPage:
        return 2;
    case XXCommands::detailPage:
        return 3;
    default:
        return 0;
    }
}

}  // namespace

XXCommands::XXCommands(QObject *parent) : QObject(parent)
{
    for (int i = 0; i < commandCount; ++i) {
        auto *entry = new QAction(this);
        entry->setObjectName(QString::fromLatin1(setups()[i].identifier));
        entry->setShortcut(setups()[i].shortcut);
        // The toolbar shows their icons; the menus stay text only.
        entry->setIconVisibleInMenu(false);
        actions_[i] = entry;
    }
    actions_[quit]->setMenuRole(QAction::QuitRole);
    actions_[about]->setMenuRole(QAction::AboutRole);
    apply(State{});
    retitle();
}

const char *XXCommands::identifier(Command command)
{
    return setups()[command].identifier;
}

bool XXCommands::isEnabled(Command command, const State &state)
{
    switch (command) {
    case quit:
    case checkUpdate:
    case about:
        return true;
    default:
        break;
    }
    if (!state.session)
        return false;
    const bool selectionInVault = state.selectedCount > 0 && state.inVault;
    switch (command) {
    case create:  // the submenu holding createDir: a disabled one would hide it from the menu
    case createDir:
    case addFile:
    case selectAll:
        return state.inVault;
    case saveFileTo:
    case copy:
    case cut:
    case remove:
        return selectionInVault;
    case rename:
        return selectionInVault && state.selectedCount == 1;
    case attribute:
        return state.singleFolderSelected;
    case paste:
        return state.clipboardOffersFiles && state.inVault && !state.searching;
    case goBack:
    case goHome:
        return state.canGoBack;
    case goForward:
        return state.canGoForward;
    case changePassword:
    case restoreData:
    case location:
    case timeout:
        return !state.held.count(command);
    default:
        return true;  // lock, backup, format, the pages
    }
}

void XXCommands::apply(const State &state)
{
    for (int i = 0; i < commandCount; ++i) {
        const auto command = Command(i);
        QAction *entry = actions_[i];
        entry->setEnabled(isEnabled(command, state));
        if (const int page = pageOf(command)) {
            entry->setCheckable(state.session);
            entry->setChecked(state.session && state.page == page);
        }
    }
}

void XXCommands::retitle()
{
    for (int i = 0; i < commandCount; ++i) {
        const QString text = xxplatform::text(setups()[i].textKey);
        actions_[i]->setText(text);
        // Said in full on the toolbar: Qt's own tooltip drops "..." from the text.
        actions_[i]->setToolTip(text);
    }
}
