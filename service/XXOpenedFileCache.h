// Protected files opened with another application: each is exported into the private
// cache folder ("cacheFolder"), and, once a run loop is installed, watched there, so that
// the application hears when the user saves the copy again.
#pragma once

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "XXFileWatcher.h"
#include "XXProtectFileWrapper.h"
#include "XXTransferTypes.h"

class XXDiskFileManager;

class XXOpenedFileCache {
public:
    explicit XXOpenedFileCache(XXDiskFileManager &manager);
    ~XXOpenedFileCache();
    XXOpenedFileCache(const XXOpenedFileCache &) = delete;
    XXOpenedFileCache &operator=(const XXOpenedFileCache &) = delete;

    // "<application folder>/cacheFolder" (see XXPrivateCacheFolder.h).
    static std::string cacheFolderPath();

    // The path of a new copy of the file, or nothing when it cannot be made complete. Copies
    // never replace one another: a second file of the same name within the same second goes
    // into a sub-folder of its own.
    std::optional<std::string> cacheFileToComputer(const std::shared_ptr<XXProtectFileWrapper> &file);
    // Stops every watch and removes the cache folder on a thread of its own; the future is
    // ready once it is gone.
    std::shared_future<void> cleanCacheFiles();

    // The loop the watchers run on; nullptr (the default) starts none. The loop must outlive
    // the watchers (cleanCacheFiles ends them).
    void setRunLoop(XXRunLoop *loop);
    void setProtectDocumentFileDidChanged(XXProtectDocumentChangedBlock block);
    // Hands a watcher's report to the hook, with the entry the copy was made from.
    void fileWatcherDidChange(XXFileWatcher &watcher);
    // The copies being watched (the keys of watchFileDic).
    std::vector<std::string> watchedPaths() const;

private:
    class Forwarder;

    void watch(const std::string &path, const std::shared_ptr<XXProtectFileWrapper> &file);

    std::shared_ptr<Forwarder> forwarder_;
    mutable std::mutex mutex_;  // guards the three below
    XXRunLoop *loop_ = nullptr;
    std::map<std::string, std::shared_ptr<XXFileWatcher>> watchFileDic_;
    XXProtectDocumentChangedBlock protectDocumentFileDidChanged_;
};
