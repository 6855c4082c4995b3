// The conversation of a transfer pipeline with its user, shared by every screen that runs
// one (the terminal's prompts, the window's conflict dialogs): which question a report
// asks, and which continue call (or cancel) an answer makes.
//
// A pipeline stops at a name conflict (codes 5, 6), a failed item (7, 8) or a folder that
// would go into itself (9, copy and move only) and waits; everything else it reports ends
// the run. The answers follow the window's dialogs:
//
//   question      skip                         rename                   cancel   close
//   name taken    exist type 2 (all: 1)        exist type 4 (all: 3)    cancel   cancel
//   item failed   error type 2 (all: 1)        -                        cancel   code 7: cancel,
//                                                                                code 8: error type 3
//   into itself   to-self type 1               -                        cancel   cancel
//
// ("all": the apply-to-all box was ticked; the to-self skip always holds for the rest of the
// run.) Error type 3 is not a plain cancel: the pipeline takes the failed file once more and
// cancels only if it fails again.
//
// The continue calls run the pipeline on the calling thread until its next report (see
// XXDiskFileManager.h), so a window answers from a worker thread, never its event thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "XXDiskResultObject.h"

class XXDiskFileManager;

enum class XXTransferKind {
    importing,  // "8+1", into the protected area
    exporting,  // "7+1", to the computer
    operating,  // "12+1", copy or move inside the protected area
};

enum class XXTransferQuestionKind {
    none,  // not a question: the run finished, or the report ended it (show its tip)
    nameTaken,  // codes 5 and 6
    itemFailed,  // codes 7 and 8
    intoItself,  // code 9
};

struct XXTransferQuestion {
    XXTransferQuestionKind kind = XXTransferQuestionKind::none;
    XXTransferKind transfer = XXTransferKind::importing;
    int code = 0;  // the report's code
    bool isFolder = false;  // the item is a folder (codes 5, 7 and 9)
    std::string itemName;  // the item the question is about
    // The answer may be given for every later question of this kind. Without it, a folder
    // going into itself is no choice at all: the window shows the report's text as an error
    // (its OK is close), as there is no other item to go on with.
    bool offersApplyToAll = false;
    int systemErrorNumber = 0;  // of a failed item, when known
};

enum class XXTransferChoice {
    ask,  // no answer yet: ask the user
    skip,
    rename,  // numbered free name; name conflicts only
    cancel,  // the dialog's cancelling button
    close,  // the dialog closed without a button
};

// The call an answer makes.
struct XXTransferCall {
    enum Kind { existType, errorType, toSelfType, cancel } kind = cancel;
    std::uint64_t value = 0;  // the type passed; 0 for cancel

    bool operator==(const XXTransferCall &other) const { return kind == other.kind && value == other.value; }
};

// The pipeline's answers, as XXDiskFileManager offers them for one kind of transfer.
struct XXTransferCalls {
    std::function<void(std::uint64_t)> continueWithExistType;
    std::function<void(std::uint64_t)> continueWithErrorType;
    std::function<void(std::uint64_t)> continueWithToSelfType;  // copy and move only
    std::function<void()> cancel;

    static XXTransferCalls forImport(XXDiskFileManager &manager);
    static XXTransferCalls forExport(XXDiskFileManager &manager);
    static XXTransferCalls forOperate(XXDiskFileManager &manager);
};

class XXTransferConversation {
public:
    explicit XXTransferConversation(XXTransferCalls calls) : calls_(std::move(calls)) {}

    // What report asks. selectedCount is the number of items the run was started with;
    // currentItemName names the item the run stands at (the pipeline's currentItemName()),
    // for the report that names none (code 9).
    static XXTransferQuestion questionFor(const XXDiskResultObject &report, std::size_t selectedCount,
                                          const std::string &currentItemName);

    // The call that choice makes; nothing for ask, for a choice the question does not
    // offer (rename of a failed item) and for no question.
    static std::optional<XXTransferCall> callFor(const XXTransferQuestion &question, XXTransferChoice choice,
                                                 bool applyToAll);

    // Makes that call; false when there is none (nothing was called: ask the user).
    bool answer(const XXTransferQuestion &question, XXTransferChoice choice, bool applyToAll) const;

private:
    XXTransferCalls calls_;
};
