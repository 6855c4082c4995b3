#include "XXProtectTabViewController.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <chrono>
#include <unordered_map>

#include "XXActivityIndicator.h"
#include "XXClipboard.h"
#include "XXDiskFileManager.h"
#include "XXFileOpener.h"
#include "XXFolderDetailInfoView.h"
#include "XXMimeFormats.h"
#include "XXDragOut.h"
#include "XXProtectItemModel.h"
#include "XXDropViews.h"
#include "XXReminderView.h"
#include "XXTexts.h"
#include "XXThumbnailLoader.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

namespace {

XXDiskFileManager &manager()
{
    return XXDiskFileManager::shareDiskFileManager();
}

}  // namespace

XXProtectTabViewController::XXProtectTabViewController(QWidget *parent)
    : QWidget(parent), model_(new XXProtectItemModel(this)),
      selection_(new QItemSelectionModel(model_, this)), pages_(new QStackedWidget)
{
    setObjectName(QStringLiteral("XXProtectTabViewController"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);
    pages_->addWidget(new QWidget);  // the empty page
    views_.push_back(nullptr);

    auto *list = new XXDropListView;
    list->setObjectName(QStringLiteral("XXDropListViewController"));
    list->setViewMode(QListView::ListMode);
    list->setUniformItemSizes(true);
    auto *thumb = new XXDropListView;
    thumb->setObjectName(QStringLiteral("XXProtectThumbViewController"));
    thumb->setViewMode(QListView::IconMode);
    thumb->setIconSize(QSize(96, 96));
    thumb->setGridSize(QSize(128, 132));
    thumb->setResizeMode(QListView::Adjust);
    thumb->setMovement(QListView::Static);
    thumb->setWordWrap(true);
    thumb->setUniformItemSizes(true);
    auto *detail = new XXDropTreeView;
    detail->setObjectName(QStringLiteral("XXProtectDetailListViewController"));
    detail->setRootIsDecorated(false);
    detail->setItemsExpandable(false);
    detail->setUniformRowHeights(true);
    detail->setAllColumnsShowFocus(true);
    detail->header()->setSectionsClickable(true);
    detail->header()->setSortIndicatorShown(true);
    detail->header()->setStretchLastSection(false);

    XXDropHandler handler{[this](const QMimeData *data, const QModelIndex &index) {
                              return canDrop(data, index.isValid() ? index.row() : -1);
                          },
                          [this](const QMimeData *data, const QModelIndex &index) {
                              drop(data, index.isValid() ? index.row() : -1);
                          }};
    list->setDropHandler(handler);
    thumb->setDropHandler(handler);
    detail->setDropHandler(handler);
    for (QAbstractItemView *view : std::initializer_list<QAbstractItemView *>{list, thumb, detail}) {
        view->setModel(model_);
        view->setSelectionModel(selection_);
        pages_->addWidget(view);
        views_.push_back(view);
        connect(view, &QAbstractItemView::activated, this, &XXProtectTabViewController::activated);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint &pos) {
            emit contextMenuRequested(view->viewport()->mapToGlobal(pos));
        });
    }
    // Date and size take what their texts need, the name all the rest: fixed widths left the
    // name nothing in a small window.
    detail->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    detail->header()->setSectionResizeMode(XXProtectItemModel::nameColumn, QHeaderView::Stretch);
    connect(detail->header(), &QHeaderView::sectionClicked, this, [this](int section) {
        // Each column sorts ascending first and flips on the next click.
        const std::int64_t ascending = std::int64_t(section) * 2;
        sortProtectFileWithType(sortType_ == ascending ? ascending + 1 : ascending);
    });
    connect(selection_, &QItemSelectionModel::selectionChanged, this,
            &XXProtectTabViewController::readSelection);
    thumbnails_ = new XXThumbnailLoader(model_, this);
    dragOut_ = new XXDragOut(this, manager());
    // The drag's copies replace the clipboard's in the one paste cache.
    dragOut_->setBeforeStaging([this] { emit dragOutStarting(); });
    auto startDragOut = [this](QAbstractItemView *view, const QModelIndexList &rows) {
        XXProtectFileArray entries;
        for (const QModelIndex &row : rows)
            if (auto entry = model_->entry(row.row()); entry && !entry->isRootWrapper())
                entries.push_back(entry);
        if (QMimeData *data = model_->mimeData(rows))
            dragOut_->start(view, data, entries);
    };
    list->setDragStarter([=](const QModelIndexList &rows) { startDragOut(list, rows); });
    thumb->setDragStarter([=](const QModelIndexList &rows) { startDragOut(thumb, rows); });
    detail->setDragStarter([=](const QModelIndexList &rows) { startDragOut(detail, rows); });
    connect(thumb->verticalScrollBar(), &QAbstractSlider::valueChanged, this,
            [this] { requestThumbnails(); });

    QPointer<XXProtectTabViewController> self(this);
    manager().setProtectDocumentFileDidChanged(
        [self](const std::shared_ptr<XXProtectFileWrapper> &entry, const std::string &path) {
            xxplatform::runOnMain(self, [self, entry, path] { self->writeBack(entry, path); });
        });
}

