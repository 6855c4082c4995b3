// The clipboard and drag formats of the window, ours and the file managers'.
//
// Ours carry item records as JSON and never file contents, so nothing is decrypted until a
// pipeline runs. The file managers' formats carry local file URLs: text/uri-list (every
// program), x-special/gnome-copied-files (Nautilus, Thunar, Caja, Nemo: "copy" or "cut", then
// one URL a line, no trailing newline) and application/x-kde-cutselection (Dolphin).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <string>
#include <vector>

class QMimeData;

namespace xxplatform {

// Copy and cut inside the protected area: records with isCopy.
extern const QString protectItemsMimeType;
// A drag from a protected view: records, accepted by the computer pane (export).
extern const QString dragProtectItemsMimeType;
// A drag from a protected view: the dragged rows, accepted on a folder row (move).
extern const QString dragProtectRowsMimeType;
// A drag from the computer pane: records, accepted by a protected view (import).
extern const QString dragComputerItemsMimeType;

extern const QString uriListMimeType;
extern const QString gnomeCopiedFilesMimeType;
extern const QString kdeCutSelectionMimeType;

// One item handed between the panes: its full path (bytes, as the tree or the file system
// has them) and whether it is a folder; isCopy only on copy and cut records.
struct XXItemRecord {
    std::string path;
    bool isDir = false;
    bool isCopy = true;
    bool operator==(const XXItemRecord &) const = default;
};

QByteArray encodeRecords(const QList<XXItemRecord> &records, bool withCopyFlag);
// Records that are not objects with a string "path" are dropped.
QList<XXItemRecord> decodeRecords(const QByteArray &json);

QByteArray encodeRows(const QList<int> &rows);
QList<int> decodeRows(const QByteArray &json);

// Offers local files to other programs in the three file-manager formats. Paths are bytes:
// names that are not UTF-8 are percent-escaped byte for byte.
void setLocalFiles(QMimeData &data, const std::vector<std::string> &paths, bool isCut);
QByteArray fileURLForPath(const std::string &path);

// The local files another program offers: from text/uri-list, else from
// x-special/gnome-copied-files. "#" lines, non-file URLs and remote hosts are ignored;
// percent escapes are decoded to bytes, so names that are not UTF-8 survive; a URL with a
// malformed escape or a NUL byte is ignored.
std::vector<std::string> localFilesFrom(const QMimeData *data);
// True when the data holds files another program offered (and is not one of our own items).
bool offersForeignFiles(const QMimeData *data);

}  // namespace xxplatform
