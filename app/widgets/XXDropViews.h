// Item views whose drops their pane decides: every drag-enter, -move and drop asks the pane's
// handler. A pane may also start the drags itself (a drag starter): the view then hands it
// the dragged rows and ignores the pointer until the button is let go.
#pragma once

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMouseEvent>
#include <QListView>
#include <QTreeView>

#include <functional>

class QMimeData;

// What a view asks its pane about drops: whether the data may be dropped on the item
// (invalid: empty space), and the drop itself.
struct XXDropHandler {
    std::function<bool(const QMimeData *data, const QModelIndex &index)> canDrop;
    std::function<void(const QMimeData *data, const QModelIndex &index)> drop;
};

template <class View>
class XXDropView : public View {
public:
    explicit XXDropView(QWidget *parent = nullptr) : View(parent)
    {
        this->setDragEnabled(true);
        this->setAcceptDrops(true);
        this->setDropIndicatorShown(true);
        this->setDragDropMode(QAbstractItemView::DragDrop);
        this->setDefaultDropAction(Qt::CopyAction);
        this->setSelectionMode(QAbstractItemView::ExtendedSelection);
        this->setContextMenuPolicy(Qt::CustomContextMenu);
    }
    void setDropHandler(XXDropHandler handler) { handler_ = std::move(handler); }
    void setDragStarter(std::function<void(const QModelIndexList &rows)> starter) { starter_ = std::move(starter); }

protected:
    void startDrag(Qt::DropActions actions) override
    {
        if (!starter_) {
            View::startDrag(actions);
            return;
        }
        dragPending_ = true;
        starter_(this->selectionModel()->selectedRows());
    }
    // While the pane prepares the drag, moving the held button selects nothing.
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (dragPending_ && event->buttons() != Qt::NoButton)
            return;
        dragPending_ = false;
        View::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        dragPending_ = false;
        View::mouseReleaseEvent(event);
    }
    void dragEnterEvent(QDragEnterEvent *event) override { decide(event); }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        View::dragMoveEvent(event);  // scrolling and the indicator
        decide(event);
    }
    void dropEvent(QDropEvent *event) override
    {
        const QModelIndex index = this->indexAt(event->position().toPoint());
        if (!handler_.drop) {
            event->ignore();
            return;
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
        handler_.drop(event->mimeData(), index);
    }

private:
    void decide(QDropEvent *event)
    {
        const bool ok = handler_.canDrop &&
            handler_.canDrop(event->mimeData(), this->indexAt(event->position().toPoint()));
        if (ok) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        } else {
            event->ignore();
        }
    }
    XXDropHandler handler_;
    std::function<void(const QModelIndexList &rows)> starter_;
    bool dragPending_ = false;
};

using XXDropListView = XXDropView<QListView>;
using XXDropTreeView = XXDropView<QTreeView>;
