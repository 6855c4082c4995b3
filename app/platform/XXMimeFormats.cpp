#include "XXMimeFormats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>

#include "XXClipboard.h"
#include "XXFileWrapper.h"

namespace xxplatform {

const QString protectItemsMimeType = QStringLiteral("application/x-coffervale-protected-items");
const QString dragProtectItemsMimeType = QStringLiteral("application/x-coffervale-dragged-protected-items");
const QString dragProtectRowsMimeType = QStringLiteral("application/x-coffervale-dragged-protected-rows");
const QString dragComputerItemsMimeType = QStringLiteral("application/x-coffervale-dragged-computer-items");
const QString uriListMimeType = QStringLiteral("text/uri-list");
const QString gnomeCopiedFilesMimeType = QStringLiteral("x-special/gnome-copied-files");
const QString kdeCutSelectionMimeType = QStringLiteral("application/x-kde-cutselection");

namespace {

// Paths are bytes; JSON strings are Unicode. Latin-1 maps every byte to one code point, so
// any name goes through unchanged.
QString pathToJson(const std::string &path)
{
    return QString::fromLatin1(path.data(), qsizetype(path.size()));
}

std::string pathFromJson(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/';
}

// The local path of a "file:" URL, or "" for anything else.
std::string localPathOfURL(QByteArray line)
{
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith('#'))
        return {};
    if (!line.startsWith("file:"))
        return {};
    QByteArray rest = line.mid(5);
    if (rest.startsWith("//")) {
        rest = rest.mid(2);
        const qsizetype slash = rest.indexOf('/');
        if (slash < 0)
            return {};
        const QByteArray host = rest.left(slash);
        if (!host.isEmpty() && host != "localhost")
            return {};
        rest = rest.mid(slash);
    }
    if (!rest.startsWith('/'))
        return {};
    // Names that are not UTF-8 come as escaped bytes and stay bytes.
    return XXFileWrapper::percentDecodedBytes(std::string_view(rest.constData(), std::size_t(rest.size())))
        .value_or(std::string());
}

std::vector<std::string> pathsOfLines(const QList<QByteArray> &lines)
{
    std::vector<std::string> paths;
    for (const QByteArray &line : lines) {
        std::string path = localPathOfURL(line);
        if (!path.empty())
            paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace

QByteArray encodeRecords(const QList<XXItemRecord> &records, bool withCopyFlag)
{
    QJsonArray array;
    for (const XXItemRecord &record : records) {
        QJsonObject object{{QStringLiteral("path"), pathToJson(record.path)},
                           {QStringLiteral("isDir"), record.isDir}};
        if (withCopyFlag)
            object.insert(QStringLiteral("isCopy"), record.isCopy);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QList<XXItemRecord> decodeRecords(const QByteArray &json)
{
    QList<XXItemRecord> records;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        if (!object.value(QStringLiteral("path")).isString())
            continue;
        XXItemRecord record;
        record.path = pathFromJson(object.value(QStringLiteral("path")).toString());
        record.isDir = object.value(QStringLiteral("isDir")).toBool();
        record.isCopy = object.value(QStringLiteral("isCopy")).toBool(true);
        records.append(record);
    }
    return records;
}

QByteArray encodeRows(const QList<int> &rows)
{
    QJsonArray array;
    for (int row : rows)
        array.append(row);
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QList<int> decodeRows(const QByteArray &json)
{
    QList<int> rows;
    for (const QJsonValue &value : QJsonDocument::fromJson(json).array())
        if (value.isDouble() && value.toInt(-1) >= 0)
            rows.append(value.toInt());
    return rows;
}

QByteArray fileURLForPath(const std::string &path)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray url("file://");
    for (unsigned char c : path) {
        if (isUnreserved(c)) {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

void setLocalFiles(QMimeData &data, const std::vector<std::string> &paths, bool isCut)
{
    QByteArray uriList;
    QByteArray gnome(isCut ? "cut" : "copy");
    for (const std::string &path : paths) {
        const QByteArray url = fileURLForPath(path);
        uriList += url + "\r\n";
        gnome += '\n' + url;
    }
    data.setData(uriListMimeType, uriList);
    data.setData(gnomeCopiedFilesMimeType, gnome);
    data.setData(kdeCutSelectionMimeType, isCut ? "1" : "0");
}

std::vector<std::string> localFilesFrom(const QMimeData *data)
{
    if (!data)
        return {};
    if (data->hasFormat(uriListMimeType))
        return pathsOfLines(data->data(uriListMimeType).split('\n'));
    if (data->hasFormat(gnomeCopiedFilesMimeType)) {
        QList<QByteArray> lines = data->data(gnomeCopiedFilesMimeType).split('\n');
        if (!lines.isEmpty())
            lines.removeFirst();  // "copy" or "cut"
        return pathsOfLines(lines);
    }
    return {};
}

bool offersForeignFiles(const QMimeData *data)
{
    return data && !isOurs(data) && !localFilesFrom(data).empty();
}

}  // namespace xxplatform
