#include "XXComputerFileController.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "XXComputerFileModel.h"
#include "XXComputerTreeModel.h"
#include "XXDiskCheck.h"
#include "XXDropViews.h"
#include "XXFileOpener.h"
#include "XXFolderWatcher.h"
#include "XXMimeFormats.h"
#include "XXQtRunLoop.h"
#include "XXReminderView.h"
#include "XXSingleInputAlertView.h"
#include "XXTexts.h"
#include "XXTool.h"
#include "XXTwoBtnReminderView.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

struct Root {
    std::shared_ptr<XXFileWrapper> folder;
    QString title;
};

std::string localPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// The user folders of the XDG user dirs (Qt reads user-dirs.dirs and falls back to the
// usual names under the home folder), those that exist, then the volumes; checked on a worker.
std::vector<Root> findRoots()
{
    std::vector<Root> roots;
    const QString home = QDir::homePath();
    for (auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DownloadLocation,
                          QStandardPaths::DocumentsLocation, QStandardPaths::PicturesLocation,
                          QStandardPaths::MusicLocation, QStandardPaths::MoviesLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        // Without user dirs some of them fall back to the home folder; show it once at most.
        if (path.isEmpty() || !QDir(path).exists())
            continue;
        bool seen = false;
        for (const Root &root : roots)
            seen = seen || root.folder->fullPath() == localPath(path);
        if (seen)
            continue;
        roots.push_back({XXFileWrapper::initWithURL(localPath(path)),
                         path == home ? QDir(home).dirName() : QStandardPaths::displayName(location)});
    }
    const XXVolumeSource &source = XXVolumeSource::current();
    if (const auto disks = source.loadedDisk ? source.loadedDisk() : std::nullopt)
        for (const auto &[name, disk] : *disks)
            if (!disk.volumePath.empty())
                roots.push_back({XXFileWrapper::initWithURL(disk.volumePath), {}});
    return roots;
}

std::string extensionOf(const std::string &name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
        return {};
    return name.substr(dot + 1);
}

}  // namespace

XXComputerFileController::XXComputerFileController(QWidget *parent)
    : QWidget(parent), treeModel_(new XXComputerTreeModel(this)), fileModel_(new XXComputerFileModel(this)),
      contextMenu_(new QMenu(this)), pendingRetry_(new QTimer(this)), loop_(new XXQtRunLoop(this))
{
    // Short enough to feel immediate, long enough that a copy of many files is a few reports.
    folderWatcher_ = std::make_unique<XXFolderWatcher>(
        *loop_, 300ms, [this](const std::vector<std::string> &folders) { foldersDidChange(folders); });
    connect(treeModel_, &XXComputerTreeModel::listedFoldersChanged, this, [this] {
        folderWatcher_->setWatchedFolders(treeModel_->listedFolderPaths());
        // The shown folder went from the disk: show another rather than a ghost.
        if (shown_ && !treeModel_->indexOfPath(shown_->fullPath()).isValid()) {
            shown_ = nullptr;
            showShownItems();
            if (!tree_->currentIndex().isValid() && treeModel_->rowCount() > 0)
                tree_->setCurrentIndex(treeModel_->index(0, 0));
        }
    });
    pendingRetry_->setInterval(500);
    connect(pendingRetry_, &QTimer::timeout, this, &XXComputerFileController::applyPendingChanges);

    setObjectName(QStringLiteral("XXComputerFileController"));
    auto *tree = new XXDropTreeView;
    auto *table = new XXDropTreeView;
    tree_ = tree;
    table_ = table;
    tree->setObjectName(QStringLiteral("computerFileTreeTable"));
    table->setObjectName(QStringLiteral("folderSubFileTable"));
    tree->setModel(treeModel_);
    tree->setHeaderHidden(true);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setDragEnabled(false);
    tree->setExpandsOnDoubleClick(true);
    table->setModel(fileModel_);
    table->setRootIsDecorated(false);
    table->setItemsExpandable(false);
    table->setUniformRowHeights(true);
    table->setAllColumnsShowFocus(true);
    table->header()->setStretchLastSection(false);
    table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->header()->setSectionResizeMode(XXComputerFileModel::nameColumn, QHeaderView::Stretch);

    XXDropHandler handler{[this](const QMimeData *data, const QModelIndex &) { return canDrop(data); },
                          [this](const QMimeData *data, const QModelIndex &index) {
                              auto target = fileModel_->item(index.row());
                              dropOnFolder(
                                  data, index.isValid() && target && target->isDirectory() ? target : shown_);
                          }};
    table->setDropHandler(handler);
    tree->setDropHandler(
        {[this](const QMimeData *data, const QModelIndex &index) { return index.isValid() && canDrop(data); },
         [this](const QMimeData *data, const QModelIndex &index) {
             dropOnFolder(data, treeModel_->wrapper(index));
         }});

    auto *splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(tree);
    splitter->addWidget(table);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 5);
    splitter->setChildrenCollapsible(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    renameItem_ =
        contextMenu_->addAction(xxplatform::text("String_16"), this, &XXComputerFileController::renameAction);
    deleteItem_ =
        contextMenu_->addAction(xxplatform::text("String_17"), this, &XXComputerFileController::deleteAction);
    renameItem_->setEnabled(false);
    deleteItem_->setEnabled(false);
    connect(table, &QWidget::customContextMenuRequested, this, &XXComputerFileController::showContextMenu);

    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { showFolder(current, false); });
    connect(table, &QAbstractItemView::activated, this, &XXComputerFileController::tableActivated);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &XXComputerFileController::tableSelectionChanged);

    if (const auto &setDelegate = XXVolumeSource::current().setDelegate)
        setDelegate(this);
}

