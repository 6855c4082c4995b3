// The computer pane's folder tree: the user's desktop, downloads, documents, pictures, music
// and videos folders, then one root per mounted volume; below them folders only (hidden ones
// left out). A folder is listed on a worker the first time the view wants its children
// (fetchMore), so opening a slow or huge folder never stalls the window, and again whenever
// it is refreshed after a change on the disk.
#pragma once

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "XXFileWrapper.h"

class XXComputerTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit XXComputerTreeModel(QObject *parent = nullptr);
    ~XXComputerTreeModel() override;

    // Adds a root for an existing folder, with the title shown for it ("" for its name).
    void appendRoot(std::shared_ptr<XXFileWrapper> folder, const QString &title = {});
    // Removes the root whose folder is at path; false when there is none.
    bool removeRoot(const std::string &path);
    bool hasRoot(const std::string &path) const;
    XXFileArray roots() const;

    std::shared_ptr<XXFileWrapper> wrapper(const QModelIndex &index) const;
    // The index of a listed folder with that full path, or an invalid one.
    QModelIndex indexOfPath(const std::string &path) const;
    // True once the folder's children were listed (the table may then show them).
    bool isListed(const QModelIndex &index) const;
    // Lists the folder on a worker (if not yet) and then runs done on the GUI thread.
    void ensureListed(const QModelIndex &index, std::function<void()> done);
    // The paths of the folders listed so far: the ones whose changes the pane must follow.
    std::set<std::string> listedFolderPaths() const;
    // Lists the listed folder at path again, on a worker, and brings its rows and its model's
    // child lists in line with the disk. Folders that stay keep their models, rows, listing
    // and expansion; files take fresh models (their size or date may have changed). A folder
    // that is gone leaves the tree. done runs on the GUI thread once the folder was brought in
    // line (not when it is unknown or gone).
    void refreshFolder(const std::string &path, std::function<void()> done = {});

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex & = {}) const override { return 1; }
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
    QStringList mimeTypes() const override;

signals:
    // A folder's listing arrived (its rows were inserted).
    void folderListed(const QModelIndex &index);
    // listedFolderPaths() changed: a folder was listed, or listed ones left the tree.
    void listedFoldersChanged();

private:
    struct Node;
    Node *nodeOf(const QModelIndex &index) const;
    // The first node, depth first, for which found holds; nullptr when none does.
    const Node *findNode(const std::function<bool(const Node &)> &found) const;
    QModelIndex indexOfNode(const Node *node) const;
    void startListing(Node *node);
    std::weak_ptr<Node> ownerOf(const Node *node) const;
    void removeNode(const Node *node);
    void mergeListing(Node *node, XXFileWrapper &fresh);

    std::vector<std::shared_ptr<Node>> roots_;
};
