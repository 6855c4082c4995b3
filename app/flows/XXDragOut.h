// A drag of vault entries out of the protected pane. A program that takes the drop reads the
// files' addresses at once (X11 gives a few seconds, Wayland one) and copies them right
// away, so a copy still being decrypted arrives short or not at all. The dragged entries are
// therefore decrypted into the paste cache as soon as the drag starts, with a progress
// dialog for large ones, and the drag is offered only once every copy is whole. The drag
// always carries the records, which the computer pane exports through the pipeline.
//
// When the button was let go before the copies were ready, nothing is dropped: the person is
// told to drag again, and the next drag of the same entries starts at once.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "XXProtectFileWrapper.h"

class QAbstractItemView;
class QMimeData;
class QWidget;
class XXDiskFileManager;
class XXPasteStaging;

class XXDragOut final : public QObject {
    Q_OBJECT
public:
    // Selections larger than this show a progress dialog while they are decrypted.
    static constexpr std::uint64_t progressThreshold = 16u << 20;

    XXDragOut(QWidget *pane, XXDiskFileManager &manager);

    // The drag's start, from the view whose rows are dragged: data holds the records and rows
    // (it is taken over), entries the dragged entries.
    void start(QAbstractItemView *view, QMimeData *data, const XXProtectFileArray &entries);
    // Stops a decryption under way (the session ends); nothing is offered.
    void cancel();
    bool isStaging() const { return staging_ != nullptr; }

    // What runs before the decryption (the paste cache is shared with the clipboard).
    void setBeforeStaging(std::function<void()> block) { beforeStaging_ = std::move(block); }
    // Tests replace the drag itself and the button's state; by default QDrag::exec, and the
    // left button as the window system last reported it.
    void setDragRunner(std::function<void(QAbstractItemView *, QMimeData *)> runner) { runDrag_ = std::move(runner); }
    void setButtonHeld(std::function<bool()> held) { buttonHeld_ = std::move(held); }

private:
    void offer(QAbstractItemView *view, QMimeData *data, const std::vector<std::string> &paths);
    bool stagedFor(const XXProtectFileArray &entries) const;

    QPointer<QWidget> pane_;
    XXDiskFileManager &manager_;
    std::shared_ptr<XXPasteStaging> staging_;  // the decryption under way
    XXProtectFileArray stagedEntries_;  // the last complete one, kept for a second drag
    std::vector<std::string> stagedPaths_;
    std::function<void()> beforeStaging_;
    std::function<void(QAbstractItemView *, QMimeData *)> runDrag_;
    std::function<bool()> buttonHeld_;
};
