// Saving an opened copy back: the stored file is replaced only by a complete new one, and
// editors' rename-over saves are heard.
#include <fstream>

#include "FileSizeLimit.h"
#include "TransferTestSupport.h"
#include "XXPollRunLoop.h"
#include "XXWriteBack.h"

namespace {

class ServiceWriteBack : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        storeAll({{"/A/", ""}, {"/A/notes.txt", "old notes"}, {"/top.txt", "top"}});
    }
    XXDiskResultObject writeBack(const std::string &path, const std::string &changed)
    {
        return writeBackChangedCopy(*manager, entry(path), changed);
    }
    // Nothing but the named entries: no temporary left behind.
    void expectListing(const std::string &folder, const Names &names)
    {
        const auto listed = storeList(folder);
        ASSERT_TRUE(listed);
        Names sorted = *listed;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, names);
    }
    void expectFailure(const XXDiskResultObject &result)
    {
        EXPECT_FALSE(result.isSuccess());
        EXPECT_EQ(result.errorTips(), localized("String_168"));
        EXPECT_NE(result.systemErrorNumber(), 0);
    }
};

TEST_F(ServiceWriteBack, AChangedCopyReplacesTheEntryWhichKeepsItsPlaceInTheTree)
{
    auto notes = entry("/A/notes.txt");
    const std::string content = randomContent(5 * 1024 * 1024 + 17, 9);  // more than one chunk
    writeFile(computer / "notes.txt", content);
    expectSuccess(writeBack("/A/notes.txt", computer / "notes.txt"));
    EXPECT_EQ(storeGet("/A/notes.txt"), content);
    EXPECT_EQ(entry("/A/notes.txt"), notes);
    EXPECT_EQ(notes->fileSize(), content.size());
    expectListing("/A", {"notes.txt"});

    writeFile(computer / "top.txt", "new top");
    expectSuccess(writeBack("/top.txt", computer / "top.txt"));
    EXPECT_EQ(storeGet("/top.txt"), "new top");
    expectListing("/", {"A/", "top.txt"});
}

TEST_F(ServiceWriteBack, AFailedStoreLeavesTheOldEntryAsItWas)
{
    // Not a regular file, missing, or a folder: refused before the store is touched.
    expectFailure(writeBack("/A/notes.txt", computer / "missing.txt"));
    expectFailure(writeBack("/A/notes.txt", computer.path()));
    EXPECT_FALSE(writeBack("/A", computer / "missing.txt").isSuccess());
    EXPECT_EQ(storeGet("/A/notes.txt"), "old notes");

    // The volume fills up while the new content is being stored.
    writeFile(computer / "big.txt", randomContent(3 * 1024 * 1024, 4));
    {
        FileSizeLimit limit(1024 * 1024);
        expectFailure(writeBack("/A/notes.txt", computer / "big.txt"));
    }
    EXPECT_EQ(storeGet("/A/notes.txt"), "old notes");
    EXPECT_EQ(entry("/A/notes.txt")->fileSize(), 9u);
    expectListing("/A", {"notes.txt"});
}

TEST_F(ServiceWriteBack, AHiddenNameTakenByTheUserIsNeitherUsedNorTouched)
{
    storePut("/A/.notes.txt.saving0", "the user's own");
    refreshTree();
    writeFile(computer / "notes.txt", "new notes");
    expectSuccess(writeBack("/A/notes.txt", computer / "notes.txt"));
    EXPECT_EQ(storeGet("/A/.notes.txt.saving0"), "the user's own");
    EXPECT_EQ(storeGet("/A/notes.txt"), "new notes");
    expectListing("/A", {".notes.txt.saving0", "notes.txt"});
}

// Editors save by writing a new file and renaming it over the opened copy: the hook hears
// it, and writing back what it reports stores the edit.
TEST_F(ServiceWriteBack, ARenameOverSaveOfAnOpenedCopyIsHeardAndWrittenBack)
{
    XXPollRunLoop loop;
    manager->setFileWatcherRunLoop(&loop);
    std::vector<std::pair<std::shared_ptr<XXProtectFileWrapper>, std::string>> changes;
    manager->setProtectDocumentFileDidChanged(
        [&](const std::shared_ptr<XXProtectFileWrapper> &changed, const std::string &path) {
            changes.emplace_back(changed, path);
        });
    const auto copy = manager->cacheFileToComputer(entry("/A/notes.txt"));
    ASSERT_TRUE(copy);
    loop.runFor(std::chrono::milliseconds(50));
    const std::string temporary = *copy + ".tmp~";
    writeFile(temporary, "saved by an editor");
    std::filesystem::rename(temporary, *copy);
    loop.runFor(std::chrono::milliseconds(1600));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes.front().second, *copy);
    expectSuccess(writeBackChangedCopy(*manager, changes.front().first, changes.front().second));
    EXPECT_EQ(storeGet("/A/notes.txt"), "saved by an editor");

    std::shared_future<void> done = manager->cleanCacheFiles();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    loop.runFor(std::chrono::milliseconds(50));
    manager->setFileWatcherRunLoop(nullptr);
}

}  // namespace
