// Protected files opened with another application: each is exported into this instance's
// cache folder ("cacheFolder", see XXCacheInstance.h), and, once a run loop is installed,
// watched there, so that the application hears when the user saves the copy again. Every
// copy carries a stamp of the state the vault holds, so a save can be told from a copy
// that nobody changed, and no cleanup removes a change that never reached the vault.
#pragma once

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "XXDiskResultObject.h"
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

    // "<instance folder>/cacheFolder"; "" before this process made its instance folder.
    static std::string cacheFolderPath();

    // The path of a new copy of the file, or nothing when it cannot be made complete. Copies
    // never replace one another: a second file of the same name within the same second goes
    // into a sub-folder of its own.
    std::optional<std::string> cacheFileToComputer(const std::shared_ptr<XXProtectFileWrapper> &file);
    // Stops every watch and removes the cache folder on a thread of its own, except copies
    // changed since they were made or saved; the future is ready once it is done.
    std::shared_future<void> cleanCacheFiles();

    // Stores a copy that changed since its stamp into the vault in place of its entry
    // (writeBackChangedCopy), then stamps it; success without doing anything when it did not
    // change. One save at a time. Blocking: call on a worker, while the vault is unlocked.
    XXDiskResultObject saveChangedCopy(const std::shared_ptr<XXProtectFileWrapper> &entry,
                                       const std::string &path);
    // saveChangedCopy for every copy made since the last removeCopies.
    void saveChangedCopies();
    // Ends the watches and removes every copy, now, except the changed ones (whose save
    // failed or was never tried); returns those, which stay where they are.
    std::vector<std::string> removeCopies();

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

    XXDiskFileManager &manager_;
    std::shared_ptr<Forwarder> forwarder_;
    mutable std::mutex mutex_;  // guards the three below
    XXRunLoop *loop_ = nullptr;
    std::map<std::string, std::shared_ptr<XXFileWatcher>> watchFileDic_;
    std::map<std::string, std::shared_ptr<XXProtectFileWrapper>> copies_;  // path -> entry
    std::mutex saveMutex_;  // one save at a time
    XXProtectDocumentChangedBlock protectDocumentFileDidChanged_;
};
