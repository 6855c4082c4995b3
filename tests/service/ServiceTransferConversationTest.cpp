// The conversation of a transfer: which question each report asks, which call each answer
// makes, and that the calls really resume (or end) a waiting pipeline.
#include <cerrno>

#include "TransferTestSupport.h"
#include "XXTransferConversation.h"

namespace {

using Choice = XXTransferChoice;
using Call = XXTransferCall;
using Kind = XXTransferQuestionKind;

constexpr XXResultArea importing = XXResultArea::importing;
constexpr XXResultArea exporting = XXResultArea::exporting;
constexpr XXResultArea operating = XXResultArea::operating;

XXDiskResultObject report(XXResultArea area, int code, const std::string &name = "", int err = 0)
{
    XXDiskResultObject result =
        XXDiskResultObject::reported(area, static_cast<XXTransferReportCode>(code), err);
    if (code == 5 || code == 6)
        result.setExistFileName(name);
    else
        result.setErrorFileName(name);
    return result;
}

std::string describe(const std::optional<Call> &call)
{
    if (!call)
        return "none";
    const char *kinds[] = {"exist", "error", "toSelf", "cancel"};
    return std::string(kinds[call->kind]) + " " + std::to_string(call->value);
}

}  // namespace

TEST(TransferConversation, EachReportAsksItsQuestion)
{
    struct Case {
        XXDiskResultObject result;
        std::size_t selected;
        Kind kind;
        XXTransferKind transfer;
        bool isFolder;
        std::string name;
        bool applyToAll;
    };
    const Case cases[] = {
        {report(importing, 5, "Photos"), 1, Kind::nameTaken, XXTransferKind::importing, true, "Photos", true},
        {report(exporting, 6, "a.txt"), 1, Kind::nameTaken, XXTransferKind::exporting, false, "a.txt", true},
        {report(operating, 7, "Docs"), 3, Kind::itemFailed, XXTransferKind::operating, true, "Docs", true},
        {report(importing, 8, "b.bin"), 1, Kind::itemFailed, XXTransferKind::importing, false, "b.bin", true},
        // The to-self report names nobody: the item the run stands at is the one.
        {report(operating, 9), 2, Kind::intoItself, XXTransferKind::operating, true, "current", true},
        // Reports that end the run, and codes an area does not ask with.
        {report(operating, 10), 2, Kind::none, XXTransferKind::operating, false, "", false},
        {report(importing, 9), 2, Kind::none, XXTransferKind::importing, false, "", false},
        {report(exporting, 2), 1, Kind::none, XXTransferKind::exporting, false, "", false},
        {XXDiskResultObject::refused(XXFolderCondition::notMounted), 1, Kind::none, XXTransferKind::importing,
         false, "", false},
        {XXDiskResultObject::success(0), 1, Kind::none, XXTransferKind::importing, false, "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result.errorArea() + " " + std::to_string(c.result.errorCode()) + " of " +
                     std::to_string(c.selected));
        const XXTransferQuestion q = XXTransferConversation::questionFor(c.result, c.selected, "current");
        EXPECT_EQ(q.kind, c.kind);
        EXPECT_EQ(q.transfer, c.transfer);
        EXPECT_EQ(q.isFolder, c.isFolder);
        EXPECT_EQ(q.itemName, c.name);
        EXPECT_EQ(q.offersApplyToAll, c.applyToAll);
    }
    EXPECT_EQ(XXTransferConversation::questionFor(report(exporting, 8, "c", EIO), 1, "").systemErrorNumber,
              EIO);
}

