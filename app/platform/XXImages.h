// Named images ("main37") from the resources' SVG files. A missing image is a null icon and
// shows nothing.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace xxplatform {

QIcon namedIcon(const QString &name);
// Rendered for the screen's pixel ratio; a null pixmap when the image is missing.
QPixmap namedPixmap(const QString &name, QSize size, qreal devicePixelRatio = 1.0);
// The application's own icon, for windows and the task switcher.
QIcon applicationIcon();

}  // namespace xxplatform
