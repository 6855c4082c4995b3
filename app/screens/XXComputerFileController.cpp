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
#include "XXMainViewController.h"
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

// The three user folders of the XDG user dirs, then the volumes; all checked on a worker.
std::vector<Root> findRoots()
{
    std::vector<Root> roots;
    const QString home = QDir::homePath();
    for (auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DownloadLocation,
                          QStandardPaths::DocumentsLocation}) {
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
      contextMenu_(new QMenu(this))
{
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
    table->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    table->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);

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
    if (!shown_)
        return;
    // Exports add to the folder; list it afresh on a worker so the table shows the disk.
    auto fresh = XXFileWrapper::initWithURL(shown_->fullPath());
    auto old = shown_;
    xxplatform::runInBackground(
        this, 0ms,
        [fresh] {
            fresh->allSubFileArray();
            fresh->sortFile();
        },
        [this, fresh, old] {
            if (shown_ != old)
                return;
            old->setAllSubFileArray(fresh->allSubFileArray());
            old->setAllWithoutHiddenFileSubFileArray(fresh->allWithoutHiddenFileSubFileArray());
            old->setAllSubFolderFileArray(fresh->allSubFolderFileArray());
            showShownItems();
            emit folderShown();
        });
}

void XXComputerFileController::showShownItems()
{
    table_->selectionModel()->clear();
    fileModel_->setItems(shown_ ? shown_->allWithoutHiddenFileSubFileArray() : XXFileArray());
    selectedFiles_.clear();
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
    if (!selectedFiles_.empty() && mainVC_)
        mainVC_->setFocusLocation(2);
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
    QWidget *over = mainVC_ ? static_cast<QWidget *>(mainVC_.data()) : window();
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
    if (!canDrop(data) || !target || !mainVC_)
        return;
    mainVC_->decodeRecords(xxplatform::decodeRecords(data->data(xxplatform::dragProtectItemsMimeType)),
                           target);
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
