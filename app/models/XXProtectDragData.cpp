#include "XXProtectDragData.h"

#include "XXMimeFormats.h"

XXProtectDragData::XXProtectDragData(XXProtectFileArray entries, Stager stager)
    : entries_(std::move(entries)), stager_(std::move(stager))
{}

QStringList XXProtectDragData::formats() const
{
    QStringList all = QMimeData::formats();
    if (stager_)
        all << xxplatform::uriListMimeType << xxplatform::gnomeCopiedFilesMimeType;
    return all;
}

bool XXProtectDragData::hasFormat(const QString &mimeType) const
{
    return formats().contains(mimeType);
}

const std::vector<std::string> &XXProtectDragData::stagedPaths() const
{
    if (answered_)
        return paths_;
    if (!staged_.valid())
        staged_ = stager_(entries_);
    if (staged_.wait_for(answerDeadline) == std::future_status::ready) {
        paths_ = staged_.get();
        answered_ = true;
    }
    return paths_;
}

QVariant XXProtectDragData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (!stager_ ||
        (mimeType != xxplatform::uriListMimeType && mimeType != xxplatform::gnomeCopiedFilesMimeType))
        return QMimeData::retrieveData(mimeType, type);
    QMimeData files;
    xxplatform::setLocalFiles(files, stagedPaths(), false);
    return files.data(mimeType);
}
