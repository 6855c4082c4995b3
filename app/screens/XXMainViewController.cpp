#include "XXMainViewController.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>
#include <filesystem>
#include <map>

#include "XXActivityIndicator.h"
#include "XXAddFileDialog.h"
#include "XXAppDelegate.h"
#include "XXBackupFlow.h"
#include "XXChangePWViewController.h"
#include "XXClipboard.h"
#include "XXComputerFileController.h"
#include "XXDragOut.h"
#include "XXDiskFileManager.h"
#include "XXFormatFlow.h"
#include "XXLocationSettingView.h"
#include "XXIdleLock.h"
#include "XXImages.h"
#include "XXMainMenu.h"
#include "XXPasteStaging.h"
#include "XXProgressAlertView.h"
#include "XXProtectItemModel.h"
#include "XXProtectTabViewController.h"
#include "XXReminderView.h"
#include "XXResumeDataView.h"
#include "XXServiceLog.h"
#include "XXSingleInputAlertView.h"
#include "XXStoryboard.h"
#include "XXTimeoutSettingView.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXTransferFeedback.h"
#include "XXVaultPresenceWatch.h"
#include "XXTwoBtnReminderView.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

XXDiskFileManager &manager()
{
    return XXDiskFileManager::shareDiskFileManager();
}

XXMainMenu *mainMenu()
{
    XXAppDelegate *delegate = XXAppDelegate::shared();
    return delegate ? &delegate->mainMenu() : nullptr;
}

// Toolbar images: the desktop's icon theme, else our own drawing of the same name (the
// style's stand-ins read wrongly: its "discard" looks like Delete on the Cut button).
QIcon toolbarIcon(const char *themeName)
{
    const QString name = QString::fromLatin1(themeName);
    return QIcon::fromTheme(name, xxplatform::namedIcon(QStringLiteral("toolbar-") + name));
}

bool clipboardHasRecords()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasFormat(xxplatform::protectItemsMimeType) &&
        !xxplatform::decodeRecords(data->data(xxplatform::protectItemsMimeType)).isEmpty();
}

}  // namespace

XXMainViewController::XXMainViewController(QWidget *parent)
    : QWidget(parent), protectTabVC_(new XXProtectTabViewController),
      computerFileVC_(new XXComputerFileController), feedback_(new XXTransferFeedback(this, manager())),
      lockBtn_(new QPushButton), searchView_(new QLineEdit), usedStateLab_(new QLabel),
      protectTabMenu_(new QMenu(this)), idleLock_(new XXIdleLock([this] { lockAction(); }, this))
{
    setObjectName(QStringLiteral("XXMainViewController"));
    XXMainMenu *menu = mainMenu();
    commands_ = menu ? &menu->commands() : new XXCommands(this);
    protectTabVC_->setHostView(this);
    computerFileVC_->setHostView(this);

    auto *protectBox = new QWidget;
    auto *protectLayout = new QVBoxLayout(protectBox);
    protectLayout->setContentsMargins(0, 0, 0, 0);
    auto *protectTitleLab = new QLabel(xxplatform::text("String_53"));
    protectTitleLab->setObjectName(QStringLiteral("protectTitleLab"));
    protectLayout->addWidget(protectTitleLab);
    protectLayout->addWidget(protectTabVC_, 1);
    auto *computerBox = new QWidget;
    auto *computerLayout = new QVBoxLayout(computerBox);
    computerLayout->setContentsMargins(0, 0, 0, 0);
    auto *computerTitleLab = new QLabel(xxplatform::text("String_54"));
    computerTitleLab->setObjectName(QStringLiteral("computerTitleLab"));
    computerLayout->addWidget(computerTitleLab);
    computerLayout->addWidget(computerFileVC_, 1);
    for (QLabel *title : {protectTitleLab, computerTitleLab}) {
        QFont font = title->font();
        font.setBold(true);
        title->setFont(font);
    }
    // The vault's detail list keeps room for a name beside its date and size columns, also
    // in the smallest window.
    const QFontMetrics metrics(font());
    protectBox->setMinimumWidth(
        metrics.horizontalAdvance(QStringLiteral("2024-03-05 09:07:01 | 1023bytes | notes from May.txt")) + 40);
    auto *split = new QSplitter(Qt::Horizontal);
    split_ = split;
    split->addWidget(protectBox);
    split->addWidget(computerBox);
    split->setChildrenCollapsible(false);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(buildToolbar());
    layout->addWidget(split, 1);
    layout->addWidget(buildBottomBar());

    connectPanes();
    // Paste follows the clipboard: our records of a copy or cut, or files of another program.
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &XXMainViewController::updateCommands);

    // A cut that a file manager pasted: its copies leave the paste cache, and only then do
    // the entries leave the vault.
    cutWatch_ = new QTimer(this);
    cutWatch_->setInterval(1000);
    connect(cutWatch_, &QTimer::timeout, this, &XXMainViewController::checkCutTakenByOtherPrograms);

    backupFlow_ = new XXBackupFlow(this);
    formatFlow_ = new XXFormatFlow(this);

    connectCommands();
    buildContextMenu();
    updateCommands();

    xxplatform::runInBackground(
        this, 0ms, [] { return manager().diskUsedStateString(); },
        [this](const std::string &text) { usedStateLab_->setText(QString::fromStdString(text)); });
    // An export fills the computer pane's folder models on its worker: outside changes wait.
    computerFileVC_->setBusyPredicate([this] { return feedback_->isRunning(); });
    // Busy work holds the idle lock off.
    idleLock_->setBusyPredicate([this] { return feedback_->isRunning() || isBackupRunning(); });
    xxplatform::runInBackground(
        this, 0ms, [] { return xxtimeout::readTimeoutSettings(); },
        [this](const XXTimeoutValues &values) {
            idleLock_->setIdleMinutes(values.idleLockMinutes);
            idleLock_->setLockOnScreenLock(values.lockOnScreenLock);
        });
    if (manager().isLogin() && !manager().currentStoreDirectory().empty()) {
        vaultWatch_ = new XXVaultPresenceWatch(manager().currentStoreDirectory(), [this] { vaultWentAway(); }, this);
        // A format removes the vault and a restore swaps it, both on purpose.
        vaultWatch_->setExpectedPredicate([this] { return formatFlow_->isRunning() || restoreWizard_; });
    }
    protectTabVC_->loadTree();
    computerFileVC_->loadRoots();
}

void XXMainViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Half and half to start with: before the first layout the splitter would share the
    // space by the panes' size hints, which gives the computer pane twice the room.
    if (!splitPlaced_) {
        splitPlaced_ = true;
        QMetaObject::invokeMethod(
            split_,
            [split = split_] {
                const int width = split->width();
                split->setSizes({width / 2, width - width / 2});
            },
            Qt::QueuedConnection);
    }
}

XXMainViewController::~XXMainViewController()
{
    // The panes go after this part of the screen: nothing they say may reach it.
    disconnect(protectTabVC_, nullptr, this, nullptr);
    disconnect(computerFileVC_, nullptr, this, nullptr);
    if (privateModel_)
        privateModel_->forget();
    disconnectCommands();
    xxplatform::clearClipboardIfOurs();
}

QWidget *XXMainViewController::buildToolbar()
{
    using C = XXCommands;
    struct ButtonSetup {
        C::Command command;
        const char *theme;
        const char *name;
    };
    static const ButtonSetup setups[] = {
        {C::goBack, "go-previous", "goBackBtn"},   {C::goForward, "go-next", "goPreviousBtn"},
        {C::goHome, "go-home", "goRootBtn"},       {C::addFile, "document-new", "addFileBtn"},
        {C::createDir, "folder-new", "addFolderBtn"}, {C::copy, "edit-copy", "myCopyBtn"},
        {C::cut, "edit-cut", "cutBtn"},            {C::paste, "edit-paste", "pasteBtn"},
    };
    auto *bar = new QWidget;
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    for (const ButtonSetup &setup : setups) {
        QAction *command = commands_->action(setup.command);
        command->setIcon(toolbarIcon(setup.theme));
        auto *button = new QToolButton;
        button->setObjectName(QString::fromLatin1(setup.name));
        button->setDefaultAction(command);
        button->setIconSize(QSize(22, 22));
        button->setAutoRaise(true);
        button->setAccessibleName(command->text());
        row->addWidget(button);
        if (setup.command == C::goHome || setup.command == C::createDir)
            row->addSpacing(12);
    }
    row->addStretch();
    searchView_->setObjectName(QStringLiteral("searchView"));
    searchView_->setClearButtonEnabled(true);
    searchView_->setPlaceholderText(xxplatform::text("String_190"));
    searchView_->setMaximumWidth(260);
    connect(searchView_, &QLineEdit::returnPressed, this, [this] {
        if (searchView_->text().isEmpty())
            endSearch();
        else
            startSearch(searchView_->text());
    });
    connect(searchView_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.isEmpty() && protectTabVC_->isDisplaySearchResult())
            endSearch();
    });
    row->addWidget(searchView_);
    lockBtn_->setObjectName(QStringLiteral("lockBtn"));
    lockBtn_->setText(xxplatform::text("String_10"));
    lockBtn_->setIcon(toolbarIcon("system-lock-screen"));
    connect(lockBtn_, &QPushButton::clicked, this, &XXMainViewController::lockAction);
    row->addWidget(lockBtn_);
    return bar;
}

