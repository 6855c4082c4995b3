// The application's single service object over the store engine.
//
// Every operation runs on the thread that calls it; an operation with a completion block
// calls it exactly once, on that thread, before it returns, and never while holding the
// engine lock. Engine calls are serialised through lockEngine(), so the screens may call in
// from any background thread.
//
// Each concern lives in its own file: XXDiskFileManager.cpp (the instance, the removal of
// the volume), +Session.cpp, +Settings.cpp, +Tree.cpp; the transfer pipelines and backup
// join them in files of their own.
//
// Without a GUI: make sure shareDiskFileManager() has been called (it starts observing
// volume removal), install a termination handler, and call the operations directly; no
// event loop is needed for them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "XXBackupJob.h"
#include "XXDiskResultObject.h"
#include "XXFileWrapper.h"
#include "XXNotificationCenter.h"
#include "XXProtectFileWrapper.h"
// The transfer pipelines and the open-on-computer cache.
#include "XXDecodePipeline.h"
#include "XXEncodePipeline.h"
#include "XXOpenedFileCache.h"
#include "XXOperatePipeline.h"
#include "XXTransferActivity.h"

using XXDiskResultBlock = std::function<void(const XXDiskResultObject &)>;

// protectWrapperSizeAndFileNum's "size" and "number".
struct XXProtectSizeAndNumber {
    std::uint64_t size = 0;
    std::int32_t number = 0;
};

class XXDiskFileManager {
public:
    // Ends the process when the current volume goes away. The application's handler must
    // quit its event loop cleanly; it runs on the thread that posted the removal.
    using TerminationHandler = std::function<void()>;

    // The single instance, observing XXDiskDidMoveoutNotification on the default center.
    // It lives until the process ends. Any thread.
    static XXDiskFileManager &shareDiskFileManager();

    // An instance observing center, for tests. The engine is one per process: use one
    // instance at a time.
    explicit XXDiskFileManager(XXNotificationCenter &center);
    ~XXDiskFileManager();
    XXDiskFileManager(const XXDiskFileManager &) = delete;
    XXDiskFileManager &operator=(const XXDiskFileManager &) = delete;

    // Held around every engine call (recursively, so code holding it may call the manager).
    // Code outside the service that calls the engine directly takes it too.
    [[nodiscard]] static std::unique_lock<std::recursive_mutex> lockEngine();

    // --- Session (XXDiskFileManager+Session.cpp) ----------------------------------------

    // A volume's store is mounted by the engine.
    bool mountSuccess() const { return mountSuccess_.load(); }
    // A login has succeeded since the mount.
    bool isLogin() const { return isLogin_.load(); }
    void setIsLogin(bool value) { isLogin_.store(value); }
    // The volume path of the last successful start; "" until then, kept after logout.
    std::string currentDiskPath() const;
    // currentDiskPath joined with ".TovinCoffervale"; "" while there is no current volume.
    std::string currentStoreDirectory() const;

    // Success code 1: the store holds an account; 0: no account yet. Error area 1.
    void startManagerWithDiskPath(const std::string &diskPath, const XXDiskResultBlock &completeBlock);
    // An empty tip stands for none. Success code 0; error area 2. Leaves isLogin off.
    void createAccountWithPassword(const std::string &password, const std::string &tip,
                                   const XXDiskResultBlock &completeBlock);
    // Success code 0; error area 3.
    void loginWithPassword(const std::string &password, const XXDiskResultBlock &completeBlock);
    // An empty reminder clears the hint. Success code 0; error area 4.
    void changePasswordWithOld(const std::string &oldPassword, const std::string &newPassword,
                               const std::string &reminder, const XXDiskResultBlock &complete);
    // The stored hint; "" when there is none or nothing is mounted.
    std::string acquirePasswordTip();
    // Cancels the running transfers, saves the opened copies that were changed into the
    // vault, unmounts, clears both flags, and removes this program's decrypted copies (the
    // open-on-computer and paste caches). Always success code 0; the success value is a
    // std::vector<std::string> of the changed copies that could not be saved and so were
    // kept (empty when none).
    void logOutComplete(const XXDiskResultBlock &complete);
    // "<String_149>: 75.00%     <String_150>: 3.73GB", free being the space an unprivileged
    // user can write; the fixed zero text when nothing is mounted or the volume's statistics
    // cannot be read.
    std::string diskUsedStateString() const;
    // The line for a volume of totalBytes with freeBytes free.
    static std::string diskUsedStateStringForSpace(std::uint64_t totalBytes, std::uint64_t freeBytes);
    static const std::string &diskUsedStateZeroString();
    // Removes the current volume's store directory; true when it was there and is gone.
    // The session is left as it is: the screens quit the application afterwards.
    bool formatDisk();
    // Handler of XXDiskDidMoveoutNotification: the removal of the current volume logs out
    // and calls the termination handler; any other removal is ignored.
    void diskRemoved(const XXNotification &notification);
    // Without a handler, the removal of the current volume ends the process with exit(1).
    void setTerminationHandler(TerminationHandler handler);

