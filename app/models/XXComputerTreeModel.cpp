#include "XXComputerTreeModel.h"

#include <QFileIconProvider>

#include <unordered_map>
#include <unordered_set>

#include "XXMimeFormats.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

struct XXComputerTreeModel::Node {
    std::shared_ptr<XXFileWrapper> wrapper;
    QString title;
    Node *parent = nullptr;
    std::vector<std::shared_ptr<Node>> children;
    bool listed = false;
    bool listing = false;
    std::vector<std::function<void()>> waiting;  // ensureListed callers
};

XXComputerTreeModel::XXComputerTreeModel(QObject *parent) : QAbstractItemModel(parent) {}
XXComputerTreeModel::~XXComputerTreeModel() = default;

void XXComputerTreeModel::appendRoot(std::shared_ptr<XXFileWrapper> folder, const QString &title)
{
    auto node = std::make_shared<Node>();
    node->wrapper = std::move(folder);
    node->title = title;
    beginInsertRows({}, int(roots_.size()), int(roots_.size()));
    roots_.push_back(std::move(node));
    endInsertRows();
}

bool XXComputerTreeModel::removeRoot(const std::string &path)
{
    for (const auto &root : roots_)
        if (root->wrapper->fullPath() == path) {
            removeNode(root.get());
            return true;
        }
    return false;
}

void XXComputerTreeModel::removeNode(const Node *node)
{
    auto &siblings = node->parent ? node->parent->children : roots_;
    for (std::size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node) {
            beginRemoveRows(indexOfNode(node->parent), int(i), int(i));
            siblings.erase(siblings.begin() + std::ptrdiff_t(i));
            endRemoveRows();
            emit listedFoldersChanged();
            return;
        }
}

bool XXComputerTreeModel::hasRoot(const std::string &path) const
{
    for (const auto &root : roots_)
        if (root->wrapper->fullPath() == path)
            return true;
    return false;
}

XXFileArray XXComputerTreeModel::roots() const
{
    XXFileArray result;
    for (const auto &root : roots_)
        result.push_back(root->wrapper);
    return result;
}

XXComputerTreeModel::Node *XXComputerTreeModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : nullptr;
}

QModelIndex XXComputerTreeModel::indexOfNode(const Node *node) const
{
    if (!node)
        return {};
    const auto &siblings = node->parent ? node->parent->children : roots_;
    for (std::size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node)
            return createIndex(int(i), 0, const_cast<Node *>(node));
    return {};
}

std::shared_ptr<XXFileWrapper> XXComputerTreeModel::wrapper(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node ? node->wrapper : nullptr;
}

const XXComputerTreeModel::Node *XXComputerTreeModel::findNode(const std::function<bool(const Node &)> &found) const
{
    std::vector<const Node *> pending;
    for (const auto &root : roots_)
        pending.push_back(root.get());
    while (!pending.empty()) {
        const Node *node = pending.back();
        pending.pop_back();
        if (found(*node))
            return node;
        for (const auto &child : node->children)
            pending.push_back(child.get());
    }
    return nullptr;
}

QModelIndex XXComputerTreeModel::indexOfPath(const std::string &path) const
{
    return indexOfNode(findNode([&path](const Node &node) { return node.wrapper->fullPath() == path; }));
}

bool XXComputerTreeModel::isListed(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node && node->listed;
}

void XXComputerTreeModel::ensureListed(const QModelIndex &index, std::function<void()> done)
{
    Node *node = nodeOf(index);
    if (!node)
        return;
    if (node->listed) {
        if (done)
            done();
        return;
    }
    if (done)
        node->waiting.push_back(std::move(done));
    startListing(node);
}

std::weak_ptr<XXComputerTreeModel::Node> XXComputerTreeModel::ownerOf(const Node *node) const
{
    // The owning shared_ptr, so that a node removed meanwhile (volume gone) is noticed.
    const auto &siblings = node->parent ? node->parent->children : roots_;
    for (const auto &sibling : siblings)
        if (sibling.get() == node)
            return sibling;
    return {};
}

void XXComputerTreeModel::startListing(Node *node)
{
    if (node->listed || node->listing)
        return;
    node->listing = true;
    std::weak_ptr<Node> weak = ownerOf(node);
    auto folder = node->wrapper;
    xxplatform::runInBackground(
        this, 0ms,
        [folder] {
            folder->allSubFileArray();  // lists all three arrays once
            folder->sortFile();
            return folder->allSubFolderFileArray();
        },
        [this, weak](const XXFileArray &subFolders) {
            auto owner = weak.lock();
            if (!owner)
                return;
            Node *node = owner.get();
            node->listing = false;
            node->listed = true;
            const QModelIndex parentIndex = indexOfNode(node);
            if (!subFolders.empty()) {
                beginInsertRows(parentIndex, 0, int(subFolders.size()) - 1);
                for (const auto &sub : subFolders) {
                    auto child = std::make_shared<Node>();
                    child->wrapper = sub;
                    child->parent = node;
                    node->children.push_back(std::move(child));
                }
                endInsertRows();
            }
            emit folderListed(parentIndex);
            emit listedFoldersChanged();
            auto waiting = std::move(node->waiting);
            node->waiting.clear();
            for (auto &done : waiting)
                done();
        });
}

std::set<std::string> XXComputerTreeModel::listedFolderPaths() const
{
    std::set<std::string> paths;
    findNode([&paths](const Node &node) {
        if (node.listed)
            paths.insert(node.wrapper->fullPath());
        return false;  // every node
    });
    return paths;
}