QWidget *XXMainViewController::buildBottomBar()
{
    auto *bar = new QWidget;
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    auto *typeLab = new QLabel(xxplatform::text("String_56"));
    typeLab->setObjectName(QStringLiteral("protectTypeLab"));
    usedStateLab_->setObjectName(QStringLiteral("usedStateLab"));
    row->addWidget(typeLab);
    row->addWidget(usedStateLab_);
    row->addStretch();
    return bar;
}

void XXMainViewController::connectPanes()
{
    using Vault = XXProtectTabViewController;
    connect(protectTabVC_, &Vault::contextMenuRequested, this,
            [this](const QPoint &pos) { protectTabMenu_->popup(pos); });
    connect(protectTabVC_, &Vault::selectionChanged, this, &XXMainViewController::protectSelectionChanged);
    connect(protectTabVC_, &Vault::locationChanged, this, &XXMainViewController::updateCommands);
    connect(protectTabVC_, &Vault::pageShown, this, &XXMainViewController::updateCommands);
    connect(protectTabVC_, &Vault::folderEntered, this, &XXMainViewController::leaveSearchField);
    connect(protectTabVC_, &Vault::dragOutStarting, this, &XXMainViewController::dropStagedClipboardFiles);
    connect(protectTabVC_, &Vault::importRequested, this, &XXMainViewController::encodeSelectedComputerFiles);
    connect(protectTabVC_, &Vault::moveRequested, this,
            [this](const XXProtectFileArray &files, const std::shared_ptr<XXProtectFileWrapper> &destination) {
                operateDiskWithSelectedFiles(files, destination, false);
            });
    connect(computerFileVC_, &XXComputerFileController::selectionChanged, this, [this] {
        if (!computerFileVC_->selectedFiles().empty())
            setFocusLocation(2);
    });
    connect(computerFileVC_, &XXComputerFileController::exportRequested, this,
            &XXMainViewController::decodeRecords);
}

void XXMainViewController::protectSelectionChanged()
{
    updateCommands();
    if (!protectTabVC_->selectedFiles().empty() && protectTabVC_->isEnterUSB())
        setFocusLocation(1);
}

void XXMainViewController::connectCommands()
{
    using C = XXCommands;
    const std::vector<std::pair<C::Command, void (XXMainViewController::*)()>> wiring = {
        {C::lock, &XXMainViewController::lockAction},
        {C::addFile, &XXMainViewController::addFile},
        {C::createDir, &XXMainViewController::createDir},
        {C::saveFileTo, &XXMainViewController::saveFileTo},
        {C::copy, &XXMainViewController::copyAction},
        {C::cut, &XXMainViewController::cutAction},
        {C::paste, &XXMainViewController::pasteAction},
        {C::remove, &XXMainViewController::deleteSelectedFiles},
        {C::rename, &XXMainViewController::renameAction},
        {C::selectAll, &XXMainViewController::selectedAllFiles},
        {C::changePassword, &XXMainViewController::changePassword},
        {C::backupData, &XXMainViewController::backUpData},
        {C::restoreData, &XXMainViewController::restoreData},
        {C::format, &XXMainViewController::formatVault},
        {C::location, &XXMainViewController::showResumeLocationSetting},
        {C::timeout, &XXMainViewController::showTimeoutSetting},
        {C::goBack, &XXMainViewController::goBackAction},
        {C::goForward, &XXMainViewController::goPreviousAction},
        {C::goHome, &XXMainViewController::goRootAction},
    };
    for (const auto &[command, slot] : wiring)
        menuConnections_.append(connect(commands_->action(command), &QAction::triggered, this, slot));
    const std::vector<std::pair<C::Command, int>> pages = {
        {C::listPage, XXProtectTabViewController::listPage},
        {C::thumbPage, XXProtectTabViewController::thumbPage},
        {C::detailPage, XXProtectTabViewController::detailPage}};
    for (const auto &[command, page] : pages)
        menuConnections_.append(connect(commands_->action(command), &QAction::triggered, this, [this, page = page] {
            if (protectTabVC_->currentPageIndex() == page)
                updateCommands();  // choosing the checked entry does nothing
            else
                protectTabVC_->showWithIndex(page);
        }));
    menuConnections_.append(connect(commands_->action(C::attribute), &QAction::triggered, protectTabVC_,
                                    &XXProtectTabViewController::showProtectFileDetailInfo));
}

void XXMainViewController::disconnectCommands()
{
    for (const auto &connection : menuConnections_)
        disconnect(connection);
    menuConnections_.clear();
    commands_->apply(XXCommands::State{});
}