XXComputerFileController::~XXComputerFileController()
{
    if (const auto &setDelegate = XXVolumeSource::current().setDelegate)
        setDelegate(nullptr);
}

void XXComputerFileController::loadRoots()
{
    xxplatform::runInBackground(
        this, 0ms, [] { return findRoots(); },
        [this](const std::vector<Root> &roots) {
            for (const Root &root : roots)
                if (!treeModel_->hasRoot(root.folder->fullPath()))
                    treeModel_->appendRoot(root.folder, root.title);
            if (treeModel_->rowCount() > 0 && !tree_->currentIndex().isValid())
                tree_->setCurrentIndex(treeModel_->index(0, 0));
        });
}

XXFileArray XXComputerFileController::treeTableRootFileArr() const
{
    return treeModel_->roots();
}

void XXComputerFileController::showFolder(const QModelIndex &treeIndex, bool expand)
{
    auto folder = treeModel_->wrapper(treeIndex);
    if (!folder)
        return;
    QPersistentModelIndex index(treeIndex);
    treeModel_->ensureListed(treeIndex, [this, folder, index, expand] {
        if (treeModel_->wrapper(index) != folder || tree_->currentIndex() != QModelIndex(index))
            return;  // another folder was chosen meanwhile
        shown_ = folder;
        if (expand)
            tree_->expand(index);
        showShownItems();
        emit folderShown();
    });
}

void XXComputerFileController::reloadData()
{
    if (shown_)
        foldersDidChange({shown_->fullPath()});
}

void XXComputerFileController::foldersDidChange(const std::vector<std::string> &folders)
{
    pendingChanges_.insert(folders.begin(), folders.end());
    applyPendingChanges();
}

void XXComputerFileController::applyPendingChanges()
{
    // A transfer reads the folder models on its worker and the export adds to them there.
    if (isBusy_ && isBusy_()) {
        pendingRetry_->start();
        return;
    }
    pendingRetry_->stop();
    const auto folders = std::move(pendingChanges_);
    pendingChanges_.clear();
    for (const std::string &folder : folders) {
        QPointer<XXComputerFileController> self(this);
        treeModel_->refreshFolder(folder, [self, folder] {
            if (self && self->shown_ && self->shown_->fullPath() == folder) {
                self->showShownItemsKeepingSelection();
                emit self->folderShown();
            }
        });
    }
}

std::set<std::string> XXComputerFileController::watchedFolders() const
{
    return folderWatcher_->watchedFolders();
}

void XXComputerFileController::showShownItems()
{
    table_->selectionModel()->clear();
    fileModel_->setItems(shown_ ? shown_->allWithoutHiddenFileSubFileArray() : XXFileArray());
    selectedFiles_.clear();
}

