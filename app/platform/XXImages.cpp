#include "XXImages.h"

#include <QPainter>
#include <QSvgRenderer>

#include "XXResources.h"

namespace xxplatform {

QIcon namedIcon(const QString &name)
{
    const auto path = xxtool::imagePathForName(name.toStdString());
    if (path.empty())
        return {};
    return QIcon(QString::fromStdString(path.string()));
}

QPixmap namedPixmap(const QString &name, QSize size, qreal devicePixelRatio)
{
    const auto path = xxtool::imagePathForName(name.toStdString());
    if (path.empty() || size.isEmpty())
        return {};
    QSvgRenderer renderer(QString::fromStdString(path.string()));
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon applicationIcon()
{
    return namedIcon(QStringLiteral("coffervale"));
}

}  // namespace xxplatform
