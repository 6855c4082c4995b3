// The export pipeline: protected files and folders saved into a folder on the computer,
// each stored file read in 2 MiB chunks through a store read handle.
//
// Nothing is written outside the destination folder and nothing there is replaced: every
// target is made new (never through a link), and an entry whose name could name anything
// but one entry of the folder fails. Only complete files stay: a file that fails or is
// cancelled is removed again. A folder is exported as the store holds it, empty files
// included.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "XXFileWrapper.h"
#include "XXProtectFileWrapper.h"
#include "XXTransferMachine.h"

class XXDiskFileManager;

struct XXDecodeRun {
    std::shared_ptr<XXFileWrapper> destination;
};

// A damaged stored file written out as far as it could be read (an export with salvage on).
struct XXSalvagedFile {
    struct Range {
        std::uint64_t offset = 0, length = 0;
        bool unreadable = true;  // zeros in the copy; else read, but it may be wrong there
    };
    std::string storePath, targetPath;
    std::uint64_t size = 0;
    std::vector<Range> ranges;  // in order of offset
};

struct XXDecodeLoop {};

class XXDecodePipeline final
    : public XXTransferMachine<XXProtectFileWrapper, std::string, XXDecodeRun, XXDecodeLoop> {
public:
    XXDecodePipeline(XXDiskFileManager &manager, XXTransferActivity &activity);

    // Validates ("7+1": 1 not mounted, 2 not logged in, 3 no selection, 4 no destination
    // folder), then runs. Copies on the calling thread until the run finishes, asks or
    // fails (so does every continue); cancel() may come from any thread and only marks it.
    void start(const XXProtectFileArray &files, const std::shared_ptr<XXFileWrapper> &destination,
               const ResultBlock &completeBlock);
    std::shared_ptr<XXFileWrapper> destinationWrapper() const { return runState().destination; }

    // With salvage on, a stored file that does not read back whole is written out as far as it
    // can be read, its damage listed in salvagedFiles(), instead of failing its item. For the
    // runs started later; off by default.
    void setSalvage(bool on);
    // The files the current (or last) run wrote out so.
    std::vector<XXSalvagedFile> salvagedFiles() const;

    // The plan of one folder entry exported into destination under name.
    static XXDecodePlan separateFolder(const std::shared_ptr<XXProtectFileWrapper> &source,
                                       const std::shared_ptr<XXFileWrapper> &destination,
                                       const std::string &name);

    using Copied = XXCopied;
    // Copies the stored file at sourcePath, of the recorded size, to a new file at
    // targetPath. chunkDone (optional) hears of every chunk written and cancels by returning
    // false. A copy that does not complete, or whose length is not the recorded size, is
    // removed; the target is never one that was there before. On failed, *systemError (when
    // given) is the errno of the call that failed, 0 for data shorter or longer than recorded.
    // *storeFailed (when given) tells a failure of the store's side (the file does not read
    // back whole) from one of the computer's.
    static Copied copyOut(const std::string &sourcePath, std::uint64_t size, const std::string &targetPath,
                          mode_t mode, const std::function<bool(std::uint64_t)> &chunkDone,
                          int *systemError = nullptr, bool *storeFailed = nullptr);
    // Writes to a new file at targetPath what can still be read of the stored file (its
    // recorded size, zeros where nothing could be read); salvaged gets the damage found. As
    // copyOut, a copy that cannot be finished or is cancelled is removed.
    static Copied salvageOut(const std::string &sourcePath, const std::string &targetPath, mode_t mode,
                             const std::function<bool(std::uint64_t)> &chunkDone, int *systemError,
                             XXSalvagedFile *salvaged);

private:
    Step processItem(const ItemPtr &item, std::uint64_t generation, const XXDecodeRun &run,
                     XXDecodeLoop &loop) override;
    std::string progressArgument(const ItemPtr &item) const override { return item->fileName(); }

    Step exportFolder(const std::shared_ptr<XXProtectFileWrapper> &item, const std::string &name,
                      const std::shared_ptr<XXFileWrapper> &destination, std::uint64_t generation);
    // copyOut, and with salvage on, salvageOut when the store could not give the file whole.
    Copied exportFile(const std::shared_ptr<XXProtectFileWrapper> &source, const std::string &targetPath,
                      std::uint64_t generation, const std::string &progressName, int *systemError);

    XXDiskFileManager &manager_;
    std::atomic<bool> salvage_{false};
    bool salvaging_ = false;  // salvage_ as the current run started; guarded by mutex_
    std::vector<XXSalvagedFile> salvaged_;  // guarded by mutex_
};
