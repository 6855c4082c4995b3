// Protected entries exported ahead of a paste into another program. File managers ask for
// clipboard data while the pointer hovers, or as soon as the clipboard changes owner, and
// give up after a few seconds, so nothing can be exported at request time: right after copy
// or cut (or the start of a drag out) the window stages the selection into the private paste
// cache folder on a worker, and offers the staged copies' URLs once they are ready.
//
// stage, cancel, removeEntriesTakenByOtherPrograms and forget may be called from any threads.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "XXDecodePipeline.h"
#include "XXProtectFileWrapper.h"
#include "XXTransferTypes.h"

class XXDiskFileManager;

class XXPasteStaging {
public:
    explicit XXPasteStaging(XXDiskFileManager &manager);
    XXPasteStaging(const XXPasteStaging &) = delete;
    XXPasteStaging &operator=(const XXPasteStaging &) = delete;

    struct Result {
        std::vector<std::string> stagedPaths;  // computer paths of the staged copies, in selection order
        XXProtectFileArray stagedEntries;  // the entries they came from, same order
        XXProtectFileArray failedFiles;  // entries that could not be staged
        bool cancelled = false;
    };

    // Ends the previous paste (as forget()), empties the paste cache folder
    // (XXPasteProtectFileOutAppModel::pasteCacheFolderPath()), then exports every entry
    // (files and folders, whole trees) into it, folders 0700 and files 0600. Entries whose
    // names collide go into numbered sub-folders, so each can be staged. progress (optional)
    // gets (total bytes, done bytes, current name) on this thread. Never asks questions: a
    // failed item fails its entry, and whatever of it was written is removed. Blocking: call
    // on a worker; a second stage waits for the first.
    Result stage(const XXProtectFileArray &files, bool isCut, const XXTransferProgressBlock &progress);
    // Stops the stage() running now: it returns with cancelled = true, the partial copies
    // removed and nothing offered.
    void cancel();
    // Whether cancel() came after the stage() now running or last run began.
    bool isCancelled() const { return cancelled_.load(); }
    // For a cut: another program completed the paste when a staged copy is gone from the
    // paste cache (the file manager moved it away). Removes those entries from the vault
    // (removeProtectedFiles) and returns them; entries whose copy is still there, or that
    // were never staged, stay. Nothing after forget(). Blocking: call on a worker.
    XXProtectFileArray removeEntriesTakenByOtherPrograms();
    // The paste is over (a new copy, lock, quit): nothing more is removed, ever.
    void forget();
    bool isCut() const;

private:
    struct Staged {
        std::string path;
        std::shared_ptr<XXProtectFileWrapper> entry;
    };

    XXDiskFileManager &manager_;
    XXDecodePipeline exporter_;
    std::atomic<bool> cancelled_{false};

    std::mutex runMutex_;  // one stage at a time
    mutable std::mutex stateMutex_;  // guards the two below; held for a whole removal
    bool isCut_ = false;
    std::vector<Staged> awaitingTake_;  // a cut's staged copies whose entries may still go
};
