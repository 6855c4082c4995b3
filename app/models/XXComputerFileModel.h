// The visible (non-hidden) items of one computer folder as rows of name, date and size.
// The folder is listed on a worker before it is handed here; the model keeps its own array.
#pragma once

#include <QAbstractTableModel>

#include "XXFileWrapper.h"

class XXComputerFileModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { nameColumn = 0, dateColumn = 1, sizeColumn = 2, columnCount_ = 3 };

    explicit XXComputerFileModel(QObject *parent = nullptr);

    void setItems(XXFileArray items);
    const XXFileArray &items() const { return items_; }
    std::shared_ptr<XXFileWrapper> item(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
    QStringList mimeTypes() const override;
    // Records for the protected pane, and the files' URLs for other programs.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    static QString dateText(std::int64_t secondsSince1970);

private:
    XXFileArray items_;
};