void XXMainViewController::buildContextMenu()
{
    using C = XXCommands;
    // No cut and no move here.
    for (C::Command command : {C::copy, C::paste, C::backupData, C::addFile, C::saveFileTo, C::createDir,
                               C::rename, C::remove})
        protectTabMenu_->addAction(commands_->action(command));
}

XXCommands::State XXMainViewController::commandState() const
{
    XXCommands::State state;
    state.session = !locking_;
    const int index = protectTabVC_->historyIndex();
    state.canGoBack = index > 0;
    state.canGoForward = index + 1 < int(protectTabVC_->historyShowWrappers().size());
    state.inVault = protectTabVC_->isEnterUSB();
    const XXProtectFileArray &selected = protectTabVC_->selectedFiles();
    state.selectedCount = int(selected.size());
    state.singleFolderSelected = selected.size() == 1 && selected.front()->isDirectory();
    state.clipboardOffersFiles =
        clipboardHasRecords() || xxplatform::offersForeignFiles(QGuiApplication::clipboard()->mimeData());
    state.searching = protectTabVC_->isDisplaySearchResult();
    state.page = protectTabVC_->currentPageIndex();
    state.held = held_;
    return state;
}

void XXMainViewController::updateCommands()
{
    if (!locking_)
        commands_->apply(commandState());
}

void XXMainViewController::setFocusLocation(int location)
{
    focusLocation_ = location;
    if (location != 2)
        computerFileVC_->deselectedAllFile();
    if (location != 1)
        protectTabVC_->deselectedAllFile();
}

void XXMainViewController::leaveSearchField()
{
    const QSignalBlocker blocker(searchView_);
    searchView_->clear();
    searchView_->clearFocus();
}

// Back and forward leave the search.
void XXMainViewController::navigateHistory(void (XXProtectTabViewController::*step)())
{
    protectTabVC_->endSearch();
    leaveSearchField();
    (protectTabVC_->*step)();
}

void XXMainViewController::goBackAction()
{
    navigateHistory(&XXProtectTabViewController::goBack);
}

void XXMainViewController::goPreviousAction()
{
    navigateHistory(&XXProtectTabViewController::goPrevious);
}

void XXMainViewController::goRootAction()
{
    protectTabVC_->endSearch();
    leaveSearchField();
    protectTabVC_->goRoot();
}

void XXMainViewController::lockAction()
{
    if (locking_)
        return;
    locking_ = true;
    disconnect(protectTabVC_, nullptr, this, nullptr);
    disconnect(computerFileVC_, nullptr, this, nullptr);
    feedback_->cancelRunning();
    backupFlow_->cancelQuietly();
    protectTabVC_->dragOut()->cancel();
    if (privateModel_) {
        privateModel_->cancel();
        privateModel_->forget();
    }
    xxplatform::clearClipboardIfOurs();
    disconnectCommands();
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::white);
    xxplatform::runInBackground(
        this, 250ms,
        [] {
            std::vector<std::string> kept;
            manager().logOutComplete([&kept](const XXDiskResultObject &result) {
                if (const auto *paths = std::any_cast<std::vector<std::string>>(&result.successValue()))
                    kept = *paths;
            });
            return kept;
        },
        [this](const std::vector<std::string> &kept) {
            XXActivityIndicator::stopActivityIndicator(this);
            QPointer<QWidget> shownOver(window());
            emit sessionLocked();
            if (dismissBlock_) {
                auto block = std::move(dismissBlock_);
                dismissBlock_ = nullptr;
                block();
            }
            if (!kept.empty() && shownOver)
                XXReminderView::show(shownOver, xxplatform::keptCopiesMessage(kept), XXReminderView::notice);
        });
}

void XXMainViewController::vaultWentAway()
{
    if (locking_)
        return;
    // The session ends at once; the start screen, which finds no vault now and may offer to
    // make one, waits until the person has read why.
    QPointer<QWidget> over = window();
    dismissBlock_ = [over, dismiss = std::move(dismissBlock_)] {
        XXReminderView::show(over, xxplatform::text("String_210"), XXReminderView::error, [dismiss] {
            if (dismiss)
                dismiss();
        });
    };
    lockAction();
}

void XXMainViewController::changePassword()
{
    auto *change = qobject_cast<XXChangePWViewController *>(xxstoryboard::instantiateControllerWithIdentifier(
        QStringLiteral("XXChangePWWindowController"), window()));
    if (!change)
        return;
    QPointer<XXMainViewController> self(this);
    change->setSuccessBlock([self] {
        if (self)
            self->lockAction();
    });
    holdCommandWhileShown(XXCommands::changePassword, change);
    change->show();
}

