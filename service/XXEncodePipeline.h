// The import pipeline: files and folders from the computer into a folder of the protected
// area, each file streamed in 2 MiB chunks through a store write handle.
//
// Conflicts are found as the store finds them, whatever the case of the names, in the tree
// and in the store's own listing (which shows empty files the tree leaves out), so an import
// never replaces a stored file. A file whose write fails, or that is cancelled, is removed
// from the store again: only complete files stay. Inside a chosen folder, hidden entries are
// left out, and names that would be one entry to the store ("Notes", "notes") get free names.
#pragma once

#include <cstdint>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "XXFileWrapper.h"
#include "XXImportReadAhead.h"
#include "XXProtectFileWrapper.h"
#include "XXTransferMachine.h"
#include "XXTransferNames.h"

class XXDiskFileManager;

struct XXEncodeRun {
    std::shared_ptr<XXProtectFileWrapper> destination;
};

class XXImportBatch;

struct XXEncodeLoop {
    std::optional<xxtransfer::XXFoldedNames> destinationNames;
    // Files chosen directly, stored since the last commit; committed before anything is
    // reported and after the last item.
    std::shared_ptr<XXImportBatch> batch;
    // Files chosen directly, read and compressed ahead from item aheadFrom of the selection on.
    std::shared_ptr<XXImportReadAhead> ahead;
    std::int64_t aheadFrom = 0;
};

class XXEncodePipeline final
    : public XXTransferMachine<XXFileWrapper, std::string, XXEncodeRun, XXEncodeLoop> {
public:
    XXEncodePipeline(XXDiskFileManager &manager, XXTransferActivity &activity);

    // Validates ("8+1": 1 not mounted, 2 not logged in, 3 no selection, 4 no destination
    // folder), then runs. Entries of files that are null are left out. Copies on the calling
    // thread until the run finishes, asks or fails (so does every continue); cancel() may
    // come from any thread and only marks the run.
    void start(const XXFileArray &files, const std::shared_ptr<XXProtectFileWrapper> &destination,
               const ResultBlock &complete);
    std::shared_ptr<XXProtectFileWrapper> destinationWrapper() const { return runState().destination; }

    // The plan of one folder item imported into destination under name.
    static XXEncodePlan separateFolder(const std::shared_ptr<XXFileWrapper> &source,
                                       const std::shared_ptr<XXProtectFileWrapper> &destination,
                                       const std::string &name);
    // A file's size; a folder's, summed over its descendants that are not hidden.
    static std::uint64_t computerWrapperSize(XXFileWrapper &wrapper);
    static std::uint64_t allSelectedComputerFileSize(const XXFileArray &files);
    // How long new files may wait in a batch before it is committed (500 ms; for folders of
    // thousands of entries, or on a volume whose commits take long, up to 2 s, or this
    // interval when it is longer). Tests that
    // place a fault at a given call set it far out, so no timed commit moves that call.
    static void setCommitInterval(std::chrono::milliseconds interval);

private:
    using Copied = XXCopied;

    Step processItem(const ItemPtr &item, std::uint64_t generation, const XXEncodeRun &run,
                     XXEncodeLoop &loop) override;
    std::string progressArgument(const ItemPtr &item) const override { return item->fileName(); }

    Step importFolder(const XXFileWrapper &item, const std::shared_ptr<XXFileWrapper> &source,
                      const std::string &name, const std::shared_ptr<XXProtectFileWrapper> &destination,
                      xxtransfer::XXFoldedNames &names, std::uint64_t generation);
    // Streams one computer file into the store; *size is the number of bytes stored. On
    // failed, *systemError is the errno of the call that failed (0 when none did).
    Copied importFile(const std::string &sourcePath, const std::string &targetPath,
                      const std::string &progressName, const char *createFailedFormat,
                      std::uint64_t generation, std::uint64_t *size, int *systemError);
    // The same for a file read and compressed ahead: one fs_write_deflated for its content.
    // A file the read-ahead met cut short (it changed while read): failed, and not read again.
    static Copied cutShort(const std::string &sourcePath, const XXImportReadAhead::Ready &ready,
                           int *systemError);
    Copied storeReadAhead(const XXImportReadAhead::Ready &ready, const std::string &targetPath,
                          const std::string &progressName, const char *createFailedFormat,
                          std::uint64_t generation, std::uint64_t *size, int *systemError);

    XXDiskFileManager &manager_;
};
