// The unlocked screen, shown over the login screen while a session is open: the toolbar, the
// protected pane and the computer pane, the search field, the volume's usage, the main menu's
// session entries and the protected pane's context menu. Every service call runs on a worker;
// results come back here before they touch a widget.
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

#include "XXCommands.h"
#include "XXFileWrapper.h"
#include "XXMimeFormats.h"
#include "XXProtectFileWrapper.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QTimer;
class XXBackupFlow;
class XXIdleLock;
class XXComputerFileController;
class XXFormatFlow;
class XXPasteStaging;
class XXProtectTabViewController;
class XXTransferFeedback;
class XXResumeDataView;
class XXVaultPresenceWatch;

class XXMainViewController : public QWidget {
    Q_OBJECT
public:
    explicit XXMainViewController(QWidget *parent = nullptr);
    ~XXMainViewController() override;

    // Runs once the session is logged out by lockAction().
    void setDismissBlock(std::function<void()> block) { dismissBlock_ = std::move(block); }

    XXProtectTabViewController *protectTabVC() const { return protectTabVC_; }
    XXComputerFileController *computerFileVC() const { return computerFileVC_; }
    XXTransferFeedback *transferFeedback() const { return feedback_; }
    XXIdleLock *idleLock() const { return idleLock_; }
    // The commands of the menus, the context menu and the toolbar (the main menu's, or the
    // screen's own when there is no application delegate).
    XXCommands *commands() const { return commands_; }
    QPushButton *lockBtn() const { return lockBtn_; }
    QLineEdit *searchView() const { return searchView_; }
    QMenu *protectTabMenu() const { return protectTabMenu_; }
    QLabel *usedStateLab() const { return usedStateLab_; }
    int focusLocation() const { return focusLocation_; }
    void setFocusLocation(int location);

    // The commands' enabling rules read this.
    XXCommands::State commandState() const;
    // Applies the rules to the state now; every change of state calls it.
    void updateCommands();

    // Actions.
    void lockAction();
    // The vault left the stick while the session was open: locks and says so.
    void vaultWentAway();
    void goBackAction();
    void goPreviousAction();
    void goRootAction();
    void addFile();
    void createDir();
    void createDirNamed(const QString &name);
    void saveFileTo();
    void saveFileToPath(const QString &path);
    void copyAction();
    void cutAction();
    void pasteAction();
    void deleteSelectedFiles();
    void renameAction();
    void renameSelectedTo(const QString &name);
    void selectedAllFiles();
    void changePassword();
    void backUpData();
    void restoreData();
    void formatVault();
    void showResumeLocationSetting();
    // A backup copies the vault: the session must not end unasked meanwhile.
    bool isBackupRunning() const;
    XXBackupFlow *backupFlow() const { return backupFlow_; }
    XXFormatFlow *formatFlow() const { return formatFlow_; }
    // Stores the backup settings sheet's values on a worker and reports the outcome.
    void storeBackupSettings(std::int64_t location, bool isAutoBackup, long number, std::int64_t fixLocation);
    // The automatic-lock sheet; its Settings entry is disabled while it is shown.
    void showTimeoutSetting();
    void startSearch(const QString &keyword);
    void endSearch();
    // The clipboard keeps our records but no longer offers staged files (a drag out replaced
    // them in the paste cache).
    void dropStagedClipboardFiles();
    // Leaves search mode in the field (navigation does).
    void leaveSearchField();

    // Transfers.
    void encodeSelectedComputerFiles(const XXFileArray &files,
                                     const std::shared_ptr<XXProtectFileWrapper> &destination);
    void encodeRecords(const QList<xxplatform::XXItemRecord> &records,
                       const std::shared_ptr<XXProtectFileWrapper> &destination);
    void decodeSelectedProtectWrapper(const XXProtectFileArray &files,
                                      const std::shared_ptr<XXFileWrapper> &destination);
    void decodeRecords(const QList<xxplatform::XXItemRecord> &records,
                       const std::shared_ptr<XXFileWrapper> &destination);
    void operateDiskWithSelectedFiles(const XXProtectFileArray &files,
                                      const std::shared_ptr<XXProtectFileWrapper> &destination, bool isCopy);

    // The protected entries that records name (by full path and folder flag).
    XXProtectFileArray resolveProtectRecords(const QList<xxplatform::XXItemRecord> &records) const;

signals:
    void sessionLocked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildToolbar();
    QWidget *buildBottomBar();
    void connectCommands();
    void disconnectCommands();
    void connectPanes();
    void buildContextMenu();
    void protectSelectionChanged();
    void copyOrCut(bool isCut);
    void startStaging(const XXProtectFileArray &files, bool isCut);
    void reloadProtectPane();
    void navigateHistory(void (XXProtectTabViewController::*step)());
    void checkCutTakenByOtherPrograms();
    // While a sheet or window of a command is shown, the command cannot open a second one.
    void holdCommandWhileShown(XXCommands::Command command, QObject *shown);

    std::function<void()> dismissBlock_;
    XXProtectTabViewController *protectTabVC_;
    XXComputerFileController *computerFileVC_;
    XXTransferFeedback *feedback_;
    XXCommands *commands_;
    std::set<XXCommands::Command> held_;
    QPushButton *lockBtn_;
    QLineEdit *searchView_;
    QLabel *usedStateLab_;
    QMenu *protectTabMenu_;
    int focusLocation_ = 0;
    bool locking_ = false;
    std::shared_ptr<XXPasteStaging> privateModel_;
    QTimer *cutWatch_ = nullptr;
    int stagedCutCount_ = 0;  // staged entries of a cut still in the vault
    bool checkingCut_ = false;
    QList<QMetaObject::Connection> menuConnections_;
    XXBackupFlow *backupFlow_ = nullptr;
    XXFormatFlow *formatFlow_ = nullptr;
    XXIdleLock *idleLock_;
    XXVaultPresenceWatch *vaultWatch_ = nullptr;
    QPointer<XXResumeDataView> restoreWizard_;
    QSplitter *split_ = nullptr;
    bool splitPlaced_ = false;
};