void XXMainViewController::holdCommandWhileShown(XXCommands::Command command, QObject *shown)
{
    held_.insert(command);
    updateCommands();
    // Kept with the commands' connections, so neither a lock nor this screen's own teardown
    // hands the command back.
    menuConnections_.append(connect(shown, &QObject::destroyed, this, [this, command] {
        held_.erase(command);
        updateCommands();
    }));
}

bool XXMainViewController::isBackupRunning() const
{
    return backupFlow_->isRunning();
}

void XXMainViewController::backUpData()
{
    if (!locking_)
        backupFlow_->start();
}

void XXMainViewController::formatVault()
{
    if (!locking_)
        formatFlow_->start();
}

void XXMainViewController::restoreData()
{
    auto *wizard = new XXResumeDataView(window());
    restoreWizard_ = wizard;
    QPointer<XXMainViewController> self(this);
    wizard->setPageFiveSureBlock([self](bool restored) {
        if (!self)
            return;
        // The vault on the stick was replaced: the person logs in to it afresh. A failed
        // restore leaves nothing this session can trust, so the program ends.
        if (restored)
            self->lockAction();
        else
            self->window()->close();
    });
    holdCommandWhileShown(XXCommands::restoreData, wizard);
    wizard->open();
}

void XXMainViewController::showResumeLocationSetting()
{
    auto *sheet = new XXLocationSettingView(window());
    QPointer<XXMainViewController> self(this);
    sheet->setSureBlock(
        [self](std::int64_t location, bool isAutoBackup, long number, std::int64_t fixLocation) {
            if (self)
                self->storeBackupSettings(location, isAutoBackup, number, fixLocation);
        });
    holdCommandWhileShown(XXCommands::location, sheet);
    sheet->open();
}

void XXMainViewController::storeBackupSettings(std::int64_t location, bool isAutoBackup, long number,
                                               std::int64_t fixLocation)
{
    xxplatform::runInBackground(
        this, 0ms,
        [location, isAutoBackup, number, fixLocation] {
            XXDiskFileManager &disk = manager();
            const bool stored[4] = {disk.setCurrentBackupLocation(location),
                                    disk.setBackupSetting(isAutoBackup),
                                    disk.setMaxBackupFileNum(QString::asprintf("%ld", number).toStdString()),
                                    disk.setCurrentFixAppLocation(fixLocation)};
            XXServiceLogf("_%d_%d_%d_%d", stored[0], stored[1], stored[2], stored[3]);
            return stored[0] && stored[1] && stored[2] && stored[3];
        },
        [this](bool allStored) {
            XXReminderView::show(window(), xxplatform::text(allStored ? "String_86" : "String_87"),
                                 allStored ? XXReminderView::success : XXReminderView::error);
        });
}

void XXMainViewController::showTimeoutSetting()
{
    held_.insert(XXCommands::timeout);
    updateCommands();
    QPointer<XXMainViewController> self(this);
    XXTimeoutSettingView::editSettings(this, idleLock_, [self] {
        if (!self)
            return;
        self->held_.erase(XXCommands::timeout);
        self->updateCommands();
    });
}

void XXMainViewController::addFile()
{
    const auto destination = protectTabVC_->currentProtectFileWrapper();
    QPointer<XXMainViewController> self(this);
    XXAddFileDialog::choose(
        window(), xxplatform::text("String_82"), [self](const std::vector<std::string> &paths) {
            if (!self || paths.empty())
                return;
            XXFileArray files;
            for (const std::string &path : paths)
                files.push_back(XXFileWrapper::initWithURL(path));
            self->encodeSelectedComputerFiles(files,
                                              self->protectTabVC_->isEnterUSB()
                                                  ? self->protectTabVC_->currentProtectFileWrapper()
                                                  : nullptr);
        });
}

void XXMainViewController::createDir()
{
    if (!protectTabVC_->isEnterUSB()) {
        XXReminderView::show(window(), xxplatform::text("String_78"), XXReminderView::error);
        return;
    }
    QPointer<XXMainViewController> self(this);
    XXSingleInputAlertView::show(window(), xxplatform::text("String_79"), [self](const QString &name) {
        if (self)
            self->createDirNamed(name);
    });
}

