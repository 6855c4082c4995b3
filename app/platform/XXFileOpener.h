// Opens a computer file with the desktop's default application. Desktops differ in what they
// offer, so the openers are tried in turn: xdg-open, the desktop portal
// (org.freedesktop.portal.OpenURI.OpenFile on the session bus), then `gio open`. The first that
// takes the file wins; none answering is reported, so the screen can say what is missing.
#pragma once

#include <QString>

#include <functional>

class QObject;

namespace xxplatform {

enum class XXOpener { none, xdgOpen, portal, gio };

// Tries the openers in the background of the event loop (processes and D-Bus calls are
// asynchronous) and runs done on context's thread with the one that took the file, or none.
// Nothing runs once context is gone.
void openWithDefaultApplication(QObject *context, const QString &path, std::function<void(XXOpener)> done);

}  // namespace xxplatform
