// Backups of the store directory in dated folders on the computer, their rotation, and the
// restore of one of them over the store.
#include "XXBackupJob.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "XXBackupFiles.h"
#include "XXBackupFolders.h"
#include "XXDiskFileManager.h"
#include "XXServiceLog.h"
#include "XXTool.h"
#include "fs.h"

namespace fs = std::filesystem;

namespace {

// Shown as it stands, like the service's other fixed texts.
const char *const kNoVaultTip = "未发现保管库";

// Beside the store on the volume, so the swap is a rename within one file system.
const char *const kStagingSuffix = ".restoring";
const char *const kAsideSuffix = xxbackup::kStoreAsideSuffix;
// A backup being copied; never a backup folder name, so no listing offers it.
const char *const kUnfinishedBackupPrefix = ".unfinished-";

std::string localized(const char *key)
{
    return XXTool::shareTool().acquireLocalizedStringFromKey(key);
}

bool isFolder(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool pathExists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The engine's lock files ("config.lock", "<index>.lock") exist only while it replaces a
// file; one left by an interrupted write would, once restored, refuse later writes.
bool isLeftoverLockFile(const std::string &name)
{
    constexpr std::string_view suffix = ".lock";
    return name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void removeTree(const std::string &path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec)
        XXServiceLogf("backup: cannot remove %s: %s", XXServiceLogEscaped(path).c_str(),
                      ec.message().c_str());
}

// What interrupted backups left: folders named for a process that no longer runs. Another
// program's backup under way is left alone.
void removeUnfinishedBackups(const std::string &backupRoot)
{
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(backupRoot, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kUnfinishedBackupPrefix, 0) != 0)
            continue;
        const long pid = std::strtol(name.c_str() + name.rfind('-') + 1, nullptr, 10);
        if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH))
            continue;
        XXServiceLogf("backup: removing the unfinished %s", XXServiceLogEscaped(name).c_str());
        removeTree(entry.path().string());
    }
}

std::string parentOf(const std::string &path)
{
    return fs::path(path).parent_path().string();
}

// The nearest folder above path that exists before a copy starts: the folders below it are
// the copy's own and must be flushed with it.
std::string nearestExistingAncestor(const std::string &path)
{
    std::string folder = parentOf(path);
    while (!folder.empty() && folder != "/" && !isFolder(folder))
        folder = parentOf(folder);
    return folder.empty() ? "/" : folder;
}

// Every operation ends through here, so each calls its block exactly once.
void deliver(const XXBackupJob::ResultBlock &resultBlock, const XXBackupResult &result)
{
    if (resultBlock)
        resultBlock(result);
}

}  // namespace

std::string XXBackupResult::errorTip() const
{
    switch (outcome) {
    case XXBackupOutcome::noVault:
        return kNoVaultTip;
    case XXBackupOutcome::destinationPresent:
        return localized("String_66");
    case XXBackupOutcome::copyFailed:
        return localized("String_81");
    case XXBackupOutcome::finished:
    case XXBackupOutcome::cancelled:
    case XXBackupOutcome::sourceMissing:
        break;
    }
    return "";
}

std::string XXBackupResult::completeTip() const
{
    return outcome == XXBackupOutcome::cancelled ? localized("String_65") : "";
}

void XXBackupJob::acquireAllFilesSourceWrapper(XXFileWrapper &item, const std::string &toDir,
                                                     std::vector<FileCopyItem> &containerArr)
{
    if (item.isDirectory()) {
        const std::string folder = toDir + "/" + item.fileName();
        for (const std::shared_ptr<XXFileWrapper> &child : item.allSubFileArray())
            acquireAllFilesSourceWrapper(*child, folder, containerArr);
        return;
    }
    if (isLeftoverLockFile(item.fileName()))
        return;
    FileCopyItem entry;
    entry.sourcePath = item.systemPath().empty() ? item.fullPath() : item.systemPath();
    entry.name = item.fileName();
    entry.dirPath = toDir;
    entry.fileSize = item.fileAttributes() ? item.fileAttributes()->fileSize : 0;
    containerArr.push_back(std::move(entry));
}

