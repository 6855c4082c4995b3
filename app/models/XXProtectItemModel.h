// The entries of one protected folder (or the search results) as rows of name, date and size,
// for the three protected views. The model keeps its own array of the entries, taken on the
// GUI thread when the pane shows a folder, so a transfer changing the tree on a worker never
// changes the rows under the view.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>

#include "XXProtectFileWrapper.h"

class XXProtectItemModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { nameColumn = 0, dateColumn = 1, sizeColumn = 2, columnCount_ = 3 };

    explicit XXProtectItemModel(QObject *parent = nullptr);

    void setEntries(XXProtectFileArray entries);
    const XXProtectFileArray &entries() const { return entries_; }
    std::shared_ptr<XXProtectFileWrapper> entry(int row) const;
    int rowOf(const XXProtectFileWrapper *entry) const;

    // Thumbnails replace the type icon of image rows; kept in memory only, dropped with the
    // model's entries when the session ends.
    void setThumbnail(const XXProtectFileWrapper *entry, const QPixmap &pixmap);
    bool hasThumbnail(const XXProtectFileWrapper *entry) const;
    void clearThumbnails();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction | Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction | Qt::MoveAction; }
    QStringList mimeTypes() const override;
    // The dragged rows as records (for the computer pane) and as row numbers (for a move onto
    // a folder row); the files for other programs are added once decrypted (XXDragOut.h).
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    static QIcon iconForEntry(const XXProtectFileWrapper &entry);

private:
    XXProtectFileArray entries_;
    QHash<const XXProtectFileWrapper *, QPixmap> thumbnails_;
};
