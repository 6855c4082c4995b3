// The resumable state machine the import, export and copy/move pipelines share.
//
// A run takes the selected items one after another, in a loop, on the thread that started
// or resumed it: begin() and the continue calls return only when the run is finished, asks,
// reports a failure or is cancelled. The progress hook and the completion run on that
// thread too. On a name conflict or a failed item it reports through the run's completion
// and stops; the screens answer (exist type, error type) and the run resumes at the same
// item after a conflict, or past it after a failure (which the answer settles). Cancel only marks the run and may come from any thread: every run carries a
// generation number, and the running loop checks it after each chunk, so a cancelled or
// restarted run stops at its next check and never reports again.
//
// One loop works on a run at a time. An answer that arrives while the loop that asked is
// still inside the report's completion (given from the completion itself, or from another
// thread before the completion has returned) does not start a second loop: the asking loop
// picks the run up again once the completion returns, so the stack stays flat however many
// questions a run asks. A continue while the loop is busy, with no question pending, is
// ignored.
//
// Item is the selected entry type, ProgressArg the progress hook's third argument, RunState
// what a subclass keeps for one run (its destination, ...), LoopContext what one loop keeps
// while it goes (rebuilt at every resumption).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "XXDiskResultObject.h"
#include "XXServiceLog.h"
#include "XXTransferActivity.h"
#include "XXTransferFailure.h"
#include "XXTransferFileSteps.h"
#include "XXTransferNames.h"
#include "XXTransferTypes.h"

template <class Item, class ProgressArg, class RunState, class LoopContext>
class XXTransferMachine {
public:
    using ItemPtr = std::shared_ptr<Item>;
    using ItemArray = std::vector<ItemPtr>;
    using ProgressBlock =
        std::function<void(std::uint64_t allSize, std::uint64_t completeSize, const ProgressArg &)>;
    using ResultBlock = std::function<void(const XXDiskResultObject &)>;

    XXTransferMachine(const XXTransferMachine &) = delete;
    XXTransferMachine &operator=(const XXTransferMachine &) = delete;
    virtual ~XXTransferMachine() { activity_.removeCancelHandler(cancelToken_); }

    // The run's state, read at the moment of the call.
    ItemArray selectedFiles() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return selected_;
    }
    std::int64_t index() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return index_;
    }
    // Whether the item being processed is the selection's last.
    bool atLastItem() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return index_ + 1 >= static_cast<std::int64_t>(selected_.size());
    }
    std::uint64_t allSize() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return allSize_;
    }
    std::uint64_t completeSize() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return completeSize_;
    }
    std::uint64_t errorType() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return errorType_;
    }
    std::uint64_t existType() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return existType_;
    }
    bool isCancel() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return isCancel_;
    }
    RunState runState() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return run_;
    }
    // Why the item whose failure was reported last failed, step by step (see XXTransferFailure).
    std::vector<XXTransferFailure> failures() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return failures_;
    }
    // The name of the item at the index (the one a waiting run asks about); "" past the end.
    std::string currentItemName() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index_ < 0 || static_cast<std::uint64_t>(index_) >= selected_.size())
            return std::string();
        return selected_[static_cast<size_t>(index_)]->fileName();
    }

    void setProgressBlock(ProgressBlock block)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        progressBlock_ = std::move(block);
    }

    // Store the answer, then resume at the current item.
    void continueWithExistType(std::uint64_t type)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            existType_ = type;
            failureAsked_ = false;
        }
        continueRun();
    }
    // An answer to a failure report settles the item that failed: skipped, or the run is
    // cancelled. It is not taken again, so its source is read once and what the report said
    // is what happened to it. With no failure pending, the answer is stored for the next one.
    void continueWithErrorType(std::uint64_t type)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            errorType_ = type;
            if (failureAsked_) {
                failureAsked_ = false;
                if (type == XXErrorSkipAll || type == XXErrorSkipOne) {
                    ++index_;
                    if (type == XXErrorSkipOne)
                        errorType_ = XXErrorAsk;
                } else if (type == XXErrorCancel) {
                    resetLocked();
                    return;
                }
            }
        }
        continueRun();
    }

    // Processes the item at the index and, while they succeed, the following ones.
    void continueRun();

    // Stops the run and forgets it; no report follows. A loop in the middle of a file
    // removes that file at its next check.
    void cancel()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        resetLocked();
    }

