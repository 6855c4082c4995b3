// A store holding an entry whose name no path can hold (written with the reference format):
// whatever walks the folder says so instead of passing it by, and nothing leaves the folder.
#include "ReferenceFormat.h"
#include "TransferTestSupport.h"

namespace {

class ServiceDamagedStore : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        storeMkdir("/Box");
        storePut("/Box/x.txt", "inside");
        storeMkdir("/Dest");
        // "/Box/../outside.txt" would name an entry outside Box: a hostile index entry that
        // shares x.txt's content.
        const ref::Index root = ref::readRootIndex(readFile(storeDir() + "/index"), password);
        const ref::Entry box = root.entries[0].name == "Box/" ? root.entries[0] : root.entries[1];
        const std::string boxIndex = ref::objectPath(storeDir(), box.id);
        const ref::Bytes key = ref::objectKey(root.objectKey, box.id);
        ref::Index inside =
            ref::parseIndex(ref::aesCbc(readFile(boxIndex), key, ref::objectIv(box.id), false), false);
        ref::Entry hostile = inside.entries.at(0);
        hostile.name = "../outside.txt";
        inside.entries.insert(inside.entries.begin(), hostile);
        std::filesystem::remove(boxIndex);
        writeFile(boxIndex, ref::aesCbc(ref::buildIndex(inside, false), key, ref::objectIv(box.id), true));
        refreshTree();
        ASSERT_EQ(storeList("/Box"), (std::vector<std::string>{"../outside.txt", "x.txt"}));
        ASSERT_EQ(childNames(*entry("/Box")), (std::vector<std::string>{"x.txt"}));
    }
};

TEST_F(ServiceDamagedStore, ExportWritesTheRestAndReportsTheFolder)
{
    std::filesystem::create_directories(computer / "out/Box");  // so "../" would reach "out"
    manager->exportJob().start({entry("/Box")}, computerItem("out"), recorder());
    expectReport(lastReport(), "7+1", 5);  // out/Box is taken
    manager->exportJob().continueWithExistType(XXExistFreeNameOne);
    expectReport(lastReport(), "7+1", 7);
    EXPECT_EQ(lastReport().errorFileName(), "Box");
    EXPECT_EQ(snapshotTree(computer.path()),
              (std::vector<std::pair<std::string, std::string>>{{"out/Box(0)/x.txt", "inside"}}));
}

TEST_F(ServiceDamagedStore, AMoveKeepsTheFolderWithWhatItCouldNotCopy)
{
    operate({"/Box"}, "/Dest", false);
    expectReport(lastReport(), "12+1", 7);
    EXPECT_EQ(storeGet("/Dest/Box/x.txt"), "inside");
    EXPECT_EQ(storeList("/Dest/Box"), (std::vector<std::string>{"x.txt"}));
    EXPECT_EQ(storeList("/Box"), (std::vector<std::string>{"../outside.txt"}));
    EXPECT_EQ(entry("/Box")->parentWrapper(), root.get());
}

TEST_F(ServiceDamagedStore, RemovalReportsItAndLeavesTheFolders)
{
    const XXDiskResultObject result =
        run([&](const XXDiskResultBlock &b) { manager->removeProtectedFiles({entry("/Box")}, b); });
    expectReport(result, "9+1", 1);
    EXPECT_EQ(storeList("/Box"), (std::vector<std::string>{"../outside.txt"}));
    EXPECT_TRUE(entry("/Box"));
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"Box/", "Dest/"}));
}

}  // namespace
