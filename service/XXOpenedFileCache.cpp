#include "XXOpenedFileCache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "XXCacheInstance.h"
#include "XXComputerFile.h"
#include "XXDecodePipeline.h"
#include "XXDiskFileManager.h"
#include "XXPrivateCacheFolder.h"
#include "XXServiceLog.h"
#include "XXTool.h"
#include "XXTransferNames.h"
#include "XXWriteBack.h"

namespace {

constexpr const char *kCacheFolderName = "cacheFolder";
constexpr int kMaxSubFolderAttempts = 1000;

// What a watcher carries: the entry, and the delegate that must outlive the watcher.
struct XXWatchedDocument {
    std::shared_ptr<XXProtectFileWrapper> entry;
    std::shared_ptr<XXFileWatcherDelegate> delegate;
};

}  // namespace

// The watchers' delegate. Watchers report on their loop's thread and may do so after the
// manager is gone, so they hold this rather than the manager, and it forgets the manager
// when the cache goes away.
class XXOpenedFileCache::Forwarder final : public XXFileWatcherDelegate {
public:
    explicit Forwarder(XXDiskFileManager &manager) : manager_(&manager) {}

    void forget()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        manager_ = nullptr;
    }

    void fileWatcherDidChange(XXFileWatcher &watcher) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (manager_)
            manager_->fileWatcherDidChange(watcher);
    }

private:
    std::mutex mutex_;
    XXDiskFileManager *manager_;
};

XXOpenedFileCache::XXOpenedFileCache(XXDiskFileManager &manager)
    : manager_(manager), forwarder_(std::make_shared<Forwarder>(manager))
{}

XXOpenedFileCache::~XXOpenedFileCache()
{
    forwarder_->forget();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &[path, watcher] : watchFileDic_)
        watcher->invalidate();
}

std::string XXOpenedFileCache::cacheFolderPath()
{
    const std::optional<std::string> instance = xxcache::claimedInstanceFolder();
    return instance ? *instance + "/" + kCacheFolderName : std::string();
}

std::optional<std::string>
XXOpenedFileCache::cacheFileToComputer(const std::shared_ptr<XXProtectFileWrapper> &file)
{
    if (!file || file->isDirectory() || !xxtransfer::canBeComputerName(file->fileName()))
        return std::nullopt;
    const std::optional<std::string> instance = xxcache::instanceFolder();
    if (!instance || !xxcache::makePrivateFolder(*instance + "/" + kCacheFolderName))
        return std::nullopt;
    const std::string cache = *instance + "/" + kCacheFolderName;

    // The sub-folder is named after the second of the request; a second copy of the same
    // name in that second gets the next free one, so no open copy is ever overwritten.
    const std::string date = XXTool::shareTool().currentDate();
    std::string target;
    for (int attempt = 0; attempt < kMaxSubFolderAttempts && target.empty(); attempt++) {
        const std::string seed = attempt == 0 ? date : date + "#" + std::to_string(attempt);
        const std::string folder = cache + "/" + XXTool::md5ForString(seed);
        if (!xxcache::makePrivateFolder(folder))
            return std::nullopt;
        const std::string candidate = folder + "/" + file->fileName();
        if (!xxtransfer::pathExists(candidate))
            target = candidate;
    }
    if (target.empty())
        return std::nullopt;
    if (XXDecodePipeline::copyOut(file->fullPath(), file->fileSize(), target, 0600, nullptr) !=
        XXDecodePipeline::Copied::done)
        return std::nullopt;
    xxtransfer::setModificationTime(target, file->createDateString());
    if (!xxcache::recordStamp(*instance, target, xxcache::copyState(target))) {
        // Without a stamp a later change could not be told apart: no copy rather than one at risk.
        unlink(target.c_str());
        return std::nullopt;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        copies_[target] = file;
    }
    watch(target, file);
    return target;
}

