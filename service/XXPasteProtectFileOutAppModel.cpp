#include "XXPasteProtectFileOutAppModel.h"

#include <sys/stat.h>
#include <unistd.h>

#include "XXDiskFileManager.h"
#include "XXCacheInstance.h"
#include "XXPrivateCacheFolder.h"

namespace {

constexpr const char *kPasteFolderName = "CachePasteFolder";

bool isOwnFolder(const std::string &path)
{
    struct stat st {};
    return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

const std::string XXPasteProtectFileOutAppModel::fileURLType = "public.file-url";
const std::string XXPasteProtectFileOutAppModel::customWriteType = "customWrite.to.pasteboard";

XXPasteProtectFileOutAppModel::XXPasteProtectFileOutAppModel(XXDiskFileManager &manager)
    : manager_(manager), exporter_(manager, manager.transferActivity())
{}

XXPasteProtectFileOutAppModel::XXPasteProtectFileOutAppModel()
    : XXPasteProtectFileOutAppModel(XXDiskFileManager::shareDiskFileManager())
{}

std::string XXPasteProtectFileOutAppModel::pasteCacheFolderPath()
{
    const std::optional<std::string> instance = xxcache::instanceFolder();
    return instance ? *instance + "/" + kPasteFolderName : std::string();
}

std::optional<std::string> XXPasteProtectFileOutAppModel::privatePasteCacheFolder()
{
    const std::optional<std::string> instance = xxcache::instanceFolder();
    if (!instance || !xxcache::makePrivateFolder(*instance + "/" + kPasteFolderName))
        return std::nullopt;
    return *instance + "/" + kPasteFolderName;
}

void XXPasteProtectFileOutAppModel::cleanCacheFiles()
{
    const std::optional<std::string> instance = xxcache::claimedInstanceFolder();
    if (instance && isOwnFolder(*instance))
        xxcache::removeFolder(*instance + "/" + kPasteFolderName);
}

std::string XXPasteProtectFileOutAppModel::fileURLForPath(const std::string &path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

void XXPasteProtectFileOutAppModel::fullDecodeFiles(const XXProtectFileArray &files)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cleanCacheFiles();
    cacheFolderPath_ = privatePasteCacheFolder().value_or(pasteCacheFolderPath());
    myFiles_ = files;
    cacheFiles_.clear();
    failedFiles_.clear();
    exportedPaths_.assign(files.size(), std::nullopt);
}

void XXPasteProtectFileOutAppModel::startDecodeIndex(std::int64_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    decodeIndex_ = index;
}

std::optional<std::string> XXPasteProtectFileOutAppModel::pasteboardPropertyListForType(const std::string &)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (myFiles_.empty())
        return std::nullopt;
    if (decodeIndex_ < 0 || static_cast<size_t>(decodeIndex_) >= myFiles_.size())
        decodeIndex_ = 0;
    const size_t index = static_cast<size_t>(decodeIndex_);
    const std::shared_ptr<XXProtectFileWrapper> entry = myFiles_[index];

    // Exported once: asking again must not export again (the copy is already in the cache
    // and the second export would fail on it) nor cut the entry twice.
    if (!exportedPaths_[index]) {
        std::optional<XXDiskResultObject> outcome;
        exporter_.start({entry}, XXFileWrapper::initWithURL(cacheFolderPath_),
                        [&](const XXDiskResultObject &result) { outcome.emplace(result); });
        if (outcome && outcome->isSuccess() && entry) {
            if (isCut_)
                manager_.removeProtectedFiles({entry}, nullptr);
            exportedPaths_[index] = cacheFolderPath_ + "/" + entry->fileName();
        } else {
            // A question (the name is taken in the cache) leaves the run waiting: end it.
            exporter_.cancel();
            exportedPaths_[index] = std::string();
            if (entry)
                failedFiles_.push_back(entry);
        }
        cacheFiles_.push_back(*exportedPaths_[index]);
    }
    const std::string path = *exportedPaths_[index];

    FailedFilesBlock finished;
    XXProtectFileArray failed;
    if (index + 1 == myFiles_.size()) {
        finished = isCut_ ? cutCompleteBlock_ : copyCompleteBlock_;
        failed = failedFiles_;
    }
    ++decodeIndex_;
    lock.unlock();
    if (finished)
        finished(failed);
    if (path.empty())
        return std::nullopt;
    return fileURLForPath(path);
}

bool XXPasteProtectFileOutAppModel::isCut() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return isCut_;
}

void XXPasteProtectFileOutAppModel::setIsCut(bool isCut)
{
    std::lock_guard<std::mutex> lock(mutex_);
    isCut_ = isCut;
}

void XXPasteProtectFileOutAppModel::setCopyCompleteBlock(FailedFilesBlock block)
{
    std::lock_guard<std::mutex> lock(mutex_);
    copyCompleteBlock_ = std::move(block);
}

void XXPasteProtectFileOutAppModel::setCutCompleteBlock(FailedFilesBlock block)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cutCompleteBlock_ = std::move(block);
}

XXProtectFileArray XXPasteProtectFileOutAppModel::myFiles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return myFiles_;
}

XXProtectFileArray XXPasteProtectFileOutAppModel::failedFiles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failedFiles_;
}

std::vector<std::string> XXPasteProtectFileOutAppModel::cacheFiles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cacheFiles_;
}

std::int64_t XXPasteProtectFileOutAppModel::decodeIndex() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return decodeIndex_;
}

std::string XXPasteProtectFileOutAppModel::cacheFolderPath() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cacheFolderPath_;
}
