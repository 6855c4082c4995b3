// The computer pane of the unlocked screen: a folder tree (the user's desktop, downloads,
// documents, pictures, music and videos folders, then every qualifying volume) and the
// visible items of the chosen folder. It opens, renames and deletes (to the trash) computer
// files, starts imports by drag and takes exports by drop, follows volumes coming and going,
// and follows the listed folders on the disk: what another program changes there shows. It
// tells the screen what happened through its signals and never calls up into it.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "XXDiskTool.h"
#include "XXFileWrapper.h"
#include "XXMimeFormats.h"

class QMenu;
class QMimeData;
class QModelIndex;
class QTimer;
class QTreeView;
class XXComputerFileModel;
class XXComputerTreeModel;
class XXFolderWatcher;
class XXQtRunLoop;

class XXComputerFileController final : public QWidget, public XXDiskToolDelegate {
    Q_OBJECT
public:
    explicit XXComputerFileController(QWidget *parent = nullptr);
    ~XXComputerFileController() override;

    // The widget the pane's rename question is shown over (the whole screen).
    void setHostView(QWidget *host) { host_ = host; }

    // Builds the roots (on a worker: the folders are checked there) and shows the first.
    void loadRoots();

    XXComputerTreeModel *treeModel() const { return treeModel_; }
    XXComputerFileModel *fileModel() const { return fileModel_; }
    QTreeView *computerFileTreeTable() const { return tree_; }
    QTreeView *folderSubFileTable() const { return table_; }
    std::shared_ptr<XXFileWrapper> treeTableSelectedWrapper() const { return shown_; }
    const XXFileArray &selectedFiles() const { return selectedFiles_; }
    XXFileArray treeTableRootFileArr() const;

    // Shows the folder at the tree index (listing it on a worker first).
    void showFolder(const QModelIndex &treeIndex, bool expand);
    // Lists the shown folder again (on a worker), keeping the selection where it can.
    void reloadData();
    void deselectedAllFile();

    // While this holds (a transfer reads or fills the computer models on a worker), changes
    // on the disk wait; they are applied once it no longer does.
    void setBusyPredicate(std::function<bool()> isBusy) { isBusy_ = std::move(isBusy); }
    // The folders changed on the disk: their tree rows and, for the shown one, the table are
    // brought in line. The folder watcher calls this; public for the tests.
    void foldersDidChange(const std::vector<std::string> &folders);
    std::set<std::string> watchedFolders() const;

    // The file-name rule of the pane: a file keeps its extension when the new name has
    // another one (or none). "" when the rule leaves nothing.
    static std::string renamedName(const XXFileWrapper &item, const std::string &newName);
    void renameItem(const std::shared_ptr<XXFileWrapper> &item, const QString &newName);
    void renameAction();
    void deleteAction();

    // Drops of protected items (public for the tests).
    bool canDrop(const QMimeData *data) const;
    void dropOnFolder(const QMimeData *data, std::shared_ptr<XXFileWrapper> target);

    // Volumes; the delay is the time a fresh mount needs to settle.
    void diskDidAppear(XXDiskTool &tool, const XXDiskDescription &disk) override;
    void diskDidDismiss(XXDiskTool &tool, const XXDiskDescription &disk) override;
    void diskDidModify(XXDiskTool &, const XXDiskDescription &) override {}
    void addVolume(const std::string &path);
    void removeVolume(const std::string &path);

signals:
    void folderShown();
    void selectionChanged();
    // Protected items dropped on a computer folder, to export there.
    void exportRequested(const QList<xxplatform::XXItemRecord> &records, const std::shared_ptr<XXFileWrapper> &folder);

private:
    // The shown folder's visible items, none selected.
    void showShownItems();
    // The same, keeping the selected items (by path) and the scroll position.
    void showShownItemsKeepingSelection();
    void applyPendingChanges();
    void tableActivated(const QModelIndex &index);
    void tableSelectionChanged();
    void showContextMenu(const QPoint &pos);
    std::shared_ptr<XXFileWrapper> clickedOrSelected(XXFileArray &items) const;
    void replaceInShownFolder(const std::shared_ptr<XXFileWrapper> &old,
                              const std::shared_ptr<XXFileWrapper> &renamed);
    void removeFromShownFolder(const XXFileArray &removed);

    QPointer<QWidget> host_;
    XXComputerTreeModel *treeModel_;
    XXComputerFileModel *fileModel_;
    QTreeView *tree_;
    QTreeView *table_;
    QMenu *contextMenu_;
    QAction *renameItem_;
    QAction *deleteItem_;
    std::shared_ptr<XXFileWrapper> shown_;
    XXFileArray selectedFiles_;
    int clickedRow_ = -1;
    std::function<bool()> isBusy_;
    std::set<std::string> pendingChanges_;
    QTimer *pendingRetry_;
    XXQtRunLoop *loop_;
    std::unique_ptr<XXFolderWatcher> folderWatcher_;  // before loop_ goes (a QObject child)
};