XXProtectTabViewController::~XXProtectTabViewController()
{
    manager().setProtectDocumentFileDidChanged(nullptr);
}

void XXProtectTabViewController::writeBack(const std::shared_ptr<XXProtectFileWrapper> &entry,
                                           const std::string &path)
{
    // One write-back at a time, in the order the saves came: a second save waits for the first.
    writeBackQueue_.push_back({entry, path});
    if (writeBackQueue_.size() > 1)
        return;
    runNextWriteBack();
}

void XXProtectTabViewController::runNextWriteBack()
{
    if (writeBackQueue_.empty())
        return;
    auto [entry, path] = writeBackQueue_.front();
    XXActivityIndicator::showActivityIndicatorOnView(this);
    xxplatform::runInBackground(
        this, 0ms, [entry, path] { return manager().saveOpenedCopy(entry, path); },
        [this](const XXDiskResultObject &result) {
            XXActivityIndicator::stopActivityIndicator(this);
            writeBackQueue_.pop_front();
            if (!result.isSuccess())
                XXReminderView::show(window(), xxplatform::text("String_168"), XXReminderView::error);
            reloadData();
            runNextWriteBack();
        });
}

void XXProtectTabViewController::loadTree()
{
    XXActivityIndicator::showActivityIndicatorOnView(this);
    xxplatform::runInBackground(
        this, 0ms,
        [] {
            XXDiskResultObject result = XXDiskResultObject::success();
            manager().acquireProtectFileWithComplete([&](const XXDiskResultObject &r) { result = r; });
            return result;
        },
        [this](const XXDiskResultObject &result) {
            XXActivityIndicator::stopActivityIndicator(this);
            const auto *root = std::any_cast<std::shared_ptr<XXProtectFileWrapper>>(&result.successValue());
            if (!result.isSuccess() || !root || !*root) {
                XXReminderView::show(window(), QString::fromStdString(result.errorTips()),
                                     XXReminderView::error);
                emit treeLoaded(false);
                return;
            }
            root_ = *root;
            history_ = {root_};
            historyIndex_ = 0;
            showWithIndex(detailPage);
            emit locationChanged();
            if (result.successCode() == 1)
                XXReminderView::show(window(),
                                     xxplatform::text("String_187") + " " +
                                         QString::fromUtf8(result.errorFileName().c_str()),
                                     XXReminderView::notice);
            emit treeLoaded(true);
        });
}

std::shared_ptr<XXProtectFileWrapper> XXProtectTabViewController::currentProtectFileWrapper() const
{
    if (historyIndex_ < 0 || historyIndex_ >= int(history_.size()))
        return root_;
    return history_[std::size_t(historyIndex_)];
}

std::string XXProtectTabViewController::currentFolderPath() const
{
    const auto current = currentProtectFileWrapper();
    if (!current || current->isRootContainerWrapper() || current->isRootWrapper())
        return "/";
    return current->fullPath();
}

bool XXProtectTabViewController::isEnterUSB() const
{
    const auto current = currentProtectFileWrapper();
    return current && !current->isRootContainerWrapper();
}

QAbstractItemView *XXProtectTabViewController::viewForPage(int page) const
{
    return page > 0 && page < int(views_.size()) ? views_[std::size_t(page)] : nullptr;
}

QAbstractItemView *XXProtectTabViewController::currentView() const
{
    return viewForPage(currentPageIndex_);
}

