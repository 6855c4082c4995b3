// What the pipelines do alike with the files of a transfer: how one file's copy ended, the
// tally of a folder item's files, and the end of a store file written anew.
#pragma once

#include <string>

// How the copy of one file ended.
enum class XXCopied { done, failed, cancelled };

namespace xxtransfer {

// The failures among a folder item's files: one that fails does not stop the others, and the
// item's report carries the errno of the first (0 when unknown).
struct XXFolderFailures {
    bool any = false;
    int firstError = 0;
    void add(int systemError)
    {
        if (!any)
            firstError = systemError;
        any = true;
    }
};

// Copies a folder item's files in order: copy(record, &systemError) copies one, and stored(record)
// records one that was copied whole. Failures are tallied and the next file taken; false
// when a copy was cancelled, which ends the item at once.
template <class Records, class Copy, class Stored>
bool copyFolderFiles(const Records &records, XXFolderFailures &failures, Copy copy, Stored stored)
{
    for (const auto &record : records) {
        int systemError = 0;
        switch (copy(record, &systemError)) {
        case XXCopied::cancelled:
            return false;
        case XXCopied::failed:
            failures.add(systemError);
            continue;
        case XXCopied::done:
            break;
        }
        stored(record);
    }
    return true;
}

// Closes a store write handle, under the engine lock. A file that is not complete, or whose
// close fails, is removed again, so only whole files stay; a failed close turns done into
// failed, with its errno in *systemError.
XXCopied closeStoreTarget(int handle, XXCopied outcome, const std::string &targetPath, int *systemError);

}  // namespace xxtransfer
