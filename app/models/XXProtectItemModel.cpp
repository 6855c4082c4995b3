#include "XXProtectItemModel.h"

#include <QFileIconProvider>
#include <QMimeData>

#include <set>

#include "XXClipboard.h"
#include "XXFileColumns.h"
#include "XXImages.h"
#include "XXMimeFormats.h"
#include "XXTexts.h"
#include "XXTool.h"

XXProtectItemModel::XXProtectItemModel(QObject *parent) : QAbstractTableModel(parent) {}

void XXProtectItemModel::setEntries(XXProtectFileArray entries)
{
    beginResetModel();
    entries_ = std::move(entries);
    // Thumbnails of entries that left stay valid only while their entry is alive somewhere;
    // keys are addresses, so drop those no longer shown.
    QHash<const XXProtectFileWrapper *, QPixmap> kept;
    for (const auto &entry : entries_)
        if (auto found = thumbnails_.constFind(entry.get()); found != thumbnails_.constEnd())
            kept.insert(entry.get(), found.value());
    thumbnails_.swap(kept);
    endResetModel();
}

std::shared_ptr<XXProtectFileWrapper> XXProtectItemModel::entry(int row) const
{
    if (row < 0 || row >= int(entries_.size()))
        return nullptr;
    return entries_[std::size_t(row)];
}

int XXProtectItemModel::rowOf(const XXProtectFileWrapper *entry) const
{
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].get() == entry)
            return int(i);
    return -1;
}

void XXProtectItemModel::setThumbnail(const XXProtectFileWrapper *entry, const QPixmap &pixmap)
{
    const int row = rowOf(entry);
    if (row < 0)
        return;
    thumbnails_.insert(entry, pixmap);
    emit dataChanged(index(row, nameColumn), index(row, nameColumn), {Qt::DecorationRole});
}

bool XXProtectItemModel::hasThumbnail(const XXProtectFileWrapper *entry) const
{
    return thumbnails_.contains(entry);
}

void XXProtectItemModel::clearThumbnails()
{
    thumbnails_.clear();
}

int XXProtectItemModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(entries_.size());
}

int XXProtectItemModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(columnCount_);
}

QIcon XXProtectItemModel::iconForEntry(const XXProtectFileWrapper &entry)
{
    const std::string name = entry.iconName();
    if (entry.isDirectory() && (name == "NSFolder" || name.empty())) {
        static const QIcon folder = QFileIconProvider().icon(QFileIconProvider::Folder);
        return folder;
    }
    QIcon icon = xxplatform::namedIcon(QString::fromStdString(name));
    if (icon.isNull())
        icon = QFileIconProvider().icon(QFileIconProvider::File);
    return icon;
}

QVariant XXProtectItemModel::data(const QModelIndex &index, int role) const
{
    const auto item = entry(index.row());
    if (!item || index.column() >= columnCount_)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case nameColumn:
            return item->isRootWrapper() ? xxplatform::text("String_55")
                                         : QString::fromUtf8(item->fileName().c_str());
        case dateColumn:
            return QString::fromStdString(item->createDateString());
        case sizeColumn:
            if (item->isDirectory())
                return QStringLiteral("--");
            // A write that never finished: its size is what was meant, not what is there.
            if (item->isUnfinished())
                return xxplatform::text("String_198");
            return QString::fromStdString(XXTool::shareTool().formattedFileSize(item->fileSize()));
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == nameColumn) {
            if (auto found = thumbnails_.constFind(item.get()); found != thumbnails_.constEnd())
                return QIcon(found.value());
            return iconForEntry(*item);
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == nameColumn)
            return QString::fromUtf8(item->fileName().c_str());
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == sizeColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    return {};
}

QVariant XXProtectItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return xxmodels::fileColumnTitle(section, orientation, role);
}

Qt::ItemFlags XXProtectItemModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const auto item = entry(index.row());
    if (item && !item->isRootWrapper())
        flags |= Qt::ItemIsDragEnabled;
    if (item && item->isDirectory())
        flags |= Qt::ItemIsDropEnabled;
    return flags;
}

QStringList XXProtectItemModel::mimeTypes() const
{
    return {xxplatform::dragProtectItemsMimeType, xxplatform::dragProtectRowsMimeType};
}

QMimeData *XXProtectItemModel::mimeData(const QModelIndexList &indexes) const
{
    std::set<int> rows;
    for (const QModelIndex &index : indexes)
        if (auto item = entry(index.row()); item && !item->isRootWrapper())
            rows.insert(index.row());
    if (rows.empty())
        return nullptr;
    QList<xxplatform::XXItemRecord> records;
    QList<int> rowList;
    for (int row : rows) {
        const auto &item = entries_[std::size_t(row)];
        records.append({item->fullPath(), item->isDirectory(), true});
        rowList.append(row);
    }
    auto *data = new QMimeData;
    data->setData(xxplatform::dragProtectItemsMimeType, xxplatform::encodeRecords(records, false));
    data->setData(xxplatform::dragProtectRowsMimeType, xxplatform::encodeRows(rowList));
    xxplatform::markAsOurs(*data);
    return data;
}