void XXProtectTabViewController::reloadData()
{
    const auto current = currentProtectFileWrapper();
    XXProtectFileArray entries;
    if (isDisplaySearchResult_) {
        entries = searchResults_;
    } else if (current) {
        // The rows follow the chosen order whatever changed the folder since it was sorted:
        // a transfer appends its entries, a write-back replaces one.
        entries = current->allSubFileArray();
        // The sort is stable: entries of equal keys stay as they were last shown, new ones after.
        if (shownFolder_.lock() == current) {
            std::unordered_map<const XXProtectFileWrapper *, std::size_t> rank;
            for (std::size_t i = 0; i < shownOrder_.size(); ++i)
                rank.emplace(shownOrder_[i].get(), i);
            auto rankOf = [&rank](const std::shared_ptr<XXProtectFileWrapper> &entry) {
                const auto found = rank.find(entry.get());
                return found == rank.end() ? rank.size() : found->second;
            };
            std::stable_sort(entries.begin(), entries.end(),
                             [&rankOf](const auto &a, const auto &b) { return rankOf(a) < rankOf(b); });
        }
        XXProtectFileWrapper::sortFileArray(entries, sortType_);
        shownFolder_ = current;
        shownOrder_ = entries;
    }
    selection_->clear();
    model_->setEntries(std::move(entries));
    selectedFiles_.clear();
    requestThumbnails();
}

void XXProtectTabViewController::insertFileWrappers(const XXProtectFileArray &entries)
{
    const auto current = currentProtectFileWrapper();
    if (!current)
        return;
    for (const auto &entry : entries)
        current->appendSubFile(entry);
    reloadData();
}

void XXProtectTabViewController::showWithIndex(int page)
{
    if (page < listPage || page > detailPage)
        return;
    currentPageIndex_ = page;
    pages_->setCurrentIndex(page);
    reloadData();
    emit pageShown(page);
}

void XXProtectTabViewController::activated(const QModelIndex &index)
{
    const auto entry = model_->entry(index.row());
    if (!entry)
        return;
    if (entry->isDirectory())
        enterFolder(entry);
    else
        openFile(entry);
}

void XXProtectTabViewController::enterFolder(const std::shared_ptr<XXProtectFileWrapper> &folder)
{
    if (!folder || !folder->isDirectory())
        return;
    history_.resize(std::size_t(historyIndex_ + 1));
    history_.push_back(folder);
    historyIndex_ = int(history_.size()) - 1;
    isDisplaySearchResult_ = false;
    searchResults_.clear();
    emit folderEntered();
    reloadData();
    emit locationChanged();
}

void XXProtectTabViewController::goBack()
{
    if (historyIndex_ > 0)
        --historyIndex_;
    reloadData();
    emit locationChanged();
}

void XXProtectTabViewController::goPrevious()
{
    if (historyIndex_ + 1 < int(history_.size()))
        ++historyIndex_;
    reloadData();
    emit locationChanged();
}

void XXProtectTabViewController::goRoot()
{
    if (!root_)
        return;
    history_ = {root_};
    historyIndex_ = 0;
    reloadData();
    emit locationChanged();
}

void XXProtectTabViewController::selectedAllFile()
{
    selection_->select(
        QItemSelection(model_->index(0, 0),
                       model_->index(model_->rowCount() - 1, XXProtectItemModel::columnCount_ - 1)),
        QItemSelectionModel::ClearAndSelect);
}

void XXProtectTabViewController::deselectedAllFile()
{
    selection_->clearSelection();
}

void XXProtectTabViewController::readSelection()
{
    selectedFiles_.clear();
    for (const QModelIndex &index : selection_->selectedRows(0))
        if (auto entry = model_->entry(index.row()))
            selectedFiles_.push_back(entry);
    emit selectionChanged();
}

