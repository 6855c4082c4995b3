#include "XXTransferConversation.h"

#include "XXDiskFileManager.h"
#include "XXTransferTypes.h"

namespace {

std::optional<XXTransferKind> transferOfArea(std::optional<XXResultArea> area)
{
    if (area == XXResultArea::importing)
        return XXTransferKind::importing;
    if (area == XXResultArea::exporting)
        return XXTransferKind::exporting;
    if (area == XXResultArea::operating)
        return XXTransferKind::operating;
    return std::nullopt;
}

}  // namespace

XXTransferCalls XXTransferCalls::forImport(XXDiskFileManager &manager)
{
    XXEncodePipeline &job = manager.importJob();
    return {[&job](std::uint64_t type) { job.continueWithExistType(type); },
            [&job](std::uint64_t type) { job.continueWithErrorType(type); }, nullptr,
            [&job] { job.cancel(); }};
}

XXTransferCalls XXTransferCalls::forExport(XXDiskFileManager &manager)
{
    XXDecodePipeline &job = manager.exportJob();
    return {[&job](std::uint64_t type) { job.continueWithExistType(type); },
            [&job](std::uint64_t type) { job.continueWithErrorType(type); }, nullptr,
            [&job] { job.cancel(); }};
}

XXTransferCalls XXTransferCalls::forOperate(XXDiskFileManager &manager)
{
    XXOperatePipeline &job = manager.operateJob();
    return {[&job](std::uint64_t type) { job.continueWithExistType(type); },
            [&job](std::uint64_t type) { job.continueWithErrorType(type); },
            [&job](std::uint64_t type) { job.continueWithToSelfType(type); }, [&job] { job.cancel(); }};
}

XXTransferQuestion XXTransferConversation::questionFor(const XXDiskResultObject &report,
                                                       std::size_t selectedCount,
                                                       const std::string &currentItemName)
{
    XXTransferQuestion question;
    const std::optional<XXTransferKind> transfer = transferOfArea(report.area());
    const std::optional<XXTransferReportCode> code = report.transferReport();
    if (!transfer || !code)
        return question;
    question.transfer = *transfer;
    question.code = *code;
    switch (question.code) {
    case XXReportFolderExists:
    case XXReportFileExists:
        question.kind = XXTransferQuestionKind::nameTaken;
        question.isFolder = question.code == XXReportFolderExists;
        question.itemName = report.existFileName();
        question.offersApplyToAll = true;
        break;
    case XXReportFolderFailed:
    case XXReportFileFailed:
        question.kind = XXTransferQuestionKind::itemFailed;
        question.isFolder = question.code == XXReportFolderFailed;
        question.itemName = report.errorFileName();
        question.offersApplyToAll = true;
        question.systemErrorNumber = report.systemErrorNumber();
        break;
    case XXReportFolderIntoItself:
        if (*transfer != XXTransferKind::operating)
            break;
        question.kind = XXTransferQuestionKind::intoItself;
        question.isFolder = true;
        question.itemName = currentItemName;
        question.offersApplyToAll = selectedCount >= 2;
        break;
    default:
        break;
    }
    return question;
}

std::optional<XXTransferCall> XXTransferConversation::callFor(const XXTransferQuestion &question,
                                                              XXTransferChoice choice, bool applyToAll)
{
    if (choice == XXTransferChoice::ask || question.kind == XXTransferQuestionKind::none)
        return std::nullopt;
    if (choice == XXTransferChoice::cancel)
        return XXTransferCall{XXTransferCall::cancel, 0};
    switch (question.kind) {
    case XXTransferQuestionKind::nameTaken:
        if (choice == XXTransferChoice::skip)
            return XXTransferCall{XXTransferCall::existType, applyToAll ? XXExistSkipAll : XXExistSkipOne};
        if (choice == XXTransferChoice::rename)
            return XXTransferCall{XXTransferCall::existType,
                                  applyToAll ? XXExistFreeNameAll : XXExistFreeNameOne};
        return XXTransferCall{XXTransferCall::cancel, 0};
    case XXTransferQuestionKind::itemFailed:
        if (choice == XXTransferChoice::skip)
            return XXTransferCall{XXTransferCall::errorType, applyToAll ? XXErrorSkipAll : XXErrorSkipOne};
        if (choice == XXTransferChoice::rename)
            return std::nullopt;
        // Closing the file failure's dialog answers with the pipeline's own cancel type.
        if (question.code == XXReportFileFailed)
            return XXTransferCall{XXTransferCall::errorType, XXErrorCancel};
        return XXTransferCall{XXTransferCall::cancel, 0};
    case XXTransferQuestionKind::intoItself:
        if (choice == XXTransferChoice::skip)
            return XXTransferCall{XXTransferCall::toSelfType, XXToSelfSkip};
        if (choice == XXTransferChoice::rename)
            return std::nullopt;
        // Nothing to go on with once the dialog (or the plain error) is dismissed.
        return XXTransferCall{XXTransferCall::cancel, 0};
    case XXTransferQuestionKind::none:
        break;
    }
    return std::nullopt;
}

bool XXTransferConversation::answer(const XXTransferQuestion &question, XXTransferChoice choice,
                                    bool applyToAll) const
{
    const std::optional<XXTransferCall> call = callFor(question, choice, applyToAll);
    if (!call)
        return false;
    const std::function<void(std::uint64_t)> *resume = nullptr;
    switch (call->kind) {
    case XXTransferCall::existType:
        resume = &calls_.continueWithExistType;
        break;
    case XXTransferCall::errorType:
        resume = &calls_.continueWithErrorType;
        break;
    case XXTransferCall::toSelfType:
        resume = &calls_.continueWithToSelfType;
        break;
    case XXTransferCall::cancel:
        if (!calls_.cancel)
            return false;
        calls_.cancel();
        return true;
    }
    if (!resume || !*resume)
        return false;
    (*resume)(call->value);
    return true;
}
