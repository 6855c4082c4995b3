#include "XXThumbnailLoader.h"

#include <QBuffer>
#include <QImageReader>

#include <chrono>

#include "XXDiskFileManager.h"
#include "XXProtectFileReader.h"
#include "XXProtectItemModel.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {
constexpr std::int64_t pictureType = 2;
}

XXThumbnailLoader::XXThumbnailLoader(XXProtectItemModel *model, QObject *parent)
    : QObject(parent), model_(model)
{}

void XXThumbnailLoader::request(const XXProtectFileArray &entries)
{
    queue_.clear();
    for (const auto &entry : entries) {
        if (entry->isDirectory() || entry->fileType() != pictureType || entry->fileSize() > maxPictureBytes)
            continue;
        if (auto found = cache_.constFind(entry.get());
            found != cache_.constEnd() && found->entry.lock() == entry) {
            if (!model_->hasThumbnail(entry.get()))
                model_->setThumbnail(entry.get(), found->pixmap);
            continue;
        }
        queue_.push_back(entry);
    }
    startNext();
}

void XXThumbnailLoader::clear()
{
    queue_.clear();
    cache_.clear();
    model_->clearThumbnails();
}

QImage XXThumbnailLoader::scaledThumbnail(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(thumbnailSize, thumbnailSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > thumbnailSize || image.height() > thumbnailSize))
        image = image.scaled(thumbnailSize, thumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

void XXThumbnailLoader::startNext()
{
    if (working_)
        return;
    std::shared_ptr<XXProtectFileWrapper> entry;
    while (!queue_.empty() && !entry) {
        entry = queue_.front().lock();
        queue_.pop_front();
    }
    if (!entry)
        return;
    working_ = true;
    xxplatform::runInBackground(
        this, 0ms,
        [entry] {
            const auto content =
                readProtectFileContent(XXDiskFileManager::shareDiskFileManager(), *entry, maxPictureBytes);
            if (!content)
                return QImage();
            return scaledThumbnail(QByteArray(content->data(), qsizetype(content->size())));
        },
        [this, entry](const QImage &image) {
            working_ = false;
            if (!image.isNull()) {
                const QPixmap pixmap = QPixmap::fromImage(image);
                cache_.insert(entry.get(), {entry, pixmap});
                model_->setThumbnail(entry.get(), pixmap);
                emit thumbnailReady(entry.get());
            }
            startNext();
        });
}
