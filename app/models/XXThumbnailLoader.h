// Thumbnails of the pictures in the protected pane: each picture is read from the vault into
// memory and scaled on a worker, one at a time, and kept in memory only (never written to
// disk in the clear); the cache goes with the loader at lock.
#pragma once

#include <QHash>
#include <QObject>
#include <QPixmap>

#include <deque>
#include <memory>

#include "XXProtectFileWrapper.h"

class XXProtectItemModel;

class XXThumbnailLoader final : public QObject {
    Q_OBJECT
public:
    static constexpr int thumbnailSize = 96;
    // Larger pictures keep their type icon: reading them whole costs too much for a thumbnail.
    static constexpr std::size_t maxPictureBytes = 64u << 20;

    XXThumbnailLoader(XXProtectItemModel *model, QObject *parent = nullptr);

    // Shows the cached thumbnails of these entries and queues the pictures still missing
    // (the previous queue is dropped: only what is shown matters).
    void request(const XXProtectFileArray &entries);
    void clear();
    int cachedCount() const { return int(cache_.size()); }

    // The scaled picture of encoded bytes, or a null image; any thread.
    static QImage scaledThumbnail(const QByteArray &bytes);

signals:
    void thumbnailReady(const XXProtectFileWrapper *entry);

private:
    struct Cached {
        std::weak_ptr<XXProtectFileWrapper> entry;
        QPixmap pixmap;
    };
    void startNext();

    XXProtectItemModel *model_;
    std::deque<std::weak_ptr<XXProtectFileWrapper>> queue_;
    QHash<const XXProtectFileWrapper *, Cached> cache_;
    bool working_ = false;
};