protected:
    XXTransferMachine(XXTransferActivity &activity, XXResultArea area, bool cancelClearsProgress)
        : activity_(activity), area_(area), cancelClearsProgress_(cancelClearsProgress)
    {
        cancelToken_ = activity_.addCancelHandler([this] { cancel(); });
    }

    // What processing one item came to.
    struct Step {
        enum Kind {
            advance,  // done or skipped: go on with the next item
            question,  // report code (with name as existFileName when given) and wait
            failed,  // the failure rule decides (name becomes errorFileName)
            cancel,  // cancel the run
            stop,  // stop without a report (the run was cancelled or restarted)
        };
        Kind kind = advance;
        int code = 0;
        std::string name;
        int systemError = 0;  // errno of the call that failed the item, 0 when unknown
        bool skipped = false;  // an advance past an item that was left out, not transferred
    };
    static Step advanced() { return {Step::advance, 0, {}, 0}; }
    static Step skippedItem()
    {
        Step step = advanced();
        step.skipped = true;
        return step;
    }
    static Step asked(int code, std::string name) { return {Step::question, code, std::move(name), 0}; }
    static Step failedWith(int code, std::string name, int systemError = 0)
    {
        return {Step::failed, code, std::move(name), systemError};
    }
    static Step cancelled() { return {Step::cancel, 0, {}, 0}; }
    static Step stopped() { return {Step::stop, 0, {}, 0}; }

    // What the stored answers make of a name conflict.
    enum class ConflictAnswer { skip, freeName, cancel, report, stop };

    // Why a run cannot start (report codes 1 to 4), or 0; items gets the selection without
    // empty slots. The pipelines' own refusals follow it.
    template <class Selection, class Destination>
    static int startRefusal(bool mounted, bool loggedIn, const Selection &selection,
                            const Destination &destination, Selection &items)
    {
        if (!mounted)
            return XXReportNotMounted;
        if (!loggedIn)
            return XXReportNotLoggedIn;
        for (const auto &item : selection)
            if (item)
                items.push_back(item);
        if (items.empty())
            return XXReportNoSelection;
        if (!destination || !destination->isDirectory())
            return XXReportNoDestination;
        return 0;
    }

    // A start refused with code: the error record of this pipeline's area.
    void refuseStart(const ResultBlock &complete, int code) const
    {
        if (complete)
            complete(XXDiskResultObject::reported(area_, static_cast<XXTransferReportCode>(code)));
    }

    // The name an item takes in a store folder that holds names: its own, or a free one when
    // the stored answers say so. Otherwise *step is what to do instead (skip, cancel, the
    // conflict question, or a failure) and the result is empty.
    std::string storeNameFor(const std::string &itemName, bool isFolder,
                             const xxtransfer::XXFoldedNames &names, std::uint64_t generation, Step *step)
    {
        const int failCode = isFolder ? XXReportFolderFailed : XXReportFileFailed;
        if (!xxtransfer::canBeStoreName(itemName)) {
            XXServiceLogf("the store cannot hold the name \"%s\"", XXServiceLogEscaped(itemName).c_str());
            XXNoteTransferFailure({XXFailedStep::notStorable, itemName});
            *step = failedWith(failCode, itemName);
            return {};
        }
        if (!names.has(itemName, isFolder))
            return itemName;
        switch (answerConflict(generation)) {
        case ConflictAnswer::skip:
            *step = skippedItem();
            return {};
        case ConflictAnswer::cancel:
            *step = cancelled();
            return {};
        case ConflictAnswer::stop:
            *step = stopped();
            return {};
        case ConflictAnswer::report:
            *step = asked(isFolder ? XXReportFolderExists : XXReportFileExists, itemName);
            return {};
        case ConflictAnswer::freeName:
            break;
        }
        std::string name = xxtransfer::freeName(
            itemName, isFolder, [&](const std::string &candidate) { return names.hasAny(candidate); });
        if (!xxtransfer::canBeStoreName(name)) {
            *step = failedWith(failCode, itemName);
            return {};
        }
        return name;
    }

    virtual Step processItem(const ItemPtr &item, std::uint64_t generation, const RunState &run,
                             LoopContext &context) = 0;
    virtual ProgressArg progressArgument(const ItemPtr &item) const = 0;

    // Starts a new run with everything reset; the cancel flag is cleared.
    void begin(ItemArray items, std::uint64_t allSize, ResultBlock block, RunState run)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++generation_;
            isCancel_ = false;
            transferredCount_ = 0;
            selected_ = std::move(items);
            index_ = 0;
            allSize_ = allSize;
            completeSize_ = 0;
            block_ = std::move(block);
            errorType_ = XXErrorAsk;
            existType_ = XXExistAsk;
            failureAsked_ = false;
            failures_.clear();
            run_ = std::move(run);
        }
        continueRun();
    }

    bool isLive(std::uint64_t generation) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return generation == generation_;
    }

    // Changes the subclass's run state, if the run is still the same one.
    template <class Change>
    bool changeRun(std::uint64_t generation, Change change)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation != generation_)
            return false;
        change(run_);
        return true;
    }

    // Changes the subclass's run state of whatever run is current (an answer of its own).
    template <class Change>
    void changeCurrentRun(Change change)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(run_);
    }

    // Exist type first; with no answer to the conflict, a stored answer to a failure decides
    // (a failed folder item leaves its folder behind, which conflicts when it is retried).
    ConflictAnswer answerConflict(std::uint64_t generation)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation != generation_)
            return ConflictAnswer::stop;
        switch (existType_) {
        case XXExistSkipAll:
            return ConflictAnswer::skip;
        case XXExistSkipOne:
            existType_ = XXExistAsk;
            return ConflictAnswer::skip;
        case XXExistFreeNameAll:
            return ConflictAnswer::freeName;
        case XXExistFreeNameOne:
            existType_ = XXExistAsk;
            return ConflictAnswer::freeName;
        case XXExistAsk:
            switch (errorType_) {
            case XXErrorSkipOne:
                errorType_ = XXErrorAsk;
                return ConflictAnswer::skip;
            case XXErrorSkipAll:
                return ConflictAnswer::skip;
            case XXErrorCancel:
                return ConflictAnswer::cancel;
            default:
                return ConflictAnswer::report;
            }
        default:
            return ConflictAnswer::stop;
        }
    }

    // After a chunk: false when the run was cancelled or restarted (the caller removes what
    // it was writing); otherwise the bytes are counted and the hook is told.
    bool chunkWritten(std::uint64_t generation, std::uint64_t bytes, const ProgressArg &argument)
    {
        ProgressBlock progress;
        std::uint64_t all = 0;
        std::uint64_t done = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation != generation_)
                return false;
            if (!progressBlock_)
                return true;
            completeSize_ += bytes;
            progress = progressBlock_;
            all = allSize_;
            done = completeSize_;
        }
        progress(all, done, argument);
        return true;
    }

    void cancelRun(std::uint64_t generation)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation == generation_)
            resetLocked();
    }

