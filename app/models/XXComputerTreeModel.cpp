#include "XXComputerTreeModel.h"

#include <QFileIconProvider>

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
    for (std::size_t i = 0; i < roots_.size(); ++i)
        if (roots_[i]->wrapper->fullPath() == path) {
            beginRemoveRows({}, int(i), int(i));
            roots_.erase(roots_.begin() + std::ptrdiff_t(i));
            endRemoveRows();
            return true;
        }
    return false;
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

QModelIndex XXComputerTreeModel::indexOfPath(const std::string &path) const
{
    std::vector<const Node *> pending;
    for (const auto &root : roots_)
        pending.push_back(root.get());
    while (!pending.empty()) {
        const Node *node = pending.back();
        pending.pop_back();
        if (node->wrapper->fullPath() == path)
            return indexOfNode(node);
        for (const auto &child : node->children)
            pending.push_back(child.get());
    }
    return {};
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

void XXComputerTreeModel::startListing(Node *node)
{
    if (node->listed || node->listing)
        return;
    node->listing = true;
    std::weak_ptr<Node> weak;
    // Find the owning shared_ptr so a node removed meanwhile (volume gone) is noticed.
    const auto &siblings = node->parent ? node->parent->children : roots_;
    for (const auto &sibling : siblings)
        if (sibling.get() == node)
            weak = sibling;
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
            auto waiting = std::move(node->waiting);
            node->waiting.clear();
            for (auto &done : waiting)
                done();
        });
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