void XXMainViewController::createDirNamed(const QString &name)
{
    std::string folderPath = protectTabVC_->currentFolderPath();
    if (folderPath == "/")
        folderPath.clear();
    const std::string dirName = name.toStdString();
    XXActivityIndicator::showActivityIndicatorOnView(this);
    auto shownFolder = protectTabVC_->currentProtectFileWrapper();
    xxplatform::runInBackground(
        this, 0ms,
        [folderPath, dirName] {
            XXDiskResultObject result = XXDiskResultObject::success();
            manager().createDirInFolderPath(folderPath, dirName,
                                            [&](const XXDiskResultObject &r) { result = r; });
            return result;
        },
        [this, shownFolder](const XXDiskResultObject &result) {
            XXActivityIndicator::stopActivityIndicator(this);
            const auto *entry = std::any_cast<std::shared_ptr<XXProtectFileWrapper>>(&result.successValue());
            if (!result.isSuccess() || !entry || !*entry) {
                XXReminderView::show(window(), xxplatform::text("String_81"), XXReminderView::error);
                return;
            }
            XXReminderView::show(window(), xxplatform::text("String_80"), XXReminderView::success);
            if (protectTabVC_->currentProtectFileWrapper() == shownFolder)
                protectTabVC_->insertFileWrappers({*entry});
            else if (shownFolder)
                shownFolder->appendSubFile(*entry);
        });
}