XXBackupResult XXBackupJob::copyFolderForBackup(const std::string &sourceFolder,
                                                const std::string &destinationPath,
                                                const ProgressBlock &progressBlock)
{
    // "out/" names "out": the destination itself must be made, not found present.
    std::string destination = destinationPath;
    while (destination.size() > 1 && destination.back() == '/')
        destination.pop_back();
    if (!isFolder(sourceFolder))
        return {XXBackupOutcome::sourceMissing};
    if (pathExists(destination))
        return {XXBackupOutcome::destinationPresent};
    isCancel_.store(false);

    XXFileWrapper source(sourceFolder);
    std::vector<FileCopyItem> items;
    for (const std::shared_ptr<XXFileWrapper> &child : source.allSubFileArray())
        acquireAllFilesSourceWrapper(*child, destination, items);
    std::uint64_t total = 0;
    for (const FileCopyItem &item : items)
        total += item.fileSize;
    if (progressBlock)
        progressBlock(total, 0);

    const std::string flushStop = nearestExistingAncestor(destination);
    bool destinationMade = false;
    std::set<std::string> foldersToFlush;
    // A backup is either complete or absent.
    auto discardDestination = [&] {
        if (destinationMade)
            removeTree(destination);
    };
    auto failedWith = [](int err) { return XXBackupResult{XXBackupOutcome::copyFailed, err}; };

    std::vector<char> buffer(xxbackup::kCopyChunkSize);
    std::uint64_t done = 0;
    for (const FileCopyItem &item : items) {
        if (!destinationMade) {
            // Made exclusively, so a second copy to the same folder (another process, the same
            // second) can never mix its files into this one.
            std::error_code ec;
            fs::create_directories(parentOf(destination), ec);
            if (::mkdir(destination.c_str(), 0777) != 0) {
                const int err = errno;
                XXServiceLogf("backup: cannot create %s: %s", XXServiceLogEscaped(destination).c_str(),
                              std::strerror(err));
                return {err == EEXIST ? XXBackupOutcome::destinationPresent : XXBackupOutcome::copyFailed,
                        err};
            }
            destinationMade = true;
        }
        std::error_code ec;
        fs::create_directories(item.dirPath, ec);
        if (ec) {
            XXServiceLogf("backup: cannot create %s: %s", XXServiceLogEscaped(item.dirPath).c_str(),
                          ec.message().c_str());
            discardDestination();
            return failedWith(ec.value());
        }
        for (std::string folder = item.dirPath; folder != flushStop && foldersToFlush.insert(folder).second;)
            folder = parentOf(folder);

        int err = 0;
        const xxbackup::FileCopyOutcome outcome = xxbackup::copyFileInChunks(
            item.sourcePath, item.dirPath + "/" + item.name, buffer,
            [&](std::uint64_t bytes) {
                if (bytes) {
                    done += bytes;
                    if (progressBlock)
                        progressBlock(total, done);
                }
                return !isCancel_.load();
            },
            &err);
        if (outcome == xxbackup::FileCopyOutcome::cancelled) {
            XXServiceLogf("backup: copy to %s cancelled", XXServiceLogEscaped(destination).c_str());
            discardDestination();
            return {XXBackupOutcome::cancelled};
        }
        if (outcome == xxbackup::FileCopyOutcome::failed) {
            discardDestination();
            return failedWith(err);
        }
    }
    if (destinationMade) {
        foldersToFlush.insert(flushStop);
        for (const std::string &folder : foldersToFlush) {
            int err = 0;
            if (!xxbackup::flushFolder(folder, &err)) {
                discardDestination();
                return failedWith(err);
            }
        }
    }
    return {XXBackupOutcome::finished};
}

void XXBackupJob::copyComputerFolderFile(const std::string &sourceFolder,
                                               const std::string &toDestinationFolderPath,
                                               const ProgressBlock &progressBlock,
                                               const ResultBlock &resultBlock)
{
    deliver(resultBlock, copyFolderForBackup(sourceFolder, toDestinationFolderPath, progressBlock));
}

void XXBackupJob::backUpDiskDataProgressBlock(const ProgressBlock &progressBlock,
                                                    const ResultBlock &resultBlock)
{
    auto report = [&](const XXBackupResult &result) { deliver(resultBlock, result); };
    const std::string store = manager_.currentStoreDirectory();
    if (store.empty() || !isFolder(store)) {
        report({XXBackupOutcome::noVault});
        return;
    }
    const std::string backupRoot = manager_.backupRootFolderPath();
    const std::string folderName = XXTool::shareTool().currentDate();
    const std::string finalPath = backupRoot + "/" + folderName;
    if (pathExists(finalPath)) {
        report({XXBackupOutcome::destinationPresent});
        return;
    }
    removeUnfinishedBackups(backupRoot);
    // Copied under a name no listing takes for a backup, and given its dated name only once
    // complete: an interrupted backup is never offered for a restore.
    const std::string staging =
        backupRoot + "/" + kUnfinishedBackupPrefix + folderName + "-" + std::to_string(::getpid());
    XXBackupResult result = copyFolderForBackup(store, staging, progressBlock);
    if (result.outcome == XXBackupOutcome::finished) {
        int err = 0;
        if (pathExists(finalPath)) {
            removeTree(staging);
            result = {XXBackupOutcome::destinationPresent, EEXIST};
        } else if (fs_sys_rename(staging.c_str(), finalPath.c_str()) != 0 ||
                   !xxbackup::flushFolder(backupRoot, &err)) {
            err = err ? err : errno;
            XXServiceLogf("backup: cannot name %s: %s", XXServiceLogEscaped(finalPath).c_str(),
                          std::strerror(err));
            removeTree(pathExists(staging) ? staging : finalPath);
            result = {XXBackupOutcome::copyFailed, err};
        }
    }
    // A failed or cancelled backup must not cost an old one.
    if (result.outcome == XXBackupOutcome::finished)
        removeBackupsBeyondMaximum(backupRoot, folderName);
    report(result);
}

