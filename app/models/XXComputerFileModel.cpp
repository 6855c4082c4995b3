#include "XXComputerFileModel.h"

#include <QDateTime>
#include <QFileIconProvider>
#include <QMimeData>

#include <set>

#include "XXClipboard.h"
#include "XXFileColumns.h"
#include "XXMimeFormats.h"
#include "XXTexts.h"
#include "XXTool.h"

XXComputerFileModel::XXComputerFileModel(QObject *parent) : QAbstractTableModel(parent) {}

void XXComputerFileModel::setItems(XXFileArray items)
{
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
}

std::shared_ptr<XXFileWrapper> XXComputerFileModel::item(int row) const
{
    if (row < 0 || row >= int(items_.size()))
        return nullptr;
    return items_[std::size_t(row)];
}

int XXComputerFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(items_.size());
}

int XXComputerFileModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(columnCount_);
}

QString XXComputerFileModel::dateText(std::int64_t secondsSince1970)
{
    return QDateTime::fromSecsSinceEpoch(secondsSince1970).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QVariant XXComputerFileModel::data(const QModelIndex &index, int role) const
{
    const auto file = item(index.row());
    if (!file)
        return {};
    const auto &attributes = file->fileAttributes();
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case nameColumn:
            return QString::fromLocal8Bit(file->fileName().c_str());
        case dateColumn:
            return attributes ? dateText(attributes->modificationDate) : QString();
        case sizeColumn:
            if (file->isDirectory() || !attributes)
                return QStringLiteral("--");
            return QString::fromStdString(XXTool::formattedFileSize(attributes->fileSize));
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == nameColumn) {
            static const QFileIconProvider provider;
            return provider.icon(QFileInfo(QString::fromLocal8Bit(file->fullPath().c_str())));
        }
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == sizeColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    return {};
}

QVariant XXComputerFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return xxmodels::fileColumnTitle(section, orientation, role);
}

Qt::ItemFlags XXComputerFileModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (const auto file = item(index.row()); file && file->isDirectory())
        flags |= Qt::ItemIsDropEnabled;
    return flags;
}

QStringList XXComputerFileModel::mimeTypes() const
{
    return {xxplatform::dragProtectItemsMimeType};
}

QMimeData *XXComputerFileModel::mimeData(const QModelIndexList &indexes) const
{
    std::set<int> rows;
    for (const QModelIndex &index : indexes)
        rows.insert(index.row());
    QList<xxplatform::XXItemRecord> records;
    std::vector<std::string> paths;
    for (int row : rows)
        if (const auto file = item(row)) {
            records.append({file->fullPath(), file->isDirectory(), true});
            paths.push_back(file->fullPath());
        }
    if (records.isEmpty())
        return nullptr;
    auto *data = new QMimeData;
    xxplatform::setLocalFiles(*data, paths, false);
    data->setData(xxplatform::dragComputerItemsMimeType, xxplatform::encodeRecords(records, false));
    xxplatform::markAsOurs(*data);
    return data;
}
