// The protected pane of the unlocked screen: the vault's tree shown in one of three views (a
// name list, thumbnails, a detail list), with the history of visited folders, the sort order,
// the search results, opening through the cache, and the drops onto the pane. It tells the
// screen what happened through its signals and never calls up into it.
#pragma once

#include <QPointer>
#include <QWidget>

#include <deque>
#include <memory>
#include <vector>

#include "XXFileWrapper.h"
#include "XXProtectFileWrapper.h"

class QItemSelectionModel;
class QMimeData;
class QStackedWidget;
class QAbstractItemView;
class XXDragOut;
class XXProtectItemModel;
class XXThumbnailLoader;

class XXProtectTabViewController final : public QWidget {
    Q_OBJECT
public:
    enum Page { emptyPage = 0, listPage = 1, thumbPage = 2, detailPage = 3 };

    explicit XXProtectTabViewController(QWidget *parent = nullptr);
    ~XXProtectTabViewController() override;

    // The widget the busy indicator of opening a file covers (the whole screen).
    void setHostView(QWidget *host) { host_ = host; }

    // Loads the tree on a worker and shows the detail list.
    void loadTree();
    bool isLoaded() const { return root_ != nullptr; }

    const std::shared_ptr<XXProtectFileWrapper> &rootProtectFileWrapper() const { return root_; }
    std::shared_ptr<XXProtectFileWrapper> currentProtectFileWrapper() const;
    const XXProtectFileArray &historyShowWrappers() const { return history_; }
    int historyIndex() const { return historyIndex_; }
    // "/" for the root entry, else the shown folder's full path.
    std::string currentFolderPath() const;
    bool isEnterUSB() const;
    int currentPageIndex() const { return currentPageIndex_; }
    std::int64_t sortType() const { return sortType_; }
    const XXProtectFileArray &selectedFiles() const { return selectedFiles_; }
    bool isDisplaySearchResult() const { return isDisplaySearchResult_; }
    XXProtectItemModel *model() const { return model_; }
    XXDragOut *dragOut() const { return dragOut_; }
    QAbstractItemView *currentView() const;
    QAbstractItemView *viewForPage(int page) const;

    void reloadData();
    void insertFileWrappers(const XXProtectFileArray &entries);
    void showWithIndex(int page);
    void enterFolder(const std::shared_ptr<XXProtectFileWrapper> &folder);
    void goBack();
    void goPrevious();
    void goRoot();
    void selectedAllFile();
    void deselectedAllFile();
    void sortProtectFileWithType(std::int64_t type);
    void showSearchResults(XXProtectFileArray results);
    void endSearch();
    void openFile(const std::shared_ptr<XXProtectFileWrapper> &file);
    void showProtectFileDetailInfo();

    // Drops (public for the tests: QTest cannot start a real drag).
    bool canDrop(const QMimeData *data, int row) const;
    void drop(const QMimeData *data, int row);

signals:
    void treeLoaded(bool success);
    void contextMenuRequested(const QPoint &globalPos);
    void selectionChanged();
    // The shown folder changed: entered, back, forward, home, or the tree loaded.
    void locationChanged();
    void folderEntered();
    void pageShown(int page);
    // A drag out of the pane is about to stage its copies in the paste cache.
    void dragOutStarting();
    // Drops: files to import into the folder, entries to move into it.
    void importRequested(const XXFileArray &files, const std::shared_ptr<XXProtectFileWrapper> &destination);
    void moveRequested(const XXProtectFileArray &entries, const std::shared_ptr<XXProtectFileWrapper> &destination);

private:
    void readSelection();
    void activated(const QModelIndex &index);
    std::shared_ptr<XXProtectFileWrapper> dropTarget(int row) const;
    void requestThumbnails();
    // A copy opened with another program was saved: it replaces its entry (safely; see
    // XXWriteBack.h), unless it is as it was made.
    void writeBack(const std::shared_ptr<XXProtectFileWrapper> &entry, const std::string &path);
    void runNextWriteBack();

    QPointer<QWidget> host_;
    std::shared_ptr<XXProtectFileWrapper> root_;
    XXProtectFileArray history_;
    int historyIndex_ = -1;
    int currentPageIndex_ = emptyPage;
    std::int64_t sortType_ = 0;
    XXProtectFileArray searchResults_;
    bool isDisplaySearchResult_ = false;
    XXProtectFileArray selectedFiles_;
    // The shown folder's entries in the order last shown, outside a search too.
    std::weak_ptr<XXProtectFileWrapper> shownFolder_;
    XXProtectFileArray shownOrder_;

    XXProtectItemModel *model_;
    QItemSelectionModel *selection_;
    QStackedWidget *pages_;
    std::vector<QAbstractItemView *> views_;  // by page index; [0] is nullptr
    XXThumbnailLoader *thumbnails_ = nullptr;
    XXDragOut *dragOut_ = nullptr;
    std::deque<std::pair<std::shared_ptr<XXProtectFileWrapper>, std::string>> writeBackQueue_;
};
