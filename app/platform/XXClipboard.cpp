#include "XXClipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>

namespace xxplatform {

const QString ownerMimeType = QStringLiteral("application/x-coffervale-owner");

void markAsOurs(QMimeData &data)
{
    data.setData(ownerMimeType, QByteArray::number(QCoreApplication::applicationPid()));
}

bool isOurs(const QMimeData *data)
{
    return data && data->hasFormat(ownerMimeType);
}

bool setClipboardData(QMimeData *data)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard || !data)
        return false;
    markAsOurs(*data);
    clipboard->setMimeData(data);
    // The clipboard answers with our own object only while we own it; after a refused claim
    // it reads the other program's data.
    return clipboard->mimeData() == data;
}

bool clearClipboardIfOurs()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    bool cleared = false;
    for (auto mode : {QClipboard::Clipboard, QClipboard::Selection}) {
        if (mode == QClipboard::Selection && !clipboard->supportsSelection())
            continue;
        if (isOurs(clipboard->mimeData(mode))) {
            clipboard->clear(mode);
            cleared = true;
        }
    }
    return cleared;
}

}  // namespace xxplatform
