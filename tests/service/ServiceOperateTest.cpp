// Copy and move inside the protected area: report codes, the to-self question, free names,
// moves that never lose a file, cancel.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "TransferTestSupport.h"

namespace {

using ServiceOperate = TransferFixture;

TEST_F(ServiceOperate, CopyStoresEverythingAnewAndLeavesTheSource)
{
    const std::string large = randomContent(2 * 1024 * 1024 + 100, 2);
    storeAll({{"/Src/", ""},
              {"/Src/a.txt", "alpha"},
              {"/Src/empty.txt", ""},
              {"/Src/Sub/", ""},
              {"/Src/Sub/large.bin", large},
              {"/Dest/", ""}});
    Names progressNames;
    manager->operateJob().setProgressBlock(
        [&](std::uint64_t, std::uint64_t, const std::shared_ptr<XXProtectFileWrapper> &e) {
            progressNames.push_back(e->fileName());
        });
    operate({"/Src"}, "/Dest", true);
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/Dest/Src/a.txt"), "alpha");
    EXPECT_EQ(storeGet("/Dest/Src/empty.txt"), "");
    EXPECT_EQ(storeGet("/Dest/Src/Sub/large.bin"), large);
    EXPECT_EQ(storeGet("/Src/Sub/large.bin"), large);
    EXPECT_EQ(progressNames.front(), "Src");
    EXPECT_EQ(std::count(progressNames.begin(), progressNames.end(), "large.bin"), 2);

    ASSERT_TRUE(entry("/Dest/Src") && entry("/Dest/Src/Sub/large.bin"));
    EXPECT_EQ(childNames(*entry("/Dest/Src")), (Names{"Sub", "a.txt"}));  // as the source tree shows
    EXPECT_EQ(entry("/Dest/Src/Sub/large.bin")->parentWrapper(), entry("/Dest/Src/Sub").get());
    EXPECT_TRUE(entry("/Src/a.txt"));
}

TEST_F(ServiceOperate, MoveRemovesEachSourceOnlyOnceItsCopyIsComplete)
{
    storeAll({{"/loose.txt", "loose"},
              {"/Src/", ""},
              {"/Src/a.txt", "alpha"},
              {"/Src/empty.txt", ""},
              {"/Src/Deep/", ""},
              {"/Src/Deep/Deeper/", ""},
              {"/Src/Deep/Deeper/d.txt", "delta"},
              {"/Dest/", ""}});
    // Onto the folder they already live in: refused, nothing changes.
    operate({"/loose.txt", "/Src"}, "/", false);
    expectReport(lastReport(), "12+1", 10);
    EXPECT_EQ(storeList("/"), (Names{"Dest/", "loose.txt", "Src/"}));

    operate({"/loose.txt", "/Src"}, "/Dest", false);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/"), (Names{"Dest/"}));
    EXPECT_EQ(storeGet("/Dest/loose.txt"), "loose");
    EXPECT_EQ(storeGet("/Dest/Src/empty.txt"), "");
    EXPECT_EQ(storeGet("/Dest/Src/Deep/Deeper/d.txt"), "delta");
    EXPECT_EQ(childNames(*root), (Names{"Dest"}));
    EXPECT_TRUE(entry("/Dest/Src/Deep/Deeper/d.txt"));
}

TEST_F(ServiceOperate, AMoveWhoseSourceCannotBeRemovedKeepsItInStoreAndTree)
{
    storeAll({{"/keep.txt", "keep"}, {"/Src/", ""}, {"/Src/inner.txt", "inner"}, {"/Dest/", ""}});
    auto keep = entry("/keep.txt");
    auto src = entry("/Src");

    // The root folder can no longer change: the engine writes an index through
    // "<index>.lock", and a folder in its place refuses every write (unlike a full volume,
    // which a removal makes room on).
    const std::string rootLock = storeDir() + "/index.lock";
    manager->operateJob().setProgressBlock(
        [&](std::uint64_t, std::uint64_t, const std::shared_ptr<XXProtectFileWrapper> &) {
            mkdir(rootLock.c_str(), 0700);
        });
    operate({"/keep.txt", "/Src"}, "/Dest", false);
    rmdir(rootLock.c_str());
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());