void XXComputerFileController::showShownItemsKeepingSelection()
{
    std::set<std::string> selected;
    for (const auto &item : selectedFiles_)
        selected.insert(item->fullPath());
    const auto current = fileModel_->item(table_->currentIndex().row());
    const std::string currentPath = current ? current->fullPath() : std::string();
    const int scrolled = table_->verticalScrollBar()->value();

    fileModel_->setItems(shown_ ? shown_->allWithoutHiddenFileSubFileArray() : XXFileArray());
    QItemSelection selection;
    const XXFileArray &items = fileModel_->items();
    for (int row = 0; row < int(items.size()); ++row) {
        const std::string path = items[std::size_t(row)]->fullPath();
        if (selected.count(path))
            selection.select(fileModel_->index(row, 0),
                             fileModel_->index(row, XXComputerFileModel::columnCount_ - 1));
        if (path == currentPath)
            table_->selectionModel()->setCurrentIndex(fileModel_->index(row, 0), QItemSelectionModel::NoUpdate);
    }
    table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    tableSelectionChanged();
    table_->verticalScrollBar()->setValue(scrolled);
}

void XXComputerFileController::deselectedAllFile()
{
    table_->selectionModel()->clearSelection();
}

void XXComputerFileController::tableActivated(const QModelIndex &index)
{
    const auto item = fileModel_->item(index.row());
    if (!item)
        return;
    if (!item->isDirectory()) {
        xxplatform::openWithDefaultApplication(this, QString::fromLocal8Bit(item->fullPath().c_str()),
                                               [this](xxplatform::XXOpener opener) {
                                                   if (opener == xxplatform::XXOpener::none)
                                                       XXReminderView::show(window(), xxplatform::text("String_211"),
                                                                            XXReminderView::error);
                                               });
        return;
    }
    const QModelIndex parentIndex = tree_->currentIndex();
    tree_->expand(parentIndex);
    const QModelIndex child = treeModel_->indexOfPath(item->fullPath());
    if (child.isValid())
        tree_->setCurrentIndex(child);
}

void XXComputerFileController::tableSelectionChanged()
{
    selectedFiles_.clear();
    for (const QModelIndex &index : table_->selectionModel()->selectedRows(0))
        if (auto item = fileModel_->item(index.row()))
            selectedFiles_.push_back(item);
    renameItem_->setEnabled(selectedFiles_.size() == 1);
    deleteItem_->setEnabled(!selectedFiles_.empty());
    emit selectionChanged();
}

void XXComputerFileController::showContextMenu(const QPoint &pos)
{
    clickedRow_ = table_->indexAt(pos).row();
    const auto clicked = fileModel_->item(clickedRow_);
    const bool inSelection =
        clicked && std::find(selectedFiles_.begin(), selectedFiles_.end(), clicked) != selectedFiles_.end();
    renameItem_->setEnabled(clicked ? (inSelection ? selectedFiles_.size() == 1 : true) : false);
    deleteItem_->setEnabled(clicked != nullptr);
    contextMenu_->exec(table_->viewport()->mapToGlobal(pos));
    clickedRow_ = -1;
}

// The entries a context-menu command acts on: the selection when the clicked row is in it
// (or nothing was clicked), else the clicked row alone.
std::shared_ptr<XXFileWrapper> XXComputerFileController::clickedOrSelected(XXFileArray &items) const
{
    const auto clicked = fileModel_->item(clickedRow_);
    if (clicked && std::find(selectedFiles_.begin(), selectedFiles_.end(), clicked) == selectedFiles_.end())
        items = {clicked};
    else
        items = selectedFiles_;
    return items.empty() ? nullptr : items.front();
}

std::string XXComputerFileController::renamedName(const XXFileWrapper &item, const std::string &newName)
{
    if (item.isDirectory())
        return newName;
    const std::string oldExtension = extensionOf(item.fileName());
    if (oldExtension.empty() || extensionOf(newName) == oldExtension)
        return newName;
    return newName + "." + oldExtension;
}

void XXComputerFileController::renameAction()
{
    XXFileArray items;
    const auto item = clickedOrSelected(items);
    if (!item || items.size() != 1)
        return;
    QPointer<XXComputerFileController> self(this);
    QWidget *over = host_ ? host_.data() : window();
    XXSingleInputAlertView::show(over, xxplatform::text("String_95"), [self, item](const QString &text) {
        if (self)
            self->renameItem(item, text);
    });
}