TEST(TransferConversation, EveryAnswerToEveryQuestionMakesItsCall)
{
    const std::optional<Call> none;
    const Call cancel{Call::cancel, 0};
    auto exist = [](XXTransferExistType type) { return Call{Call::existType, type}; };
    auto error = [](XXTransferErrorType type) { return Call{Call::errorType, type}; };
    const Call toSelfSkip{Call::toSelfType, XXToSelfSkip};
    struct Row {
        XXResultArea area;
        int code;
        Choice choice;
        std::optional<Call> alone, forAll;  // without and with apply-to-all
    };
    // One row a rule: a cancel or an ask is the same whatever was asked.
    const Row rows[] = {
        {importing, 5, Choice::skip, exist(XXExistSkipOne), exist(XXExistSkipAll)},
        {importing, 5, Choice::rename, exist(XXExistFreeNameOne), exist(XXExistFreeNameAll)},
        {importing, 5, Choice::cancel, cancel, cancel},
        {importing, 5, Choice::close, cancel, cancel},
        {importing, 5, Choice::ask, none, none},
        {operating, 7, Choice::skip, error(XXErrorSkipOne), error(XXErrorSkipAll)},
        {operating, 7, Choice::rename, none, none},
        {operating, 7, Choice::close, cancel, cancel},
        {importing, 8, Choice::skip, error(XXErrorSkipOne), error(XXErrorSkipAll)},
        {importing, 8, Choice::rename, none, none},
        {importing, 8, Choice::cancel, cancel, cancel},
        {importing, 8, Choice::close, error(XXErrorCancel), error(XXErrorCancel)},  // the design's close
        {operating, 9, Choice::skip, toSelfSkip, toSelfSkip},
        {operating, 9, Choice::rename, none, none},
        {operating, 9, Choice::close, cancel, cancel},
        {operating, 10, Choice::skip, none, none},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(row.area)) + " code " + std::to_string(row.code) +
                     " choice " + std::to_string(static_cast<int>(row.choice)));
        const XXTransferQuestion q =
            XXTransferConversation::questionFor(report(row.area, row.code, "x"), 2, "x");
        EXPECT_EQ(describe(XXTransferConversation::callFor(q, row.choice, false)), describe(row.alone));
        EXPECT_EQ(describe(XXTransferConversation::callFor(q, row.choice, true)), describe(row.forAll));
    }
}

TEST(TransferConversation, AnAnswerReachesTheMatchingCallOnly)
{
    std::vector<std::string> made;
    XXTransferCalls calls;
    calls.continueWithExistType = [&](std::uint64_t t) { made.push_back("exist " + std::to_string(t)); };
    calls.continueWithErrorType = [&](std::uint64_t t) { made.push_back("error " + std::to_string(t)); };
    calls.cancel = [&] { made.push_back("cancel"); };
    const XXTransferConversation conversation(calls);  // no to-self answer: an import

    EXPECT_TRUE(conversation.answer(XXTransferConversation::questionFor(report(importing, 6, "a"), 1, ""),
                                    Choice::rename, true));
    EXPECT_TRUE(conversation.answer(XXTransferConversation::questionFor(report(importing, 8, "a"), 1, ""),
                                    Choice::close, false));
    EXPECT_TRUE(conversation.answer(XXTransferConversation::questionFor(report(importing, 7, "a"), 1, ""),
                                    Choice::cancel, false));
    EXPECT_FALSE(conversation.answer(XXTransferConversation::questionFor(report(importing, 7, "a"), 1, ""),
                                     Choice::ask, false));
    // A to-self question cannot be answered through calls that have no to-self answer.
    XXTransferQuestion intoItself;
    intoItself.kind = Kind::intoItself;
    EXPECT_FALSE(conversation.answer(intoItself, Choice::skip, false));
    EXPECT_EQ(made, (std::vector<std::string>{"exist 3", "error 3", "cancel"}));
}

// Against a real copy: the question's name is the pipeline's current item, and the calls of
// forOperate resume it.
class ServiceTransferConversation : public TransferFixture {};

TEST_F(ServiceTransferConversation, TheManagersCallsResumeAWaitingCopy)
{
    storeAll({{"/A/", ""}, {"/A/B/", ""}, {"/A/x.txt", "ex"}, {"/Dest/", ""}, {"/Dest/x.txt", "old"}});
    const XXTransferConversation conversation(XXTransferCalls::forOperate(*manager));
    auto question = [&](std::size_t selected) {
        return XXTransferConversation::questionFor(lastReport(), selected,
                                                   manager->operateJob().currentItemName());
    };

    operate({"/A"}, "/A/B", true);
    XXTransferQuestion q = question(1);
    EXPECT_EQ(q.kind, Kind::intoItself);
    EXPECT_EQ(q.itemName, "A");
    EXPECT_FALSE(q.offersApplyToAll);
    ASSERT_TRUE(conversation.answer(q, Choice::close, false));
    EXPECT_TRUE(manager->operateJob().isCancel());
    EXPECT_EQ(storeList("/A/B"), Names{});

    reports.clear();
    operate({"/A", "/A/x.txt"}, "/Dest", true);
    // /A copies; /A/x.txt meets /Dest/x.txt.
    q = question(2);
    ASSERT_EQ(q.kind, Kind::nameTaken);
    EXPECT_EQ(q.itemName, "x.txt");
    ASSERT_TRUE(conversation.answer(q, Choice::rename, false));
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/Dest/x.txt"), "old");
    EXPECT_EQ(storeGet("/Dest/x(0).txt"), "ex");
    EXPECT_EQ(storeGet("/Dest/A/x.txt"), "ex");
}
