// Why a transfer item failed, for the person: which step failed on which file, and its errno.
// The service's log keeps its own lines (the design's texts among them); these are what the
// screens and the command-line tool say. The pipelines note them on their own thread while an
// item is processed; the machine keeps those of the item it last reported failed.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum class XXFailedStep {
    readSource,  // the computer file could not be read (or is no regular file: errno 0)
    sourceChanged,  // the computer file ended before the size it had when opened
    notStorable,  // a name or kind of file the vault cannot hold
    createFolder,  // in the vault
    createFile,  // in the vault
    writeFile,  // into the vault, its close included
    commit,  // recording a batch of new files in the vault; files lists them
    readStored,  // a stored file does not read back whole
    storedFolderUnreadable,
    notExportable,  // a name no file here may have
    createTarget,  // on the computer, a file or a folder
    writeTarget,  // on the computer
};

struct XXTransferFailure {
    XXTransferFailure(XXFailedStep failedStep, std::string failedPath, int error = 0, std::uint64_t bytesDone = 0,
                      std::uint64_t bytesExpected = 0)
        : step(failedStep), path(std::move(failedPath)), systemError(error), done(bytesDone),
          expected(bytesExpected)
    {}
    XXFailedStep step;
    std::string path;  // the file (or folder) the step failed on
    int systemError;
    std::uint64_t done, expected;  // sourceChanged, readStored: bytes read of those recorded
    std::vector<std::string> files;  // commit: the files not recorded
};

// Notes a failure of the item this thread is processing; nothing when it processes none.
void XXNoteTransferFailure(XXTransferFailure failure);

// While it lives, the failures noted on this thread go to notes.
class XXTransferFailureScope {
public:
    explicit XXTransferFailureScope(std::vector<XXTransferFailure> *notes);
    ~XXTransferFailureScope();
    XXTransferFailureScope(const XXTransferFailureScope &) = delete;
    XXTransferFailureScope &operator=(const XXTransferFailureScope &) = delete;

private:
    std::vector<XXTransferFailure> *previous_;
};
