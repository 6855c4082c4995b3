// The copy/move pipeline inside the protected area: every stored file is read through one
// handle and written anew through another; a move removes each source only once its copy
// is complete and closed.
//
// Conflicts are found whatever the case of the names, in the tree and in the store. A
// folder is copied as the store holds it (empty files included), and a source the store
// will not remove stays where it was, in the store and in the tree. A folder never goes
// into itself: the destination is compared with it by whole path components.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "XXProtectFileWrapper.h"
#include "XXTransferMachine.h"
#include "XXTransferNames.h"

class XXDiskFileManager;

struct XXOperateRun {
    std::shared_ptr<XXProtectFileWrapper> destination;
    bool isCopy = true;
    std::uint64_t toSelfType = XXToSelfAsk;
};

struct XXOperateLoop {
    std::optional<xxtransfer::XXFoldedNames> destinationNames;
};

class XXOperatePipeline final
    : public XXTransferMachine<XXProtectFileWrapper, std::shared_ptr<XXProtectFileWrapper>, XXOperateRun,
                               XXOperateLoop> {
public:
    XXOperatePipeline(XXDiskFileManager &manager, XXTransferActivity &activity);

    // Validates ("12+1": 1 not mounted, 2 not logged in, 3 no selection, 4 no destination
    // folder, 10 the first entry already lives in the destination), then runs. Copies on
    // the calling thread until the run finishes, asks or fails (so do the continue calls,
    // continueWithToSelfType included); cancel() may come from any thread and only marks it.
    void start(const XXProtectFileArray &files, const std::shared_ptr<XXProtectFileWrapper> &destination,
               bool isCopy, const ResultBlock &complete);
    void continueWithToSelfType(std::uint64_t type);

    std::shared_ptr<XXProtectFileWrapper> destinationWrapper() const { return runState().destination; }
    bool isCopy() const { return runState().isCopy; }
    std::uint64_t toSelfType() const { return runState().toSelfType; }

    // The plan of one folder entry copied into destination under name.
    static XXOperatePlan separateFolder(const std::shared_ptr<XXProtectFileWrapper> &source,
                                        const std::shared_ptr<XXProtectFileWrapper> &destination,
                                        const std::string &name);

private:
    using Copied = XXCopied;

    Step processItem(const ItemPtr &item, std::uint64_t generation, const XXOperateRun &run,
                     XXOperateLoop &loop) override;
    std::shared_ptr<XXProtectFileWrapper> progressArgument(const ItemPtr &item) const override
    {
        return item;
    }

    Step copyFolder(const ItemPtr &item, const std::string &name, const XXOperateRun &run,
                    xxtransfer::XXFoldedNames &names, std::uint64_t generation);
    // On failed, *systemError is the errno of the engine call that failed (0 when the data
    // was shorter or longer than recorded).
    Copied copyFile(const std::string &sourcePath, std::uint64_t size, const std::string &targetPath,
                    const ItemPtr &progressEntry, std::uint64_t generation, int *systemError);

    XXDiskFileManager &manager_;
};