void XXOpenedFileCache::watch(const std::string &path, const std::shared_ptr<XXProtectFileWrapper> &file)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!loop_)
        return;
    auto watcher =
        XXFileWatcher::create(*loop_, path, std::any(XXWatchedDocument{file, forwarder_}), forwarder_.get());
    auto [slot, inserted] = watchFileDic_.emplace(path, watcher);
    if (!inserted) {
        slot->second->invalidate();
        slot->second = watcher;
    }
}

std::shared_future<void> XXOpenedFileCache::cleanCacheFiles()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto &[path, watcher] : watchFileDic_)
            watcher->invalidate();
        watchFileDic_.clear();
        copies_.clear();
    }
    auto done = std::make_shared<std::promise<void>>();
    std::shared_future<void> finished = done->get_future().share();
    const std::optional<std::string> instance = xxcache::claimedInstanceFolder();
    std::thread([instance, done] {
        if (instance)
            xxcache::removeCacheKeepingChanged(*instance, kCacheFolderName);
        done->set_value();
    }).detach();
    return finished;
}

XXDiskResultObject XXOpenedFileCache::saveChangedCopy(const std::shared_ptr<XXProtectFileWrapper> &entry,
                                                      const std::string &path)
{
    std::lock_guard<std::mutex> saving(saveMutex_);
    const std::optional<std::string> instance = xxcache::claimedInstanceFolder();
    if (!instance || !xxcache::changedSinceStamp(*instance, path))
        return XXDiskResultObject::success();
    // The state read before the save: a change made while it runs leaves the copy unstamped
    // as changed, so it is saved again rather than taken for stored.
    const std::string before = xxcache::copyState(path);
    XXDiskResultObject result = writeBackChangedCopy(manager_, entry, path);
    if (result.isSuccess() && xxcache::copyState(path) == before)
        xxcache::recordStamp(*instance, path, before);
    return result;
}

void XXOpenedFileCache::saveChangedCopies()
{
    std::map<std::string, std::shared_ptr<XXProtectFileWrapper>> copies;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        copies = copies_;
    }
    for (const auto &[path, entry] : copies) {
        const XXDiskResultObject result = saveChangedCopy(entry, path);
        if (!result.isSuccess())
            XXServiceLogf("the changed copy %s could not be saved: errno %d", XXServiceLogEscaped(path).c_str(),
                          result.systemErrorNumber());
    }
}

std::vector<std::string> XXOpenedFileCache::removeCopies()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto &[path, watcher] : watchFileDic_)
            watcher->invalidate();
        watchFileDic_.clear();
        copies_.clear();
    }
    std::lock_guard<std::mutex> saving(saveMutex_);
    const std::optional<std::string> instance = xxcache::claimedInstanceFolder();
    return instance ? xxcache::removeCacheKeepingChanged(*instance, kCacheFolderName) : std::vector<std::string>();
}

void XXOpenedFileCache::setRunLoop(XXRunLoop *loop)
{
    std::lock_guard<std::mutex> lock(mutex_);
    loop_ = loop;
}

void XXOpenedFileCache::setProtectDocumentFileDidChanged(XXProtectDocumentChangedBlock block)
{
    std::lock_guard<std::mutex> lock(mutex_);
    protectDocumentFileDidChanged_ = std::move(block);
}

void XXOpenedFileCache::fileWatcherDidChange(XXFileWatcher &watcher)
{
    XXProtectDocumentChangedBlock hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = protectDocumentFileDidChanged_;
    }
    if (!hook)
        return;
    std::shared_ptr<XXProtectFileWrapper> entry;
    if (const auto *document = std::any_cast<XXWatchedDocument>(&watcher.protectFileWrapper()))
        entry = document->entry;
    else if (const auto *plain =
                 std::any_cast<std::shared_ptr<XXProtectFileWrapper>>(&watcher.protectFileWrapper()))
        entry = *plain;
    hook(entry, watcher.watchPath());
}

std::vector<std::string> XXOpenedFileCache::watchedPaths() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    for (const auto &[path, watcher] : watchFileDic_)
        paths.push_back(path);
    return paths;
}
