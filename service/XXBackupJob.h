// Backup and restore: plain copies of the store directory in dated folders
// "<documents or data folder>/TovinUSBENC/Backup/yyyy-MM-dd HH:mm:ss", and the swap of one of
// them in for the store. One backup or restore runs at a time, while nothing else changes the
// store (the screens run them modally). Each operation copies on the calling thread (call it
// from a worker) and calls its result block exactly once before it returns; the progress and
// result blocks run on that thread, outside the engine lock. cancel() only sets the flag the
// copy reads after each chunk, from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "XXFileWrapper.h"

class XXDiskFileManager;

// How a backup, restore or folder copy ended.
enum class XXBackupOutcome {
    finished,
    cancelled,  // nothing of the copy is kept; a restore leaves the store as it was
    noVault,  // no store directory, or a backup folder without a root index
    sourceMissing,  // the folder to copy from is not there
    destinationPresent,  // the folder to copy to exists already
    copyFailed,  // a file could not be read or written, a folder made, the result named or swapped in
};

// The result of one backup, restore or folder copy. The texts the screens show are built from
// it: a finished copy (success, "", ""), a cancelled one (success, "", "String_65"), and the
// failures ("未发现保管库", "", "String_66" or "String_81" as error tip).
struct XXBackupResult {
    XXBackupOutcome outcome = XXBackupOutcome::copyFailed;
    int systemErrorNumber = 0;  // errno of the step that failed, 0 where none did

    // Finished or cancelled: nothing failed.
    bool success() const
    {
        return outcome == XXBackupOutcome::finished || outcome == XXBackupOutcome::cancelled;
    }
    std::string errorTip() const;
    std::string completeTip() const;
};

class XXBackupJob {
public:
    // (total bytes, bytes done), after every chunk of 3 MiB.
    using ProgressBlock = std::function<void(std::uint64_t total, std::uint64_t done)>;
    using ResultBlock = std::function<void(const XXBackupResult &result)>;

    explicit XXBackupJob(XXDiskFileManager &manager) : manager_(manager) {}
    XXBackupJob(const XXBackupJob &) = delete;
    XXBackupJob &operator=(const XXBackupJob &) = delete;

    // Copies the store directory to a new dated backup folder, then, with auto backup on,
    // removes the oldest backups beyond the maximum number (only after a finished copy, and
    // never the folder just made). noVault without a store directory.
    void backUpDiskDataProgressBlock(const ProgressBlock &progressBlock, const ResultBlock &resultBlock);
    // Replaces the store directory with a copy of the backup folder at selectedPath. The copy
    // is made beside the store on the volume and flushed, and only then swapped in; until
    // then, and after any failure or cancel, the previous store is there as it was. A folder
    // without a root index ("index") is refused with noVault before
    // anything is touched. The swap unmounts the engine, so no handle writes into the old
    // store, and mounts it again: a restored store must be logged into afresh (isLogin off).
    void RestoreDiskDataWithSelectedPath(const std::string &selectedPath, const ProgressBlock &ProgressBlock,
                                         const ResultBlock &resultBlock);
    // Copies every file below sourceFolder (hidden ones included, leftover "*.lock" files of
    // interrupted writes left out) to the same relative paths below toDestinationFolderPath, which
    // must not exist yet; folders are made for the files they receive. copyFailed covers a file
    // that cannot be read or written, a folder that cannot be made, and anything but a regular
    // file or folder in the source. Only a finished copy leaves the destination, with every
    // file flushed to the disk.
    void copyComputerFolderFile(const std::string &sourceFolder, const std::string &toDestinationFolderPath,
                                const ProgressBlock &progressBlock, const ResultBlock &resultBlock);

    // Asks the running backup or restore to stop after its current chunk: one atomic store,
    // so a signal handler may call it. The flag is cleared when the next copy starts.
    void cancel() { isCancel_.store(true); }
    bool isCancel() const { return isCancel_.load(); }

private:
    // One file of a folder copy.
    struct FileCopyItem {
        std::string sourcePath;
        std::string name;
        std::string dirPath;  // the destination folder that receives it
        std::uint64_t fileSize = 0;
    };

    // Appends the files below item (item itself when it is a file) to containerArr, with
    // toDir as the destination folder of item.
    static void acquireAllFilesSourceWrapper(XXFileWrapper &item, const std::string &toDir,
                                             std::vector<FileCopyItem> &containerArr);
    XXBackupResult copyFolderForBackup(const std::string &sourceFolder, const std::string &destination,
                                       const ProgressBlock &progressBlock);
    void removeBackupsBeyondMaximum(const std::string &backupRoot, const std::string &keptFolderName);
    XXBackupResult swapInRestoredStore(const std::string &stagingFolder);

    XXDiskFileManager &manager_;
    std::atomic<bool> isCancel_{false};
};
