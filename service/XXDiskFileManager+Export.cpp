// The open-on-computer cache's operations on the manager (XXOpenedFileCache does the work).
#include "XXDiskFileManager.h"
#include "XXCacheInstance.h"

std::optional<std::string>
XXDiskFileManager::cacheFileToComputer(const std::shared_ptr<XXProtectFileWrapper> &file)
{
    return openedFiles_.cacheFileToComputer(file);
}

std::shared_future<void> XXDiskFileManager::cleanCacheFiles()
{
    return openedFiles_.cleanCacheFiles();
}

XXDiskResultObject XXDiskFileManager::saveOpenedCopy(const std::shared_ptr<XXProtectFileWrapper> &entry,
                                                     const std::string &path)
{
    return openedFiles_.saveChangedCopy(entry, path);
}

std::vector<std::string> XXDiskFileManager::removeLeftoverCaches()
{
    return xxcache::removeLeftoversOfEndedRuns();
}

void XXDiskFileManager::fileWatcherDidChange(XXFileWatcher &watcher)
{
    openedFiles_.fileWatcherDidChange(watcher);
}

void XXDiskFileManager::setProtectDocumentFileDidChanged(XXProtectDocumentChangedBlock block)
{
    openedFiles_.setProtectDocumentFileDidChanged(std::move(block));
}

void XXDiskFileManager::setFileWatcherRunLoop(XXRunLoop *loop)
{
    openedFiles_.setRunLoop(loop);
}

std::vector<std::string> XXDiskFileManager::watchedCacheFilePaths() const
{
    return openedFiles_.watchedPaths();
}
