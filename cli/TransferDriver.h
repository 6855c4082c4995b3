// Running one of the service's transfer pipelines from a terminal: its questions (a name
// already taken, a failed item, a folder that would go into itself) are answered by the
// command's options, or asked on the terminal with the choices the window's dialogs offer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "XXDiskFileManager.h"
#include "XXTransferFailure.h"
#include "XXTransferConversation.h"

namespace cli {

struct TransferPolicy {
    // refuse: skip and count it as a failure (the default for scripts: nothing is replaced,
    // and the exit status says something was left out).
    enum class Conflict { refuse, skip, rename, ask } conflict = Conflict::refuse;
    enum class Error { skip, ask, stop } error = Error::skip;
};

// Takes --on-conflict=skip|rename|ask and --on-error=skip|ask|stop from args. Without
// --on-conflict, conflicts are asked when standard input is a terminal, else refused.
TransferPolicy takeTransferPolicy(std::vector<std::string> &args);

// How to drive one pipeline of the manager.
struct TransferRun {
    std::function<void(const XXDiskResultBlock &)> start;
    XXTransferCalls calls;  // its answers (XXTransferCalls::forImport, ...)
    std::size_t selectedCount = 0;  // the items handed to start
    // The name of the item the run stands at (for the question that names none).
    std::function<std::string()> currentName;
    // Why the item reported failed failed (the pipeline's failures()).
    std::function<std::vector<XXTransferFailure>()> failures;
};

struct TransferWords {
    std::string failed;  // "could not be stored"
    std::string taken;  // "is already in the vault"
};

// Runs the pipeline to its end; returns the number of items that were left out against the
// user's wish (failures, refused conflicts, a cancel). Under a failure, what failed on which
// file and why; the service's own diagnostic lines go to the system log.
// The questions and their answers are the service's (XXTransferConversation); this only
// picks the answer from the options or the terminal, and says what happened.
int driveTransfer(const TransferPolicy &policy, const TransferRun &run, const TransferWords &words);

}  // namespace cli