void XXMainViewController::saveFileTo()
{
    if (protectTabVC_->selectedFiles().empty())
        return;
    QFileDialog dialog(window(), xxplatform::text("String_83"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::Accept, xxplatform::text("String_84"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(xxplatform::text("String_160"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    saveFileToPath(dialog.selectedFiles().front());
}

void XXMainViewController::saveFileToPath(const QString &path)
{
    const std::string chosen = QFile::encodeName(path).toStdString();
    const std::string name = std::filesystem::path(chosen).filename().string();
    if (!XXTool::checkFileName(QString::fromLocal8Bit(name.c_str()).toStdString())) {
        XXReminderView::show(window(), xxplatform::text("String_85"), XXReminderView::notice);
        return;
    }
    const XXProtectFileArray files = protectTabVC_->selectedFiles();
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    xxplatform::runInBackground(
        this, 0ms,
        [chosen] {
            std::error_code error;
            std::filesystem::create_directories(chosen, error);
            return std::filesystem::is_directory(chosen, error) ? XXFileWrapper::initWithURL(chosen)
                                                                : std::shared_ptr<XXFileWrapper>();
        },
        [this, files](const std::shared_ptr<XXFileWrapper> &folder) {
            XXActivityIndicator::stopActivityIndicator(this);
            if (!folder) {
                XXReminderView::show(window(), xxplatform::text("String_81"), XXReminderView::error);
                return;
            }
            decodeSelectedProtectWrapper(files, folder);
        });
}

void XXMainViewController::copyAction()
{
    copyOrCut(false);
}

void XXMainViewController::cutAction()
{
    copyOrCut(true);
}

void XXMainViewController::copyOrCut(bool isCut)
{
    const XXProtectFileArray selection = protectTabVC_->selectedFiles();
    if (selection.empty()) {
        XXReminderView::show(window(), xxplatform::text("String_73"), XXReminderView::error);
        return;
    }
    QList<xxplatform::XXItemRecord> records;
    for (const auto &entry : selection)
        records.append({entry->fullPath(), entry->isDirectory(), !isCut});
    auto *data = new QMimeData;
    data->setData(xxplatform::protectItemsMimeType, xxplatform::encodeRecords(records, true));
    if (privateModel_)
        privateModel_->forget();
    privateModel_.reset();
    if (!xxplatform::setClipboardData(data)) {
        XXReminderView::show(window(), xxplatform::text("String_241"), XXReminderView::error);
        return;
    }
    updateCommands();
    startStaging(selection, isCut);
}

// Other programs get the files once they are decrypted into the private paste cache; until
// then the clipboard holds only our records.
void XXMainViewController::startStaging(const XXProtectFileArray &files, bool isCut)
{
    auto staging = std::make_shared<XXPasteStaging>(manager());
    privateModel_ = staging;
    QPointer<XXProgressAlertView> progress;
    const std::uint64_t total = manager().allSelectedProtectFileSize(files);
    // Small selections are ready before a dialog would be seen.
    if (total > (64u << 20))
        progress = XXProgressAlertView::show(this, xxplatform::text(isCut ? "String_14" : "String_13"),
                                             [staging] { staging->cancel(); });
    QPointer<XXMainViewController> self(this);
    xxplatform::runInBackground(
        this, 0ms,
        [staging, files, isCut, self, progress] {
            return staging->stage(
                files, isCut, [self, progress](std::uint64_t all, std::uint64_t done, const std::string &) {
                    xxplatform::runOnMain(self, [progress, all, done] {
                        if (progress)
                            progress->setProgress(XXTransferFeedback::progressValue(all, done));
                    });
                });
        },
        [this, staging, progress, isCut](const XXPasteStaging::Result &result) {
            if (progress)
                progress->dismiss();
            if (privateModel_ != staging || result.cancelled)
                return;
            const QMimeData *current = QGuiApplication::clipboard()->mimeData();
            if (!current || !current->hasFormat(xxplatform::protectItemsMimeType))
                return;  // the person copied something else meanwhile
            auto *data = new QMimeData;
            data->setData(xxplatform::protectItemsMimeType, current->data(xxplatform::protectItemsMimeType));
            xxplatform::setLocalFiles(*data, result.stagedPaths, isCut);
            if (!xxplatform::setClipboardData(data)) {
                XXReminderView::show(window(), xxplatform::text("String_241"), XXReminderView::error);
                return;
            }
            stagedCutCount_ = isCut ? int(result.stagedEntries.size()) : 0;
            if (stagedCutCount_ > 0)
                cutWatch_->start();
            if (!result.failedFiles.empty()) {
                const QString first = QString::fromUtf8(result.failedFiles.front()->fileName().c_str());
                const QString text = xxplatform::text(isCut ? "String_144" : "String_143");
                XXReminderView::show(window(),
                                     result.failedFiles.size() == 1
                                         ? QStringLiteral("%1 %2").arg(first, text)
                                         : QStringLiteral("%1...%2").arg(first, text),
                                     XXReminderView::error);
            }
        });
}

void XXMainViewController::dropStagedClipboardFiles()
{
    if (privateModel_)
        privateModel_->forget();
    privateModel_.reset();
    stagedCutCount_ = 0;
    const QMimeData *current = QGuiApplication::clipboard()->mimeData();
    if (!current || !xxplatform::isOurs(current) || !current->hasFormat(xxplatform::uriListMimeType))
        return;
    auto *data = new QMimeData;
    data->setData(xxplatform::protectItemsMimeType, current->data(xxplatform::protectItemsMimeType));
    xxplatform::setClipboardData(data);
}

void XXMainViewController::checkCutTakenByOtherPrograms()
{
    auto staging = privateModel_;
    if (!staging || !staging->isCut() || stagedCutCount_ <= 0 || checkingCut_) {
        cutWatch_->stop();
        return;
    }
    checkingCut_ = true;
    xxplatform::runInBackground(
        this, 0ms, [staging] { return staging->removeEntriesTakenByOtherPrograms(); },
        [this, staging](const XXProtectFileArray &removed) {
            checkingCut_ = false;
            if (removed.empty() || privateModel_ != staging)
                return;
            stagedCutCount_ -= int(removed.size());
            reloadProtectPane();
            if (stagedCutCount_ <= 0) {
                cutWatch_->stop();
                XXReminderView::show(window(), xxplatform::text("String_178"), XXReminderView::success);
            }
        });
}

void XXMainViewController::pasteAction()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data || !protectTabVC_->isEnterUSB())
        return;
    const auto destination = protectTabVC_->currentProtectFileWrapper();
    if (data->hasFormat(xxplatform::protectItemsMimeType)) {
        const auto records = xxplatform::decodeRecords(data->data(xxplatform::protectItemsMimeType));
        if (records.isEmpty())
            return;
        const bool isCopy = records.front().isCopy;
        const XXProtectFileArray entries = resolveProtectRecords(records);
        if (!isCopy) {
            // A move happens once; the other programs' copies of the cut stay theirs.
            if (privateModel_)
                privateModel_->forget();
            privateModel_.reset();
            QGuiApplication::clipboard()->clear();
            updateCommands();
        }
        operateDiskWithSelectedFiles(entries, destination, isCopy);
        return;
    }
    if (xxplatform::offersForeignFiles(data)) {
        XXFileArray files;
        for (const std::string &path : xxplatform::localFilesFrom(data))
            files.push_back(XXFileWrapper::initWithURL(path));
        encodeSelectedComputerFiles(files, destination);
    }
}

void XXMainViewController::deleteSelectedFiles()
{
    const XXProtectFileArray selection = protectTabVC_->selectedFiles();
    if (selection.empty())
        return;
    QPointer<XXMainViewController> self(this);
    XXTwoBtnReminderView::show(window(), xxplatform::text("String_94"), [self, selection] {
        if (!self)
            return;
        XXActivityIndicator::showActivityIndicatorOnView(self);
        xxplatform::runInBackground(
            self, 0ms,
            [selection] {
                XXDiskResultObject result = XXDiskResultObject::success();
                manager().removeProtectedFiles(selection, [&](const XXDiskResultObject &r) { result = r; });
                return result;
            },
            [self](const XXDiskResultObject &result) {
                XXActivityIndicator::stopActivityIndicator(self);
                XXReminderView::show(self->window(),
                                     xxplatform::text(result.isSuccess() ? "String_92" : "String_93"),
                                     result.isSuccess() ? XXReminderView::success : XXReminderView::error);
                self->reloadProtectPane();
            });
    });
}

void XXMainViewController::renameAction()
{
    if (protectTabVC_->selectedFiles().size() != 1)
        return;
    QPointer<XXMainViewController> self(this);
    XXSingleInputAlertView::show(window(), xxplatform::text("String_95"), [self](const QString &name) {
        if (self)
            self->renameSelectedTo(name);
    });
}

void XXMainViewController::renameSelectedTo(const QString &name)
{
    if (protectTabVC_->selectedFiles().size() != 1)
        return;
    auto entry = protectTabVC_->selectedFiles().front();
    const std::string newName = name.toStdString();
    XXActivityIndicator::showActivityIndicatorOnView(this, Qt::darkGray);
    xxplatform::runInBackground(
        this, 0ms, [entry, newName] { return manager().renameProtectWrapper(*entry, newName); },
        [this](const std::optional<std::string> &error) {
            XXActivityIndicator::stopActivityIndicator(this);
            if (error) {
                XXReminderView::show(window(), QString::fromStdString(*error), XXReminderView::error);
                return;
            }
            QPointer<XXMainViewController> self(this);
            XXReminderView::show(window(), xxplatform::text("String_96"), XXReminderView::success, [self] {
                if (self)
                    self->protectTabVC_->reloadData();
            });
        });
}

void XXMainViewController::selectedAllFiles()
{
    protectTabVC_->selectedAllFile();
}

void XXMainViewController::startSearch(const QString &keyword)
{
    const auto folder = protectTabVC_->currentProtectFileWrapper();
    const std::string key = keyword.toStdString();
    XXActivityIndicator::showActivityIndicatorOnView(this);
    xxplatform::runInBackground(
        this, 0ms, [folder, key] { return manager().searchFileWithKeyString(key, folder); },
        [this](const XXProtectFileArray &results) {
            XXActivityIndicator::stopActivityIndicator(this);
            protectTabVC_->showSearchResults(results);
            updateCommands();
        });
}

void XXMainViewController::endSearch()
{
    protectTabVC_->endSearch();
    updateCommands();
}

void XXMainViewController::reloadProtectPane()
{
    protectTabVC_->reloadData();
    updateCommands();
}

XXProtectFileArray
XXMainViewController::resolveProtectRecords(const QList<xxplatform::XXItemRecord> &records) const
{
    XXProtectFileArray folders;
    XXProtectFileArray files;
    if (const auto &root = protectTabVC_->rootProtectFileWrapper())
        manager().separateProtectFolderWrapper(root, folders, files);
    XXProtectFileArray resolved;
    for (const auto &record : records) {
        const auto &candidates = record.isDir ? folders : files;
        for (const auto &entry : candidates)
            if (entry->isDirectory() == record.isDir && !entry->isRootWrapper() &&
                entry->fullPath() == record.path) {
                resolved.push_back(entry);
                break;
            }
    }
    return resolved;
}

void XXMainViewController::encodeSelectedComputerFiles(
    const XXFileArray &files, const std::shared_ptr<XXProtectFileWrapper> &destination)
{
    if (!destination || destination->isRootContainerWrapper()) {
        XXReminderView::show(window(), xxplatform::text("String_88"), XXReminderView::notice);
        return;
    }
    if (files.empty())
        return;
    QPointer<XXMainViewController> self(this);
    feedback_->runImport(files, destination, [self](bool) {
        if (self)
            self->reloadProtectPane();
    });
}

void XXMainViewController::encodeRecords(const QList<xxplatform::XXItemRecord> &records,
                                         const std::shared_ptr<XXProtectFileWrapper> &destination)
{
    XXFileArray files;
    for (const auto &record : records)
        files.push_back(XXFileWrapper::initWithURL(record.path));
    encodeSelectedComputerFiles(files, destination);
}

void XXMainViewController::decodeSelectedProtectWrapper(const XXProtectFileArray &files,
                                                        const std::shared_ptr<XXFileWrapper> &destination)
{
    if (files.empty() || !destination)
        return;
    QPointer<XXMainViewController> self(this);
    feedback_->runExport(files, destination, [self](bool) {
        if (self)
            self->computerFileVC_->reloadData();
    });
}

void XXMainViewController::decodeRecords(const QList<xxplatform::XXItemRecord> &records,
                                         const std::shared_ptr<XXFileWrapper> &destination)
{
    decodeSelectedProtectWrapper(resolveProtectRecords(records), destination);
}

void XXMainViewController::operateDiskWithSelectedFiles(
    const XXProtectFileArray &files, const std::shared_ptr<XXProtectFileWrapper> &destination, bool isCopy)
{
    if (files.empty() || !destination)
        return;
    QPointer<XXMainViewController> self(this);
    feedback_->runOperate(files, destination, isCopy, [self](bool) {
        if (self)
            self->reloadProtectPane();
    });
}
