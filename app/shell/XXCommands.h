// The window's commands: one QAction each, shared by the menu bar, the vault pane's context
// menu and the toolbar, so enabling or checking one changes it everywhere. The actions live as
// long as the program (the menu bar shows them before any session); a session's screen
// connects them and hands in its state, from which one function decides what is enabled.
#pragma once

#include <QObject>

#include <array>
#include <set>

class QAction;

class XXCommands : public QObject {
    Q_OBJECT
public:
    enum Command {
        create,  // holds the "New" submenu
        createDir,
        addFile,
        saveFileTo,
        lock,
        quit,
        copy,
        cut,
        paste,
        rename,
        remove,
        selectAll,
        detailPage,
        listPage,
        thumbPage,
        attribute,
        changePassword,
        backupData,
        restoreData,
        location,
        timeout,
        format,
        checkUpdate,
        about,
        goBack,  // the toolbar's history buttons
        goForward,
        goHome,
        commandCount
    };

    // What the enabling rules read; the default is "no session".
    struct State {
        bool session = false;
        bool canGoBack = false;
        bool canGoForward = false;
        bool inVault = false;  // a folder of the vault is shown, not the volume's entry
        int selectedCount = 0;
        bool singleFolderSelected = false;
        bool clipboardOffersFiles = false;  // our records, or files of another program
        bool searching = false;
        int page = 0;  // the vault pane's page (XXProtectTabViewController::Page)
        std::set<Command> held;  // their sheet or window is shown: not a second one
    };

    explicit XXCommands(QObject *parent = nullptr);

    QAction *action(Command command) const { return actions_[command]; }
    // The identifier that names the action (its object name): the menu's identifiers, and
    // "goBack", "goPrevious", "goRoot" for the toolbar's own.
    static const char *identifier(Command command);
    // The enabling rules, all of them.
    static bool isEnabled(Command command, const State &state);
    // Enables, and checks the shown page's entry, by state.
    void apply(const State &state);
    // Titles every action in the current language.
    void retitle();

private:
    std::array<QAction *, commandCount> actions_{};
};
