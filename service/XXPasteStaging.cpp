#include "XXPasteStaging.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "XXDiskFileManager.h"
#include "XXPasteProtectFileOutAppModel.h"
#include "XXPrivateCacheFolder.h"
#include "XXServiceLog.h"

namespace fsys = std::filesystem;

namespace {

// The export makes its files as any save would (umask); the paste cache keeps them the
// user's alone. Links are left as they are (the export makes none).
void makePrivate(const std::string &path)
{
    std::error_code error;
    const fsys::file_status status = fsys::symlink_status(path, error);
    if (error)
        return;
    if (fsys::is_regular_file(status)) {
        chmod(path.c_str(), 0600);
        return;
    }
    if (!fsys::is_directory(status))
        return;
    chmod(path.c_str(), 0700);
    for (fsys::recursive_directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const fsys::file_status child = it->symlink_status(error);
        if (error)
            break;
        if (fsys::is_directory(child))
            chmod(it->path().c_str(), 0700);
        else if (fsys::is_regular_file(child))
            chmod(it->path().c_str(), 0600);
    }
}

void removeAll(const std::string &path)
{
    std::error_code error;
    fsys::remove_all(path, error);
}

}  // namespace

XXPasteStaging::XXPasteStaging(XXDiskFileManager &manager)
    : manager_(manager), exporter_(manager, manager.transferActivity())
{}

XXPasteStaging::Result XXPasteStaging::stage(const XXProtectFileArray &files, bool isCut,
                                             const XXTransferProgressBlock &progress)
{
    std::lock_guard<std::mutex> run(runMutex_);
    cancelled_.store(false);
    {
        // Before the cache is emptied: the previous cut's copies vanishing is not a paste.
        std::lock_guard<std::mutex> state(stateMutex_);
        awaitingTake_.clear();
        isCut_ = isCut;
    }

    Result result;
    XXPasteProtectFileOutAppModel::cleanCacheFiles();
    const std::optional<std::string> cache = XXPasteProtectFileOutAppModel::privatePasteCacheFolder();
    if (!cache) {
        XXServiceLogf("pasteStagingNoCache_%d", errno);
        for (const auto &entry : files)
            if (entry)
                result.failedFiles.push_back(entry);
        return result;
    }

    std::uint64_t total = 0;
    std::set<std::string> topNames;
    for (const auto &entry : files) {
        if (!entry)
            continue;
        total += manager_.protectWrapperSize(*entry);
        topNames.insert(entry->fileName());
    }

    // Sub-folder numbers skip the selection's own names, so no staged entry lands inside
    // another one's copy.
    std::map<int, std::set<std::string>> usedInSubFolder;
    std::set<std::string> usedAtTop;
    std::uint64_t doneBefore = 0;
    std::vector<Staged> staged;
    for (const auto &entry : files) {
        if (!entry)
            continue;
        if (cancelled_.load()) {
            result.cancelled = true;
            break;
        }
        std::string folder = *cache;
        if (!usedAtTop.insert(entry->fileName()).second) {
            int number = 1;
            while (topNames.count(std::to_string(number)) || usedInSubFolder[number].count(entry->fileName()))
                ++number;
            usedInSubFolder[number].insert(entry->fileName());
            folder = *cache + "/" + std::to_string(number);
            if (!xxcache::makePrivateFolder(folder)) {
                result.failedFiles.push_back(entry);
                continue;
            }
        }

        const std::uint64_t base = doneBefore;
        exporter_.setProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
            if (progress)
                progress(total, base + done, name);
        });
        std::optional<XXDiskResultObject> outcome;
        exporter_.start({entry}, XXFileWrapper::initWithURL(folder),
                        [&](const XXDiskResultObject &report) { outcome.emplace(report); });
        doneBefore += manager_.protectWrapperSize(*entry);
        const std::string path = folder + "/" + entry->fileName();
        if (cancelled_.load()) {
            result.cancelled = true;
            break;
        }
        if (outcome && outcome->isSuccess()) {
            makePrivate(path);
            staged.push_back({path, entry});
        } else {
            // A question or a failed item leaves the run waiting: end it, and drop the part
            // of a folder that did get out.
            exporter_.cancel();
            if (outcome && outcome->transferReport() != XXReportFolderExists &&
                outcome->transferReport() != XXReportFileExists)
                removeAll(path);
            result.failedFiles.push_back(entry);
        }
    }
    exporter_.setProgressBlock(nullptr);

    if (result.cancelled) {
        exporter_.cancel();
        removeAll(*cache);
        xxcache::makePrivateFolder(*cache);
        result.failedFiles.clear();
        return result;
    }
    for (const Staged &item : staged) {
        result.stagedPaths.push_back(item.path);
        result.stagedEntries.push_back(item.entry);
    }
    std::lock_guard<std::mutex> state(stateMutex_);
    if (isCut)
        awaitingTake_ = std::move(staged);
    return result;
}

void XXPasteStaging::cancel()
{
    cancelled_.store(true);
    exporter_.cancel();
}

XXProtectFileArray XXPasteStaging::removeEntriesTakenByOtherPrograms()
{
    std::lock_guard<std::mutex> state(stateMutex_);
    XXProtectFileArray removed;
    if (!isCut_)
        return removed;
    std::vector<Staged> still;
    for (Staged &item : awaitingTake_) {
        struct stat st {};
        // Only a copy that is really gone counts; an unreadable cache proves nothing.
        if (lstat(item.path.c_str(), &st) == 0 || errno != ENOENT) {
            still.push_back(std::move(item));
            continue;
        }
        bool ok = false;
        manager_.removeProtectedFiles({item.entry}, [&](const XXDiskResultObject &r) { ok = r.isSuccess(); });
        if (ok)
            removed.push_back(item.entry);
        else
            still.push_back(std::move(item));  // tried again at the next call
    }
    awaitingTake_ = std::move(still);
    return removed;
}

void XXPasteStaging::forget()
{
    std::lock_guard<std::mutex> state(stateMutex_);
    awaitingTake_.clear();
}

bool XXPasteStaging::isCut() const
{
    std::lock_guard<std::mutex> state(stateMutex_);
    return isCut_;
}
