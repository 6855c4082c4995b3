// Copy and move inside the protected area: report codes, the to-self question, free names,
// moves that never lose a file, cancel.
#include <unistd.h>

#include "TransferTestSupport.h"

namespace {

class ServiceOperate : public TransferFixture {
protected:
    void operate(const std::vector<std::string> &paths, const std::string &destination, bool isCopy)
    {
        XXProtectFileArray entries;
        for (const std::string &path : paths)
            entries.push_back(entry(path));
        manager->operateDiskFile(entries, entry(destination), isCopy, recorder());
    }

    // Makes every write of the given index file fail, as on a full volume: the engine writes
    // an index through "<index>.lock".
    void failIndexWrites(const std::string &indexFile)
    {
        unlink((indexFile + ".lock").c_str());
        ASSERT_EQ(symlink("/dev/full", (indexFile + ".lock").c_str()), 0);
    }
};

TEST_F(ServiceOperate, ValidationReportsTheFirstFailure)
{
    storeMkdir("/A");
    storePut("/A/x.txt", "x");
    storeMkdir("/B");
    refreshTree();
    operate({}, "/B", true);
    expectReport(lastReport(), "12+1", 3);
    manager->operateDiskFile({entry("/A/x.txt")}, nullptr, true, recorder());
    expectReport(lastReport(), "12+1", 4);
    manager->operateDiskFile({entry("/A/x.txt")}, entry("/A/x.txt"), true, recorder());
    expectReport(lastReport(), "12+1", 4);
    operate({"/A/x.txt"}, "/A", false);
    expectReport(lastReport(), "12+1", 10);
    EXPECT_EQ(lastReport().errorTips(), localized("String_176"));
    manager->setIsLogin(false);
    operate({"/A/x.txt"}, "/B", true);
    expectReport(lastReport(), "12+1", 2);
    manager->logOutComplate(nullptr);
    operate({"/A/x.txt"}, "/B", true);
    expectReport(lastReport(), "12+1", 1);
}

TEST_F(ServiceOperate, CopyStoresEverythingAnewAndLeavesTheSource)
{
    storeMkdir("/Src");
    storePut("/Src/a.txt", "alpha");
    storePut("/Src/empty.txt", "");
    storeMkdir("/Src/Sub");
    const std::string large = randomContent(2 * 1024 * 1024 + 100, 2);
    storePut("/Src/Sub/large.bin", large);
    storeMkdir("/Dest");
    refreshTree();

    std::vector<std::string> progressNames;
    manager->setOperateDiskProgressBlock(
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

    auto copied = entry("/Dest/Src");
    ASSERT_TRUE(copied);
    EXPECT_EQ(childNames(*copied), (std::vector<std::string>{"Sub", "a.txt"}));  // as the source tree shows
    EXPECT_EQ(entry("/Dest/Src/Sub/large.bin")->parentWrapper(), entry("/Dest/Src/Sub").get());
    EXPECT_TRUE(entry("/Src/a.txt"));
    EXPECT_TRUE(manager->operateDiskPipeline().isCancel());
}

TEST_F(ServiceOperate, MoveRemovesEachSourceOnlyOnceItsCopyIsComplete)
{
    storePut("/loose.txt", "loose");
    storeMkdir("/Src");
    storePut("/Src/a.txt", "alpha");
    storePut("/Src/empty.txt", "");
    storeMkdir("/Src/Deep");
    storeMkdir("/Src/Deep/Deeper");
    storePut("/Src/Deep/Deeper/d.txt", "delta");
    storeMkdir("/Dest");
    refreshTree();

    operate({"/loose.txt", "/Src"}, "/Dest", false);
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"Dest/"}));
    EXPECT_EQ(storeGet("/Dest/loose.txt"), "loose");
    EXPECT_EQ(storeGet("/Dest/Src/empty.txt"), "");
    EXPECT_EQ(storeGet("/Dest/Src/Deep/Deeper/d.txt"), "delta");
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"Dest"}));
    EXPECT_TRUE(entry("/Dest/Src/Deep/Deeper/d.txt"));
}

