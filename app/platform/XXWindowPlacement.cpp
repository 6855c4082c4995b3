#include "XXWindowPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace xxplatform {

namespace {

const char *const placedProperty = "xxWindowPlaced";

class WindowCentring final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Show comes before the window is mapped, so the window manager gets the place at once.
        if (event->type() == QEvent::Show && watched->isWidgetType())
            place(*static_cast<QWidget *>(watched));
        return false;
    }

private:
    static void place(QWidget &window)
    {
        const Qt::WindowType type = window.windowType();
        if (!window.isWindow() || (type != Qt::Window && type != Qt::Dialog && type != Qt::Sheet) ||
            window.property(placedProperty).toBool())
            return;
        window.setProperty(placedProperty, true);
        const QWidget *owner = window.parentWidget() ? window.parentWidget()->window() : nullptr;
        const bool ownerShown = owner && owner->isVisible();
        QScreen *screen = ownerShown ? owner->screen() : window.screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect available = screen->availableGeometry();
        const QRect over = ownerShown ? owner->frameGeometry() : available;
        // The frame is known only where the window manager told it (not yet, on X11).
        const QSize frame = window.frameGeometry().size().expandedTo(window.size());
        const QSize margins = frame - window.size();
        const QRect placed = centredGeometry(frame, over, available);
        if (placed.size() != frame)
            window.resize(placed.size() - margins);
        window.move(placed.topLeft());
    }
};

}  // namespace

QRect centredGeometry(QSize window, const QRect &over, const QRect &available)
{
    const QSize size = window.boundedTo(available.size());
    QRect placed(QPoint(), size);
    placed.moveCenter(over.center());
    if (placed.right() > available.right())
        placed.moveRight(available.right());
    if (placed.bottom() > available.bottom())
        placed.moveBottom(available.bottom());
    if (placed.left() < available.left())
        placed.moveLeft(available.left());
    if (placed.top() < available.top())
        placed.moveTop(available.top());
    return placed;
}

void installWindowCentring(QObject *application)
{
    application->installEventFilter(new WindowCentring(application));
}

}  // namespace xxplatform