// The tree is never sorted: a transfer may be changing it on a worker. The rows are a sorted
// copy (reloadData), and the search results the pane's own array.
void XXProtectTabViewController::sortProtectFileWithType(std::int64_t type)
{
    sortType_ = type;
    if (isDisplaySearchResult_)
        XXProtectFileWrapper::sortFileArray(searchResults_, type);
    if (auto *detail = qobject_cast<QTreeView *>(viewForPage(detailPage)))
        detail->header()->setSortIndicator(int(sortType_ / 2),
                                           sortType_ % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
    reloadData();
}

void XXProtectTabViewController::showSearchResults(XXProtectFileArray results)
{
    searchResults_ = std::move(results);
    isDisplaySearchResult_ = true;
    reloadData();
}

void XXProtectTabViewController::endSearch()
{
    searchResults_.clear();
    isDisplaySearchResult_ = false;
    reloadData();
}

void XXProtectTabViewController::openFile(const std::shared_ptr<XXProtectFileWrapper> &file)
{
    QWidget *over = host_ ? host_.data() : this;
    XXActivityIndicator::showActivityIndicatorOnView(over);
    QPointer<QWidget> overGuard(over);
    xxplatform::runInBackground(
        this, 0ms, [file] { return manager().cacheFileToComputer(file); },
        [this, overGuard](const std::optional<std::string> &path) {
            if (overGuard)
                XXActivityIndicator::stopActivityIndicator(overGuard);
            if (!path) {
                XXReminderView::show(window(), xxplatform::text("String_101"), XXReminderView::error);
                return;
            }
            xxplatform::openWithDefaultApplication(this, QString::fromLocal8Bit(path->c_str()),
                                                   [this](xxplatform::XXOpener opener) {
                                                       if (opener == xxplatform::XXOpener::none)
                                                           XXReminderView::show(window(),
                                                                                xxplatform::text("String_211"),
                                                                                XXReminderView::error);
                                                   });
        });
}

void XXProtectTabViewController::showProtectFileDetailInfo()
{
    if (selectedFiles_.size() != 1 || !selectedFiles_.front()->isDirectory())
        return;
    XXFolderDetailInfoView::show(window(), selectedFiles_.front());
}

std::shared_ptr<XXProtectFileWrapper> XXProtectTabViewController::dropTarget(int row) const
{
    const auto current = currentProtectFileWrapper();
    if (!current)
        return nullptr;
    if (current->isRootContainerWrapper())
        return current->allSubFileArray().empty() ? nullptr : current->allSubFileArray().front();
    if (const auto entry = model_->entry(row); entry && entry->isDirectory())
        return entry;
    return current;
}

bool XXProtectTabViewController::canDrop(const QMimeData *data, int row) const
{
    if (!data)
        return false;
    if (data->hasFormat(xxplatform::dragComputerItemsMimeType) || xxplatform::offersForeignFiles(data))
        return true;
    if (data->hasFormat(xxplatform::dragProtectRowsMimeType)) {
        // Only onto a folder row that is not itself among the dragged ones.
        const auto entry = model_->entry(row);
        if (!entry || !entry->isDirectory())
            return false;
        return !xxplatform::decodeRows(data->data(xxplatform::dragProtectRowsMimeType)).contains(row);
    }
    return false;
}

void XXProtectTabViewController::drop(const QMimeData *data, int row)
{
    if (!canDrop(data, row))
        return;
    if (isDisplaySearchResult_) {
        XXReminderView::show(window(), xxplatform::text("String_100"), XXReminderView::notice);
        return;
    }
    const auto target = dropTarget(row);
    XXFileArray files;
    if (data->hasFormat(xxplatform::dragComputerItemsMimeType)) {
        for (const auto &record : xxplatform::decodeRecords(data->data(xxplatform::dragComputerItemsMimeType)))
            files.push_back(XXFileWrapper::initWithURL(record.path));
        emit importRequested(files, target);
        return;
    }
    if (data->hasFormat(xxplatform::dragProtectRowsMimeType)) {
        XXProtectFileArray moved;
        for (int dragged : xxplatform::decodeRows(data->data(xxplatform::dragProtectRowsMimeType)))
            if (auto entry = model_->entry(dragged))
                moved.push_back(entry);
        if (!moved.empty())
            emit moveRequested(moved, target);
        return;
    }
    for (const std::string &path : xxplatform::localFilesFrom(data))
        files.push_back(XXFileWrapper::initWithURL(path));
    emit importRequested(files, target);
}

void XXProtectTabViewController::requestThumbnails()
{
    if (currentPageIndex_ != thumbPage || !thumbnails_)
        return;
    thumbnails_->request(model_->entries());
}
