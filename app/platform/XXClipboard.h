// The clipboard as far as this program owns it. Other programs' clipboard contents are the
// person's: the program clears only what it put there itself.
#pragma once

#include <QString>

class QMimeData;

namespace xxplatform {

// The format that marks clipboard data as ours, also across runs (a clipboard manager may
// keep it after the program ended).
extern const QString ownerMimeType;

// Adds the owner mark; the program calls it on every QMimeData it hands to the clipboard.
void markAsOurs(QMimeData &data);
bool isOurs(const QMimeData *data);

// Hands data (marked as ours) to the clipboard, which takes it over; false when the program
// could not become the clipboard's owner, so other programs do not see the data.
bool setClipboardData(QMimeData *data);

// Clears the clipboard (and the X11 selection) when it holds data of ours; true when it did.
bool clearClipboardIfOurs();

}  // namespace xxplatform