void XXComputerFileController::renameItem(const std::shared_ptr<XXFileWrapper> &item, const QString &newName)
{
    QWidget *over = window();
    const std::string typed = newName.toStdString();
    if (typed.empty() || !XXTool::checkFileName(typed)) {
        XXReminderView::show(over, xxplatform::text("String_98"), XXReminderView::notice);
        return;
    }
    const std::string name = localPath(QString::fromUtf8(renamedName(*item, typed).c_str()));
    const std::filesystem::path parent(item->parentFolderPath());
    const std::filesystem::path target = parent / name;
    std::error_code error;
    if (std::filesystem::symlink_status(target, error).type() != std::filesystem::file_type::not_found) {
        XXReminderView::show(over, xxplatform::text("String_69"), XXReminderView::notice);
        return;
    }
    std::filesystem::rename(item->fullPath(), target, error);
    if (error) {
        XXReminderView::show(over, xxplatform::text("String_97"), XXReminderView::notice);
        return;
    }
    replaceInShownFolder(item, XXFileWrapper::initWithURL(target.string()));
    XXReminderView::show(over, xxplatform::text("String_96"), XXReminderView::success);
}

void XXComputerFileController::replaceInShownFolder(const std::shared_ptr<XXFileWrapper> &old,
                                                    const std::shared_ptr<XXFileWrapper> &renamed)
{
    if (!shown_)
        return;
    for (XXFileArray *array : {&shown_->allSubFileArray(), &shown_->allWithoutHiddenFileSubFileArray(),
                               &shown_->allSubFolderFileArray()})
        for (auto &entry : *array)
            if (entry == old)
                entry = renamed;
    showShownItems();
}

void XXComputerFileController::removeFromShownFolder(const XXFileArray &removed)
{
    if (!shown_)
        return;
    for (XXFileArray *array : {&shown_->allSubFileArray(), &shown_->allWithoutHiddenFileSubFileArray(),
                               &shown_->allSubFolderFileArray()})
        std::erase_if(*array, [&](const auto &entry) {
            return std::find(removed.begin(), removed.end(), entry) != removed.end();
        });
}

void XXComputerFileController::deleteAction()
{
    XXFileArray items;
    if (!clickedOrSelected(items))
        return;
    QPointer<XXComputerFileController> self(this);
    QWidget *over = window();
    XXTwoBtnReminderView::show(over, xxplatform::text("String_94"), [self, items] {
        if (!self)
            return;
        xxplatform::runInBackground(
            self, 0ms,
            [items] {
                // To the trash where the volume has one, as the file managers do; removed
                // outright only where there is none.
                XXFileArray removed;
                for (const auto &item : items) {
                    const QString path = QString::fromLocal8Bit(item->fullPath().c_str());
                    std::error_code error;
                    if (QFile::moveToTrash(path) || std::filesystem::remove_all(item->fullPath(), error) > 0)
                        removed.push_back(item);
                }
                return removed;
            },
            [self](const XXFileArray &removed) {
                self->removeFromShownFolder(removed);
                QPointer<XXComputerFileController> again(self);
                XXReminderView::show(self->window(), xxplatform::text("String_92"), XXReminderView::success,
                                     [again] {
                                         if (again)
                                             again->showShownItems();
                                     });
            });
    });
}

bool XXComputerFileController::canDrop(const QMimeData *data) const
{
    return data && data->hasFormat(xxplatform::dragProtectItemsMimeType);
}

void XXComputerFileController::dropOnFolder(const QMimeData *data, std::shared_ptr<XXFileWrapper> target)
{
    if (!canDrop(data) || !target)
        return;
    emit exportRequested(xxplatform::decodeRecords(data->data(xxplatform::dragProtectItemsMimeType)), target);
}

void XXComputerFileController::diskDidAppear(XXDiskTool &, const XXDiskDescription &disk)
{
    const std::string path = disk.volumePath;
    QPointer<XXComputerFileController> self(this);
    QTimer::singleShot(xxplatform::scaledDelay(1500ms), this, [self, path] {
        if (self)
            self->addVolume(path);
    });
}

void XXComputerFileController::diskDidDismiss(XXDiskTool &, const XXDiskDescription &disk)
{
    // Ending the program when this is the session's volume is the manager's: it hears of
    // the removal too and ends it after the quit path's cleanup.
    removeVolume(disk.volumePath);
}

void XXComputerFileController::addVolume(const std::string &path)
{
    if (path.empty() || treeModel_->hasRoot(path))
        return;
    auto folder = XXFileWrapper::initWithURL(path);
    treeModel_->appendRoot(folder);
}

void XXComputerFileController::removeVolume(const std::string &path)
{
    const bool showingIt =
        shown_ && (shown_->fullPath() == path || shown_->fullPath().rfind(path + "/", 0) == 0);
    treeModel_->removeRoot(path);
    if (showingIt) {
        shown_ = nullptr;
        showShownItems();
        if (treeModel_->rowCount() > 0)
            tree_->setCurrentIndex(treeModel_->index(0, 0));
    }
}
