// The export pipeline's operations on the manager (XXDecodePipeline does the work) and the
// open-on-computer cache (XXOpenedFileCache).
#include "XXDiskFileManager.h"
#include "XXCacheInstance.h"

void XXDiskFileManager::startDecoderSelectedProtectFile(const XXProtectFileArray &files,
                                                        const std::shared_ptr<XXFileWrapper> &destination,
                                                        const XXDiskResultBlock &completeBlock)
{
    decoder_.start(files, destination, completeBlock);
}

void XXDiskFileManager::continueDecodeFileWithIsExistType(std::uint64_t existType)
{
    decoder_.continueWithExistType(existType);
}

void XXDiskFileManager::continueDecodeFileWithIsErrorType(std::uint64_t errorType)
{
    decoder_.continueWithErrorType(errorType);
}

void XXDiskFileManager::cancelDecodeFile()
{
    decoder_.cancel();
}

void XXDiskFileManager::setDecodeProgressBlock(XXTransferProgressBlock block)
{
    decoder_.setProgressBlock(std::move(block));
}

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