    // --- Store settings (XXDiskFileManager+Settings.cpp) -----------------------------------
    // Kept in the store's configuration file, so they need a mounted store; without one the
    // getters give the defaults and the setters fail. Setters return true when the stored
    // text reads back as written.

    // 0 Documents (default), 1 Application Support.
    std::int64_t acquireCurrentLocationSetting();
    bool setCurrentBackupLocation(std::int64_t choice);
    // Default on.
    bool isTurnOnAutoBackUp();
    bool setBackupSetting(bool turnOn);
    // Default 5; never below 1.
    std::int64_t maxBackupFileNumber();
    // Decimal digits of a number of at least 1 ("7"); anything else is refused unwritten.
    bool setMaxBackupFileNum(const std::string &number);
    // 0 (default) or 1.
    std::int64_t acquireCurrentFixAppLocationSetting();
    bool setCurrentFixAppLocation(std::int64_t choice);
    // The setters answer only true or false: this is the errno behind the last setter that
    // failed to store its text (a locked or unwritable configuration file, a full or
    // read-only volume), 0 after one that worked or that no call refused.
    int lastSettingSystemErrorNumber() const { return lastSettingSystemErrorNumber_.load(); }

    // --- Protected tree (XXDiskFileManager+Tree.cpp) --------------------------------------

    // Builds the whole tree; the success value is the root container. Success code 1 when
    // some folders could not be listed (the first one's path is the error file name; they
    // show as empty and must not be exported as such). Error "5+1" code 1 when nothing is
    // mounted.
    void acquireProtectFileWithComplete(const XXDiskResultBlock &complete);
    // Replaces the folder's children with the store's listing, at every depth. Folders that
    // cannot be listed (damaged, missing, nested past the path limit) show as empty and are
    // returned by path, in walk order; entries with names no path can hold are left out.
    std::vector<std::string> fullFileToFolderFile(XXProtectFileWrapper &folder);
    // A file's size, or the sum over a folder's descendants.
    std::uint64_t protectWrapperSize(const XXProtectFileWrapper &wrapper) const;
    std::uint64_t allSelectedProtectFileSize(const XXProtectFileArray &wrappers) const;
    // Bytes and files below an entry (a file counts itself; folders count nothing).
    XXProtectSizeAndNumber protectWrapperSizeAndFileNum(const XXProtectFileWrapper &wrapper) const;
    // Sets the folders' levels and lists folders in pre-order, files in order of discovery.
    // A file wrapper gives nothing.
    void separateProtectFolderWrapper(const std::shared_ptr<XXProtectFileWrapper> &wrapper,
                                      XXProtectFileArray &folderArr, XXProtectFileArray &fileArr);
    // Folders, then files, whose names contain key (case-sensitive; "" matches nothing).
    XXProtectFileArray searchFileWithKeyString(const std::string &key,
                                               const std::shared_ptr<XXProtectFileWrapper> &wrapper);
    // Rewrites the parent paths of every descendant after the folder's name changed.
    void wrapperChangeSubFilePath(XXProtectFileWrapper &folder);

    // --- Backup and restore (the job XXBackupJob; the listing in +Backup.cpp) -----------------
    // backupJob().backUpDiskDataProgressBlock(progress, result), RestoreDiskDataWithSelectedPath,
    // copyComputerFolderFile and cancel(), as XXBackupJob.h describes.
    using BackupProgressBlock = XXBackupJob::ProgressBlock;
    using BackupResultBlock = XXBackupJob::ResultBlock;
    XXBackupJob &backupJob() { return backup_; }
    // The backup folders under the backup root of the current location setting, oldest
    // first, each with its folder size set. Entries not named by a date are left out.
    XXFileArray allBackUpFolders();
    // The backup root for the current location setting.
    std::string backupRootFolderPath();

public:
    // --- Import, export, copy and move (the jobs XXEncodePipeline, XXDecodePipeline and
    // XXOperatePipeline; the open-on-computer cache in +Export.cpp, the single calls in
    // +Operate.cpp) ----------------------------------------------------------------------------
    // Callers hold the job: importJob().start(files, destination, complete), its answers
    // (continueWithExistType, continueWithErrorType, continueWithToSelfType), cancel() and
    // setProgressBlock. Each job runs one selection at a time. It reports the final success,
    // every question (codes 5, 6, 9) and every failed item (7, 8) through the completion
    // given to its start, and then waits: the screens answer with the continue calls, which
    // resume at the same item (XXTransferConversation picks the call for an answer). The
    // jobs show a run's state (index, sizes, stored answers, cancel flag).
    //
    // Threads, which a window must respect:
    // - start... and every continue... do the copying on the caller's thread: they return
    //   only once the run is finished, asks a question, reports a failure or is cancelled,
    //   which for a large selection takes as long as the copy. Call them from a worker,
    //   never from the event loop's thread. The completion runs on that worker before the
    //   call returns.
    // - The progress blocks run on the same copying thread, at each item and after every
    //   2 MiB chunk; hop to the event loop inside them, and keep them short.
    // - cancel... only marks the run cancelled and returns at once; it may come from any
    //   thread, the event loop's included. The copying thread stops after its current chunk,
    //   removes the partial file and reports nothing more.