TEST_F(ServiceOperate, AMoveWhoseSourceCannotBeRemovedKeepsItInStoreAndTree)
{
    storePut("/keep.txt", "keep");
    storeMkdir("/Src");
    storePut("/Src/inner.txt", "inner");
    storeMkdir("/Dest");
    refreshTree();
    auto keep = entry("/keep.txt");
    auto src = entry("/Src");

    // The root folder can no longer change: a failed write gives the trap up, so the hook
    // sets it again before every step.
    const std::string rootIndex = storeDir() + "/index";
    manager->setOperateDiskProgressBlock(
        [&](std::uint64_t, std::uint64_t, const std::shared_ptr<XXProtectFileWrapper> &) { failIndexWrites(rootIndex); });
    operate({"/keep.txt", "/Src"}, "/Dest", false);
    unlink((rootIndex + ".lock").c_str());
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());

    EXPECT_EQ(storeGet("/Dest/keep.txt"), "keep");
    EXPECT_EQ(storeGet("/keep.txt"), "keep");
    EXPECT_EQ(keep->parentWrapper(), root.get());
    EXPECT_TRUE(logged("__剪切删除失败___/keep.txt"));
    // The folder's file moved; the folder itself could not leave the root and stays shown.
    EXPECT_EQ(storeGet("/Dest/Src/inner.txt"), "inner");
    EXPECT_FALSE(storeGet("/Src/inner.txt"));
    EXPECT_EQ(storeList("/Src"), (std::vector<std::string>{}));
    EXPECT_EQ(src->parentWrapper(), root.get());
    EXPECT_TRUE(src->allSubFileArray().empty());
    EXPECT_TRUE(logged("removeFailed__/Src"));
}

TEST_F(ServiceOperate, AFolderNeverGoesIntoItself)
{
    storeMkdir("/A");
    storeMkdir("/A/B");
    storeMkdir("/AB");
    storePut("/c.txt", "c");
    storeMkdir("/Z");
    refreshTree();

    operate({"/A", "/c.txt"}, "/A/B", true);
    expectReport(lastReport(), "12+1", 9);
    EXPECT_EQ(lastReport().errorTips(), "不可将文件夹复制/移动到自己内部");
    manager->continueOperateDiskFileWithIsToSelfType(XXToSelfSkip);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/A/B"), (std::vector<std::string>{"c.txt"}));

    // "/A" is not inside "/AB".
    reports.clear();
    manager->operateDiskFile({entry("/A")}, entry("/AB"), true, recorder());
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/AB"), (std::vector<std::string>{"A/"}));

    // Cancel as the answer ends the run.
    reports.clear();
    manager->operateDiskFile({entry("/Z"), entry("/A")}, entry("/A"), false, recorder());
    expectReport(lastReport(), "12+1", 9);
    manager->continueOperateDiskFileWithIsToSelfType(XXToSelfCancel);
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_TRUE(manager->operateDiskPipeline().isCancel());
    EXPECT_FALSE(storeList("/Z"));
    EXPECT_TRUE(storeList("/A/Z"));  // moved before the question
}

TEST_F(ServiceOperate, ConflictsAreFoundWhateverTheCaseAndAnsweredWithFreeNames)
{
    storeMkdir("/Src");
    storePut("/Src/x.txt", "new x");
    storePut("/Src/y.txt", "new y");
    storeMkdir("/Dest");
    storePut("/Dest/X.TXT", "old x");
    storePut("/Dest/y.txt", "old y");
    refreshTree();

    operate({"/Src/x.txt", "/Src/y.txt"}, "/Dest", true);
    expectReport(lastReport(), "12+1", 6);
    EXPECT_EQ(lastReport().existFileName(), "x.txt");
    manager->continueOperateDiskFileWithIsExistType(XXExistFreeNameOne);
    expectReport(lastReport(), "12+1", 6);
    EXPECT_EQ(lastReport().existFileName(), "y.txt");
    manager->continueOperateDiskFileWithIsExistType(XXExistFreeNameAll);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/Dest/X.TXT"), "old x");
    EXPECT_EQ(storeGet("/Dest/x(0).txt"), "new x");
    EXPECT_EQ(storeGet("/Dest/y(0).txt"), "new y");
    EXPECT_EQ(storeGet("/Dest/y.txt"), "old y");
}

TEST_F(ServiceOperate, ACancelledMoveLeavesTheSourceAndNoPartialCopy)
{
    const std::string large = randomContent(5 * 1024 * 1024, 9);
    storePut("/large.bin", large);
    storeMkdir("/Dest");
    refreshTree();
    manager->setOperateDiskProgressBlock(
        [&](std::uint64_t, std::uint64_t done, const std::shared_ptr<XXProtectFileWrapper> &) {
            if (done > 0)
                manager->cancelOperateDiskFiles();
        });
    operate({"/large.bin"}, "/Dest", false);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(storeGet("/large.bin"), large);
    EXPECT_EQ(storeList("/Dest"), (std::vector<std::string>{}));
    EXPECT_TRUE(entry("/large.bin"));
    EXPECT_TRUE(entry("/Dest")->allSubFileArray().empty());
}

}  // namespace