    EXPECT_EQ(storeGet("/Dest/keep.txt"), "keep");
    EXPECT_EQ(storeGet("/keep.txt"), "keep");
    EXPECT_EQ(keep->parentWrapper(), root.get());
    EXPECT_TRUE(logged("__剪切删除失败___/keep.txt"));
    // The folder's file moved; the folder itself could not leave the root and stays shown.
    EXPECT_EQ(storeGet("/Dest/Src/inner.txt"), "inner");
    EXPECT_FALSE(storeGet("/Src/inner.txt"));
    EXPECT_EQ(storeList("/Src"), Names{});
    EXPECT_EQ(src->parentWrapper(), root.get());
    EXPECT_TRUE(src->allSubFileArray().empty());
    EXPECT_TRUE(logged("removeFailed__/Src"));
}

TEST_F(ServiceOperate, AFolderNeverGoesIntoItself)
{
    storeAll({{"/A/", ""}, {"/A/B/", ""}, {"/AB/", ""}, {"/c.txt", "c"}, {"/Z/", ""}});
    operate({"/A", "/c.txt"}, "/A/B", true);
    expectReport(lastReport(), "12+1", 9);
    manager->operateJob().continueWithToSelfType(XXToSelfSkip);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/A/B"), (Names{"c.txt"}));

    // "/A" is not inside "/AB".
    operate({"/A"}, "/AB", true);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/AB"), (Names{"A/"}));

    // Cancel as the answer ends the run.
    reports.clear();
    operate({"/Z", "/A"}, "/A", false);
    expectReport(lastReport(), "12+1", 9);
    manager->operateJob().continueWithToSelfType(XXToSelfCancel);
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_FALSE(storeList("/Z"));
    EXPECT_TRUE(storeList("/A/Z"));  // moved before the question
}

TEST_F(ServiceOperate, ConflictsAreFoundWhateverTheCaseAndAnsweredWithFreeNames)
{
    storeAll({{"/Src/", ""},
              {"/Src/x.txt", "new x"},
              {"/Src/y.txt", "new y"},
              {"/Dest/", ""},
              {"/Dest/X.TXT", "old x"},
              {"/Dest/y.txt", "old y"}});
    operate({"/Src/x.txt", "/Src/y.txt"}, "/Dest", true);
    expectReport(lastReport(), "12+1", 6, "x.txt");
    manager->operateJob().continueWithExistType(XXExistFreeNameOne);
    expectReport(lastReport(), "12+1", 6, "y.txt");
    manager->operateJob().continueWithExistType(XXExistFreeNameAll);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/Dest/X.TXT"), "old x");
    EXPECT_EQ(storeGet("/Dest/x(0).txt"), "new x");
    EXPECT_EQ(storeGet("/Dest/y(0).txt"), "new y");
    EXPECT_EQ(storeGet("/Dest/y.txt"), "old y");
}

TEST_F(ServiceOperate, ACancelledMoveLeavesTheSourceAndNoPartialCopy)
{
    const std::string large = randomContent(5 * 1024 * 1024, 9);
    storeAll({{"/large.bin", large}, {"/Dest/", ""}});
    manager->operateJob().setProgressBlock(
        [&](std::uint64_t, std::uint64_t done, const std::shared_ptr<XXProtectFileWrapper> &) {
            if (done > 0)
                manager->operateJob().cancel();
        });
    operate({"/large.bin"}, "/Dest", false);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(storeGet("/large.bin"), large);
    EXPECT_EQ(storeList("/Dest"), Names{});
    EXPECT_TRUE(entry("/large.bin"));
    EXPECT_TRUE(entry("/Dest")->allSubFileArray().empty());
}

}  // namespace

// A copy the full volume refuses fails with the volume's cause, and a move then keeps its
// source: nothing is lost.
TEST_F(ServiceOperate, AFullVolumeFailsTheCopyWithItsCauseAndKeepsTheSource)
{
    storeAll({{"/Src/", ""}, {"/Src/a.txt", "alpha"}});
    const std::string rootIndex = storeDir() + "/index";
    ASSERT_EQ(symlink("/dev/full", (rootIndex + ".lock").c_str()), 0);
    operate({"/Src/a.txt"}, "/", false);
    std::filesystem::remove(rootIndex + ".lock");
    expectReport(lastReport(), "12+1", 8, "a.txt");
    EXPECT_EQ(lastReport().systemErrorNumber(), ENOSPC);
    EXPECT_EQ(storeList("/"), (Names{"Src/"}));
    EXPECT_EQ(storeGet("/Src/a.txt"), "alpha");
    EXPECT_TRUE(entry("/Src/a.txt"));
}