    // Import into a tree folder ("8+1"); progress (total bytes, bytes done, name), at the
    // start of each item and after every chunk.
    XXEncodePipeline &importJob() { return encoder_; }
    const XXEncodePipeline &importJob() const { return encoder_; }
    // Export into a computer folder ("7+1"); exportJob().setSalvage(true) writes a stored
    // file that does not read back whole out as far as it can be read, for the exports
    // started later.
    XXDecodePipeline &exportJob() { return decoder_; }
    const XXDecodePipeline &exportJob() const { return decoder_; }

    // A new copy of a protected file in the private cache folder, for opening it with
    // another application; nothing when it cannot be made complete. Copies on the calling
    // thread (a worker's: the file may be large), with no progress and no cancel. With a run loop
    // installed the copy is watched, and its saves reach protectDocumentFileDidChanged.
    std::optional<std::string> cacheFileToComputer(const std::shared_ptr<XXProtectFileWrapper> &file);
    // Ends the watches and removes the cache folder in the background, keeping copies
    // changed since they were saved; returns at once.
    std::shared_future<void> cleanCacheFiles();
    // Saves an opened copy into the vault in place of entry when it changed since it was made
    // or last saved (see XXOpenedFileCache::saveChangedCopy); success when it did not.
    XXDiskResultObject saveOpenedCopy(const std::shared_ptr<XXProtectFileWrapper> &entry,
                                      const std::string &path);
    // At start: removes the decrypted copies of runs that ended without cleaning up, never
    // those of a running one (see XXCacheInstance.h); returns the changed copies kept.
    static std::vector<std::string> removeLeftoverCaches();
    void fileWatcherDidChange(XXFileWatcher &watcher);
    void setProtectDocumentFileDidChanged(XXProtectDocumentChangedBlock block);
    // The loop the cache's watchers run on (the application's, or an XXPollRunLoop); none
    // by default. It must outlive the watchers.
    void setFileWatcherRunLoop(XXRunLoop *loop);
    std::vector<std::string> watchedCacheFilePaths() const;

    // Copy (isCopy) or move into a tree folder ("12+1"); progress (total bytes, bytes done,
    // entry being copied), which a cancel leaves installed.
    XXOperatePipeline &operateJob() { return operator_; }
    const XXOperatePipeline &operateJob() const { return operator_; }

    // Nothing on success, else the message to show ("String_98" a refused name, "String_97"
    // the store refused). A file keeps its extension when newName has none.
    std::optional<std::string> renameProtectWrapper(XXProtectFileWrapper &wrapper,
                                                    const std::string &newName);
    // Files first, then folders deepest first, as the store lists them. "9+1" code 1 when a
    // file cannot be removed (no folder is touched then) or a folder cannot.
    void removeProtectedFiles(const XXProtectFileArray &files, const XXDiskResultBlock &complete);
    // "6+1" codes 1 to 4, "6+0" when the store refuses; the success value is the new entry,
    // which the caller puts into the tree.
    void createDirInFolderPath(const std::string &parentPath, const std::string &dirName,
                               const XXDiskResultBlock &complete);

    // The runs in progress, for pipelines of others (the paste model's) and for logout.
    XXTransferActivity &transferActivity() { return transferActivity_; }

private:
    // Cancels whatever transfer is still registered and waits, a few seconds at most, for
    // running ones to stop: one cancelled mid-file removes its partial file, which it can
    // only do while the store is mounted.
    void waitForTransfersToStop();

    XXTransferActivity transferActivity_;
    XXEncodePipeline encoder_{*this, transferActivity_};
    XXDecodePipeline decoder_{*this, transferActivity_};
    XXOperatePipeline operator_{*this, transferActivity_};
    XXOpenedFileCache openedFiles_{*this};
    XXBackupJob backup_{*this};
    friend class XXBackupJob;  // a restore mounts the store again

private:
    static void call(const XXDiskResultBlock &block, const XXDiskResultObject &result);

    // Session
    void setMountSuccess(bool value) { mountSuccess_.store(value); }
    void setCurrentDiskPath(std::string path);
    void endProcessForRemovedVolume();

    // Settings
    std::optional<std::string> readConfigValue(const char *key);
    bool writeConfigValue(const char *key, const std::string &value);
    std::atomic<int> lastSettingSystemErrorNumber_{0};

    // Tree
    // False, with the folder left empty, when the store cannot list it.
    bool listFolderInto(XXProtectFileWrapper &folder);

    XXNotificationCenter &center_;
    XXNotificationCenter::Token removalObserver_ = 0;

    // Session state. The flags are read by the transfers on other threads.
    std::atomic<bool> mountSuccess_{false};
    std::atomic<bool> isLogin_{false};
    mutable std::mutex sessionMutex_;  // guards currentDiskPath_ and terminationHandler_
    std::string currentDiskPath_;
    TerminationHandler terminationHandler_;
};
