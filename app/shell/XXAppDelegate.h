// Starts the program, owns its top-level windows and the main menu, and cleans up when the
// program ends.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class XXMainMenu;

class XXAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit XXAppDelegate(QObject *parent = nullptr);
    ~XXAppDelegate() override;

    // The one delegate of the process, or nullptr before it exists.
    static XXAppDelegate *shared();

    // Clears the clipboard when it holds data of ours, removes the caches of earlier runs
    // that ended (telling of changed copies kept), titles the menus and shows the start window.
    void applicationDidFinishLaunching();
    // Logs out (cancelling transfers, saving changed opened copies), clears our clipboard
    // data and removes this program's caches; tells of changed copies that had to be kept.
    // Runs once, from QCoreApplication::aboutToQuit.
    void applicationWillTerminate();
    // Shows the program's front window above the others (another start asked for it).
    void bringToFront();
    static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

    // Titles the main menu in the current language.
    void reSetPageLanguage();
    XXMainMenu &mainMenu() const { return *mainMenu_; }

    void aboutUs();
    void checkUpdate();
    void showProtocolWindow();

    // The windows, each made on demand from its identifier and forgotten when it closes.
    QWidget *helloWindow() const { return helloWindow_; }
    QWidget *agreeProtocolWindow() const { return agreeProtocolWindow_; }
    QWidget *registerWindow() const { return registerWindow_; }
    QWidget *mainWindow() const { return mainWindow_; }
    QWidget *aboutUsWindow() const { return aboutUsWindow_; }
    QWidget *protocolWindow() const { return protocolWindow_; }
    QWidget *checkVersionWindow() const { return checkVersionWindow_; }
    void setRegisterWindow(QWidget *window) { registerWindow_ = window; }

    // The hand-overs of the start, agreement, register and login screens: each opens the
    // next window; the caller closes its own.
    QWidget *openAgreementWindow();
    QWidget *openRegisterWindow();
    QWidget *openMainWindow();

private:
    QWidget *showFromStoryboard(QPointer<QWidget> &slot, const QString &identifier);

    XXMainMenu *mainMenu_;
    QPointer<QWidget> helloWindow_;
    QPointer<QWidget> agreeProtocolWindow_;
    QPointer<QWidget> registerWindow_;
    QPointer<QWidget> mainWindow_;
    QPointer<QWidget> aboutUsWindow_;
    QPointer<QWidget> protocolWindow_;
    QPointer<QWidget> checkVersionWindow_;
    bool terminated_ = false;
};