void XXBackupJob::removeBackupsBeyondMaximum(const std::string &backupRoot,
                                                   const std::string &keptFolderName)
{
    if (!manager_.isTurnOnAutoBackUp())
        return;
    const std::int64_t maximum = manager_.maxBackupFileNumber();
    std::vector<std::string> names;
    XXFileWrapper root(backupRoot);
    for (const std::shared_ptr<XXFileWrapper> &child : root.allSubFileArray())
        if (child->isDirectory() && xxbackup::isBackupFolderName(child->fileName()))
            names.push_back(child->fileName());
    if (static_cast<std::int64_t>(names.size()) <= maximum)
        return;
    // The fixed-width date names sort by age.
    std::sort(names.begin(), names.end());
    const size_t excess = names.size() - static_cast<size_t>(maximum);
    for (size_t i = 0; i < excess; ++i) {
        // A clock set back could make the new backup look oldest.
        if (names[i] == keptFolderName)
            continue;
        XXServiceLogf("backup: removing the old backup %s", XXServiceLogEscaped(names[i]).c_str());
        removeTree(backupRoot + "/" + names[i]);
    }
}

void XXBackupJob::RestoreDiskDataWithSelectedPath(const std::string &selectedPath,
                                                        const ProgressBlock &ProgressBlock,
                                                        const ResultBlock &resultBlock)
{
    auto report = [&](const XXBackupResult &result) { deliver(resultBlock, result); };
    const std::string store = manager_.currentStoreDirectory();
    if (store.empty()) {
        report({XXBackupOutcome::noVault});
        return;
    }
    if (!isFolder(selectedPath)) {
        report({XXBackupOutcome::sourceMissing});
        return;
    }
    if (!isRegularFile(selectedPath + "/index")) {
        XXServiceLogf("restore: %s holds no root index", XXServiceLogEscaped(selectedPath).c_str());
        report({XXBackupOutcome::noVault});
        return;
    }

    const std::string staging = store + kStagingSuffix;
    const std::string aside = store + kAsideSuffix;
    {
        auto engine = XXDiskFileManager::lockEngine();
        xxbackup::putBackStoreLeftAside(store);
    }
    if (pathExists(staging))
        removeTree(staging);
    if (pathExists(aside) && pathExists(store))
        removeTree(aside);

    XXBackupResult result = copyFolderForBackup(selectedPath, staging, ProgressBlock);
    if (result.outcome == XXBackupOutcome::finished)
        result = swapInRestoredStore(staging);
    report(result);
}

XXBackupResult XXBackupJob::swapInRestoredStore(const std::string &stagingFolder)
{
    const std::string volume = manager_.currentDiskPath();
    const std::string store = manager_.currentStoreDirectory();
    std::optional<std::string> previous;
    int swapError = 0;
    {
        auto engine = XXDiskFileManager::lockEngine();
        if (isCancel_.load()) {
            removeTree(stagingFolder);
            return {XXBackupOutcome::cancelled};
        }
        // Unmounting releases every open handle, so nothing writes into the store being
        // replaced; the keys of the old login go with it.
        const bool wasMounted = fs_store_dir() != nullptr;
        if (wasMounted)
            fs_umount();
        previous = xxbackup::replaceFolder(stagingFolder, store, store + kAsideSuffix, true, &swapError);
        if (wasMounted) {
            const int r = fs_mount(volume.c_str());
            const bool mounted = r == 0 || r == 2;
            if (!mounted) {
                XXServiceLogf("fs_mount--%d errno %d", r, r > 0 ? r : errno);
                if (fs_store_dir())
                    fs_umount();
            }
            manager_.setMountSuccess(mounted);
        }
        manager_.setIsLogin(false);
    }
    if (!previous) {
        removeTree(stagingFolder);
        return {XXBackupOutcome::copyFailed, swapError};
    }
    if (!previous->empty())
        removeTree(*previous);
    XXServiceLog("restore: the store was replaced by the backup");
    return {XXBackupOutcome::finished};
}