private:
    void resetLocked()
    {
        ++generation_;
        isCancel_ = true;
        selected_.clear();
        index_ = 0;
        allSize_ = 0;
        completeSize_ = 0;
        block_ = nullptr;
        errorType_ = XXErrorAsk;
        existType_ = XXExistAsk;
        failureAsked_ = false;
        run_ = RunState{};
        if (cancelClearsProgress_)
            progressBlock_ = nullptr;
    }

    // Hands a report to the completion; true when an answer came meanwhile, and the loop goes
    // on. Otherwise the loop ends here, in the same step as the decision, so that an answer
    // arriving later starts a loop of its own.
    bool deliver(std::uint64_t generation, std::uint64_t loop, const XXDiskResultObject &result)
    {
        ResultBlock block;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation != generation_)
                return false;
            block = block_;
            reporting_ = true;
            resumeRequested_ = false;
        }
        if (block)
            block(result);
        std::lock_guard<std::mutex> lock(mutex_);
        const bool resume = resumeRequested_ && generation == generation_;
        if (loop == loop_) {
            reporting_ = false;
            resumeRequested_ = false;
            if (!resume)
                looping_ = false;
        }
        return resume;
    }

    void endLoop(std::uint64_t loop)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (loop == loop_) {
            looping_ = false;
            reporting_ = false;
        }
    }

    // True when the loop goes on with the index as the step left it.
    bool applyStep(const Step &step, std::uint64_t generation, std::uint64_t loop)
    {
        switch (step.kind) {
        case Step::advance: {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation != generation_)
                return false;
            ++index_;
            if (!step.skipped)
                ++transferredCount_;
            return true;
        }
        case Step::question: {
            XXDiskResultObject report =
                XXDiskResultObject::reported(area_, static_cast<XXTransferReportCode>(step.code));
            if (!step.name.empty())
                report.setExistFileName(step.name);
            return deliver(generation, loop, report);
        }
        case Step::failed: {
            std::uint64_t type;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (generation != generation_)
                    return false;
                type = errorType_;
                if (type == XXErrorSkipAll || type == XXErrorSkipOne) {
                    ++index_;
                    if (type == XXErrorSkipOne)
                        errorType_ = XXErrorAsk;
                    return true;
                }
            }
            if (type == XXErrorAsk) {
                XXDiskResultObject report = XXDiskResultObject::reported(
                    area_, static_cast<XXTransferReportCode>(step.code), step.systemError);
                report.setErrorFileName(step.name);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    failureAsked_ = generation == generation_;
                }
                return deliver(generation, loop, report);
            }
            if (type == XXErrorCancel)
                cancelRun(generation);
            return false;
        }
        case Step::cancel:
            cancelRun(generation);
            return false;
        case Step::stop:
            return false;
        }
        return false;
    }

    XXTransferActivity &activity_;
    const XXResultArea area_;
    const bool cancelClearsProgress_;
    std::uint64_t cancelToken_ = 0;

