#include "XXOpenedFileCache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "XXComputerFile.h"
#include "XXDecodePipeline.h"
#include "XXDiskFileManager.h"
#include "XXPrivateCacheFolder.h"
#include "XXServiceLog.h"
#include "XXTool.h"
#include "XXTransferNames.h"

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
    : forwarder_(std::make_shared<Forwarder>(manager))
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
    const std::string application = xxcache::applicationFolderPath();
    return application.empty() ? std::string() : application + "/" + kCacheFolderName;
}

std::optional<std::string>
XXOpenedFileCache::cacheFileToComputer(const std::shared_ptr<XXProtectFileWrapper> &file)
{
    if (!file || file->isDirectory() || !xxtransfer::canBeComputerName(file->fileName()))
        return std::nullopt;
    const std::optional<std::string> cache = xxcache::privateFolder(kCacheFolderName);
    if (!cache)
        return std::nullopt;

    // The sub-folder is named after the second of the request; a second copy of the same
    // name in that second gets the next free one, so no open copy is ever overwritten.
    const std::string date = XXTool::shareTool().currentDate();
    std::string target;
    for (int attempt = 0; attempt < kMaxSubFolderAttempts && target.empty(); attempt++) {
        const std::string seed = attempt == 0 ? date : date + "#" + std::to_string(attempt);
        const std::string folder = *cache + "/" + XXTool::md5ForString(seed);
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
    }
    auto done = std::make_shared<std::promise<void>>();
    std::shared_future<void> finished = done->get_future().share();
    const std::string application = xxcache::applicationFolderPath();
    std::thread([application, done] {
        struct stat st {};
        // Only a folder that is really ours: a link there could point anywhere.
        if (!application.empty() && lstat(application.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == geteuid())
            xxcache::removeFolder(application + "/" + kCacheFolderName);
        done->set_value();
    }).detach();
    return finished;
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
