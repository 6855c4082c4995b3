// The export pipeline: protected files and folders saved into a folder on the computer,
// each stored file read in 2 MiB chunks through a store read handle.
//
// Nothing is written outside the destination folder and nothing there is replaced: every
// target is made new (never through a link), and an entry whose name could name anything
// but one entry of the folder fails. Only complete files stay: a file that fails or is
// cancelled is removed again. A folder is exported as the store holds it, empty files
// included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "XXFileWrapper.h"
#include "XXProtectFileWrapper.h"
#include "XXTransferMachine.h"

class XXDiskFileManager;

struct XXDecodeRun {
    std::shared_ptr<XXFileWrapper> destination;
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

    // The plan of one folder entry exported into destination under name.
    static XXDecodePlan separateFolder(const std::shared_ptr<XXProtectFileWrapper> &source,
                                       const std::shared_ptr<XXFileWrapper> &destination,
                                       const std::string &name);

    enum class Copied { done, failed, cancelled };
    // Copies the stored file at sourcePath, of the recorded size, to a new file at
    // targetPath. chunkDone (optional) hears of every chunk written and cancels by returning
    // false. A copy that does not complete, or whose length is not the recorded size, is
    // removed; the target is never one that was there before. On failed, *systemError (when
    // given) is the errno of the call that failed, 0 for data shorter or longer than recorded.
    static Copied copyOut(const std::string &sourcePath, std::uint64_t size, const std::string &targetPath,
                          mode_t mode, const std::function<bool(std::uint64_t)> &chunkDone,
                          int *systemError = nullptr);

private:
    Step processItem(const ItemPtr &item, std::uint64_t generation, const XXDecodeRun &run,
                     XXDecodeLoop &loop) override;
    std::string progressArgument(const ItemPtr &item) const override { return item->fileName(); }

    Step exportFolder(const std::shared_ptr<XXProtectFileWrapper> &item, const std::string &name,
                      const std::shared_ptr<XXFileWrapper> &destination, std::uint64_t generation);

    XXDiskFileManager &manager_;
};