protected:
    mutable std::mutex mutex_;  // guards everything below

private:
    std::uint64_t generation_ = 0;
    bool isCancel_ = false;
    ItemArray selected_;
    std::int64_t index_ = 0;
    std::uint64_t allSize_ = 0;
    std::uint64_t completeSize_ = 0;
    ResultBlock block_;
    std::uint64_t errorType_ = XXErrorAsk;
    std::uint64_t existType_ = XXExistAsk;
    bool failureAsked_ = false;  // the item at the index failed, and the report awaits its answer
    std::vector<XXTransferFailure> failures_;  // of the item last reported failed
    ProgressBlock progressBlock_;
    RunState run_{};
    std::uint64_t transferredCount_ = 0;  // items of the run transferred, not skipped
    // The loop working on the current run: its number, whether it is asking (inside a
    // report's completion), and whether an answer came while it was.
    std::uint64_t loop_ = 0;
    std::uint64_t loopGeneration_ = 0;
    bool looping_ = false;
    bool reporting_ = false;
    bool resumeRequested_ = false;
};

template <class Item, class ProgressArg, class RunState, class LoopContext>
void XXTransferMachine<Item, ProgressArg, RunState, LoopContext>::continueRun()
{
    XXTransferActivity::Scope running(activity_);
    std::uint64_t generation;
    std::uint64_t loop;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        generation = generation_;
        if (looping_ && loopGeneration_ == generation) {
            if (reporting_)
                resumeRequested_ = true;
            return;
        }
        loop = ++loop_;
        loopGeneration_ = generation;
        looping_ = true;
    }
    struct LoopEnd {
        XXTransferMachine &machine;
        std::uint64_t loop;
        ~LoopEnd() { machine.endLoop(loop); }
    } loopEnd{*this, loop};
    LoopContext context{};
    for (;;) {
        ItemPtr item;
        RunState run;
        ProgressBlock progress;
        ResultBlock finished;
        bool atEnd = false;
        std::uint64_t transferred = 0;
        std::uint64_t all = 0;
        std::uint64_t done = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation != generation_)
                return;
            if (index_ < 0 || static_cast<std::uint64_t>(index_) >= selected_.size()) {
                // Reset before the completion runs, so the completion may start a new run.
                finished = block_;
                atEnd = true;
                transferred = transferredCount_;
                resetLocked();
            } else {
                item = selected_[static_cast<size_t>(index_)];
                run = run_;
                progress = progressBlock_;
                all = allSize_;
                done = completeSize_;
            }
        }
        if (atEnd) {
            XXDiskResultObject done = XXDiskResultObject::success(0);
            done.setSuccessValue(XXTransferOutcome{transferred});
            if (finished)
                finished(done);
            return;
        }
        if (progress)
            progress(all, done, progressArgument(item));
        std::vector<XXTransferFailure> notes;
        Step step;
        {
            XXTransferFailureScope noting(&notes);
            step = processItem(item, generation, run, context);
        }
        if (step.kind == Step::failed) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation == generation_)
                failures_ = std::move(notes);
        }
        if (!applyStep(step, generation, loop))
            return;
    }
}
