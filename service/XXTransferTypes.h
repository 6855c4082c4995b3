// What the three transfer pipelines (import, export, copy/move) share with the screens: the
// answers a screen gives to a question, the report codes, the progress hooks and the plans
// a folder item is broken into.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class XXFileWrapper;
class XXProtectFileWrapper;

// Answer to a name conflict. The "all" answers stay for the rest of the run; the "this one"
// answers are used once and go back to XXExistAsk.
enum XXTransferExistType : std::uint64_t {
    XXExistAsk = 0,
    XXExistSkipAll = 1,
    XXExistSkipOne = 2,
    XXExistFreeNameAll = 3,
    XXExistFreeNameOne = 4,
};

// Answer to a failed item.
enum XXTransferErrorType : std::uint64_t {
    XXErrorAsk = 0,
    XXErrorSkipAll = 1,
    XXErrorSkipOne = 2,
    XXErrorCancel = 3,
};

// Answer to a folder that would be copied or moved into itself.
enum XXTransferToSelfType : std::uint64_t {
    XXToSelfAsk = 0,
    XXToSelfSkip = 1,
    XXToSelfCancel = 2,
};

// The codes of the reports (areas "7+1", "8+1" and "12+1").
enum XXTransferReportCode : int {
    XXReportNotMounted = 1,
    XXReportNotLoggedIn = 2,
    XXReportNoSelection = 3,
    XXReportNoDestination = 4,
    XXReportFolderExists = 5,
    XXReportFileExists = 6,
    XXReportFolderFailed = 7,
    XXReportFileFailed = 8,
    XXReportFolderIntoItself = 9,
    XXReportDestinationIsParent = 10,
};

// Bytes moved per read and write of a file transfer: progress and cancel come between chunks.
inline constexpr std::uint64_t XXTransferChunkSize = 2097152;

// Progress of import and export: total bytes, bytes done, name of the item or file written.
using XXTransferProgressBlock =
    std::function<void(std::uint64_t allSize, std::uint64_t completeSize, const std::string &name)>;
// Progress of copy and move: the third argument is the entry being copied.
using XXOperateProgressBlock = std::function<void(std::uint64_t allSize, std::uint64_t completeSize,
                                                  const std::shared_ptr<XXProtectFileWrapper> &entry)>;
// The success value of a finished transfer: how many of the selected items were transferred
// (the others were skipped, by an answer to a question or after a failure).
struct XXTransferOutcome {
    std::uint64_t transferredItems = 0;
};

// A watched copy of a protected file was saved again: the entry and the copy's path.
using XXProtectDocumentChangedBlock =
    std::function<void(const std::shared_ptr<XXProtectFileWrapper> &entry, const std::string &path)>;

// --- Plans of a folder item: every folder first (parents before children), then every file.

// Import, copy and move: a folder to create in the store.
struct XXStoreFolderRecord {
    std::string createPath;  // store path
    std::shared_ptr<XXProtectFileWrapper> destinationWrapper;  // the tree folder that will hold it
    std::shared_ptr<XXProtectFileWrapper> waitFullWrapper;  // its new tree entry
};
using XXEncodeFolderRecord = XXStoreFolderRecord;
// Import: a computer file to store.
struct XXEncodeFileRecord {
    std::string sourcePath;  // computer path
    std::string destinationPath;  // store path
    std::string destinationName;  // last component of destinationPath
    std::shared_ptr<XXFileWrapper> sourceWrapper;
    std::shared_ptr<XXProtectFileWrapper> destinationWrapper;  // the new folder entry holding it
};
struct XXEncodePlan {
    std::vector<XXEncodeFolderRecord> folders;
    std::vector<XXEncodeFileRecord> files;
    // Computer paths inside the folder that cannot be imported: names the store cannot hold,
    // and items that are neither regular files nor folders. The item fails once the rest is in.
    std::vector<std::string> refusedPaths;
};

// Export: a folder to create on the computer.
struct XXDecodeFolderRecord {
    std::string createPath;  // computer path
    std::shared_ptr<XXFileWrapper> destinationWrapper;  // the computer folder that will hold it
    std::shared_ptr<XXFileWrapper> waitFullWrapper;  // its new model
};
// Export: a stored file to write to the computer.
struct XXDecodeFileRecord {
    std::string sourcePath;  // store path
    std::string destinationPath;  // computer path
    std::shared_ptr<XXProtectFileWrapper> sourceWrapper;  // its entry (made for the export when
        // the tree leaves the file out)
    std::shared_ptr<XXFileWrapper> destinationWrapper;  // the new folder model holding it
};
struct XXDecodePlan {
    std::vector<XXDecodeFolderRecord> folders;
    std::vector<XXDecodeFileRecord> files;
    // Store paths whose names no computer file may have; the item fails once the rest is out.
    std::vector<std::string> refusedPaths;
    // Store folders whose listing failed (a missing or damaged index): nothing of the item
    // is written, as an empty folder would pass for a whole one.
    std::vector<std::string> unreadableFolders;
};

using XXOperateFolderRecord = XXStoreFolderRecord;
// Copy and move: a stored file to copy.
struct XXOperateFileRecord {
    std::string sourcePath;
    std::string destinationPath;
    std::shared_ptr<XXProtectFileWrapper> sourceWrapper;
    std::shared_ptr<XXProtectFileWrapper> destinationWrapper;
    std::shared_ptr<XXProtectFileWrapper> sourceWrapperParentWrapper;  // the folder holding it
    bool sourceInTree = true;  // false for a file the tree leaves out (an empty file)
};
struct XXOperatePlan {
    std::vector<XXOperateFolderRecord> folders;
    std::vector<XXOperateFileRecord> files;
    // Store entries whose names no path can hold, and folders the store cannot list (a
    // missing or damaged index, or a folder inside itself); the item fails once the rest is
    // copied.
    std::vector<std::string> refusedPaths;
};