void XXComputerTreeModel::refreshFolder(const std::string &path, std::function<void()> done)
{
    const Node *found = nodeOf(indexOfPath(path));
    if (!found || !found->listed)
        return;
    std::weak_ptr<Node> weak = ownerOf(found);
    xxplatform::runInBackground(
        this, 0ms,
        [path] {
            auto fresh = XXFileWrapper::initWithURL(path);
            fresh->allSubFileArray();
            fresh->sortFile();
            return fresh;
        },
        [this, weak, done = std::move(done)](const std::shared_ptr<XXFileWrapper> &fresh) {
            auto owner = weak.lock();
            if (!owner)
                return;
            if (!fresh->isDirectory()) {
                removeNode(owner.get());
                return;
            }
            mergeListing(owner.get(), *fresh);
            if (done)
                done();
        });
}

void XXComputerTreeModel::mergeListing(Node *node, XXFileWrapper &fresh)
{
    XXFileWrapper &folder = *node->wrapper;
    // Folders keep their models: rows, listings and the pane's shown folder hang on them.
    std::unordered_map<std::string, std::shared_ptr<XXFileWrapper>> oldFolders;
    for (const auto &old : folder.allSubFileArray())
        if (old->isDirectory())
            oldFolders.emplace(old->fileName(), old);
    auto keepFolders = [&oldFolders](XXFileArray items) {
        for (auto &item : items)
            if (item->isDirectory())
                if (const auto found = oldFolders.find(item->fileName()); found != oldFolders.end())
                    item = found->second;
        return items;
    };
    XXFileArray all = keepFolders(fresh.allSubFileArray());
    XXFileArray visible = keepFolders(fresh.allWithoutHiddenFileSubFileArray());
    XXFileArray subFolders = keepFolders(fresh.allSubFolderFileArray());
    folder.setAllSubFileArray(std::move(all));
    folder.setAllWithoutHiddenFileSubFileArray(std::move(visible));
    folder.setAllSubFolderFileArray(subFolders);

    // Rows of folders that went, then rows of new ones. Both lists are in one sort order, so
    // the rows that stay are already in place.
    const QModelIndex parentIndex = indexOfNode(node);
    std::unordered_set<const XXFileWrapper *> staying;
    for (const auto &sub : subFolders)
        staying.insert(sub.get());
    bool changed = false;
    for (int row = int(node->children.size()) - 1; row >= 0; --row) {
        if (staying.count(node->children[std::size_t(row)]->wrapper.get()))
            continue;
        beginRemoveRows(parentIndex, row, row);
        node->children.erase(node->children.begin() + row);
        endRemoveRows();
        changed = true;
    }
    for (std::size_t row = 0; row < subFolders.size(); ++row) {
        if (row < node->children.size() && node->children[row]->wrapper == subFolders[row])
            continue;
        auto child = std::make_shared<Node>();
        child->wrapper = subFolders[row];
        child->parent = node;
        beginInsertRows(parentIndex, int(row), int(row));
        node->children.insert(node->children.begin() + std::ptrdiff_t(row), std::move(child));
        endInsertRows();
    }
    if (changed)
        emit listedFoldersChanged();
}

QModelIndex XXComputerTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    const Node *parentNode = nodeOf(parent);
    const auto &children = parentNode ? parentNode->children : roots_;
    if (row >= int(children.size()))
        return {};
    return createIndex(row, 0, children[std::size_t(row)].get());
}

QModelIndex XXComputerTreeModel::parent(const QModelIndex &child) const
{
    const Node *node = nodeOf(child);
    return node ? indexOfNode(node->parent) : QModelIndex();
}

int XXComputerTreeModel::rowCount(const QModelIndex &parent) const
{
    const Node *node = nodeOf(parent);
    return int(node ? node->children.size() : roots_.size());
}

bool XXComputerTreeModel::hasChildren(const QModelIndex &parent) const
{
    const Node *node = nodeOf(parent);
    if (!node)
        return !roots_.empty();
    return node->listed ? !node->children.empty() : node->wrapper->isDirectory();
}

bool XXComputerTreeModel::canFetchMore(const QModelIndex &parent) const
{
    const Node *node = nodeOf(parent);
    return node && !node->listed && !node->listing && node->wrapper->isDirectory();
}

void XXComputerTreeModel::fetchMore(const QModelIndex &parent)
{
    if (Node *node = nodeOf(parent))
        startListing(node);
}

QVariant XXComputerTreeModel::data(const QModelIndex &index, int role) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return {};
    if (role == Qt::DisplayRole) {
        if (!node->title.isEmpty())
            return node->title;
        const std::string &name = node->wrapper->fileName();
        return name.empty() ? QString::fromLocal8Bit(node->wrapper->fullPath().c_str())
                            : QString::fromLocal8Bit(name.c_str());
    }
    if (role == Qt::ToolTipRole)
        return QString::fromLocal8Bit(node->wrapper->fullPath().c_str());
    if (role == Qt::DecorationRole) {
        static const QFileIconProvider provider;
        if (!node->parent && node->title.isEmpty())
            return provider.icon(QFileIconProvider::Drive);
        return provider.icon(QFileIconProvider::Folder);
    }
    return {};
}

Qt::ItemFlags XXComputerTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return {};
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
}

QStringList XXComputerTreeModel::mimeTypes() const
{
    return {xxplatform::dragProtectItemsMimeType};
}
