// The export pipeline end to end: stored entries into real computer folders, the report
// codes, free names on the computer, names that could leave the folder, incomplete copies.
#include <sys/stat.h>

#include <algorithm>

#include "FileSizeLimit.h"
#include "TransferTestSupport.h"

namespace {

class ServiceExport : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        std::filesystem::create_directories(computer / "out");
        destination = computerItem("out");
    }

    void exportEntries(const XXProtectFileArray &items)
    {
        manager->exportJob().start(items, destination, recorder());
    }

    std::shared_ptr<XXFileWrapper> destination;
};

TEST_F(ServiceExport, FilesAndFoldersArriveWholeWithTheFolderModelInStep)
{
    const std::string large = randomContent(2 * 1024 * 1024 + 5, 11);
    // The tree leaves the empty file out; the export does not.
    storeAll({{"/Docs/", ""},
              {"/Docs/report.txt", "report"},
              {"/Docs/empty.txt", ""},
              {"/Docs/Inner/", ""},
              {"/Docs/Inner/deep.mp3", "12345"},
              {"/Docs/Inner/Void/", ""},
              {"/large.bin", large}});
    Names progressNames;
    manager->exportJob().setProgressBlock(
        [&](std::uint64_t, std::uint64_t, const std::string &name) { progressNames.push_back(name); });
    exportEntries(entries({"/Docs", "/large.bin"}));
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());

    EXPECT_EQ(snapshotTree(computer / "out"),
              (Files{{"Docs/Inner/deep.mp3", "12345"},
                     {"Docs/empty.txt", ""},
                     {"Docs/report.txt", "report"},
                     {"large.bin", large}}));
    EXPECT_TRUE(std::filesystem::is_directory(computer / "out/Docs/Inner/Void"));
    // The item, then each of its two chunks, reported with its name.
    EXPECT_EQ(std::count(progressNames.begin(), progressNames.end(), "large.bin"), 3);
    EXPECT_EQ(progressNames.front(), "Docs");

    EXPECT_EQ(namesOf(destination->allWithoutHiddenFileSubFileArray()), (Names{"Docs", "large.bin"}));
    EXPECT_EQ(namesOf(destination->allSubFolderFileArray()), (Names{"Docs"}));
    auto docs = destination->allSubFolderFileArray().front();
    EXPECT_EQ(docs->fullPath(), computer / "out/Docs");
    EXPECT_TRUE(docs->fileAttributes());
    EXPECT_EQ(namesOf(docs->allWithoutHiddenFileSubFileArray()), (Names{"Inner", "report.txt", "empty.txt"}));
    EXPECT_EQ(destination->allSubFileArray().back()->fileAttributes()->fileSize, large.size());
}

TEST_F(ServiceExport, AnythingAtTheTargetNameConflictsAndFreeNamesAvoidIt)
{
    storeAll({{"/a.txt", "stored a"}, {"/Photos/", ""}, {"/Photos/p.png", "png"}});
    std::filesystem::create_directories(computer / "out/a.txt");  // a folder, not a file
    std::filesystem::create_directories(computer / "out/Photos");
    ASSERT_EQ(symlink("/nonexistent/target", (computer / "out/Photos(0)").c_str()), 0);

    exportEntries(entries({"/a.txt", "/Photos"}));
    expectReport(lastReport(), "7+1", 6, "a.txt");
    manager->exportJob().continueWithExistType(XXExistFreeNameOne);
    expectReport(lastReport(), "7+1", 5, "Photos");
    EXPECT_EQ(readFile(computer / "out/a(0).txt"), "stored a");
    manager->exportJob().continueWithExistType(XXExistFreeNameOne);
    expectSuccess(lastReport());
    // The dangling link was a name taken, not a way out.
    EXPECT_EQ(readFile(computer / "out/Photos(1)/p.png"), "png");
    EXPECT_TRUE(std::filesystem::is_symlink(computer / "out/Photos(0)"));
}

TEST_F(ServiceExport, NamesThatCouldLeaveTheFolderFailAndWriteNothing)
{
    storeAll(
        {{"/evil.txt", "outside"}, {"/Box/", ""}, {"/Box/x.txt", "fine"}, {"/Box/y.txt", "also outside"}});
    // A damaged or hostile name whose store path still resolves: "/Box/../evil.txt".
    auto evil = entry("/evil.txt");
    evil->setParentFolderPath("/Box");
    evil->setFileName("../evil.txt");
    entry("/Box/y.txt")->setFileName("..");

    exportEntries({evil});
    expectReport(lastReport(), "7+1", 8, "../evil.txt");
    manager->exportJob().cancel();
    // The tree's ".." names no entry of the store; the store's own y.txt still goes out,
    // under its own name, inside the folder.
    exportEntries({entry("/Box")});
    expectReport(lastReport(), "7+1", 7, "Box");
    EXPECT_EQ(snapshotTree(computer.path()),
              (Files{{"out/Box/x.txt", "fine"}, {"out/Box/y.txt", "also outside"}}));
}

TEST_F(ServiceExport, AStoredFileThatEndsEarlyOrCannotBeOpenedLeavesNoFile)
{
    storeAll({{"/short.txt", "12345"}, {"/real.txt", "real"}});
    entry("/short.txt")->setFileSize(9);  // the store holds less than the entry says
    auto ghost = showGhost("/", "ghost.txt", 3);

    exportEntries({entry("/short.txt"), ghost, entry("/real.txt")});
    expectReport(lastReport(), "7+1", 8, "short.txt");
    manager->exportJob().continueWithErrorType(XXErrorSkipAll);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_TRUE(logged("文件打开失败 _/ghost.txt"));
    EXPECT_EQ(snapshotTree(computer.path()), (Files{{"out/real.txt", "real"}}));
    EXPECT_EQ(namesOf(destination->allSubFileArray()), (Names{"real.txt"}));
}

// A stored file damaged after it was written fails its item; with salvage on, what still
// reads of it is written out instead, and the pipeline lists it with its damage.
TEST_F(ServiceExport, SalvageWritesWhatReadsOfADamagedFileAndListsItsDamage)
{
    const std::string large = randomContent(3 * 1024 * 1024, 21);
    storeAll({{"/large.bin", large}, {"/fine.txt", "fine"}});
    std::string object;
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_dir *dir = fs_opendir("");
        while (const fs_dirent *d = fs_readdir(dir))
            if (std::string(d->name) == "large.bin") {
                static const char digits[] = "0123456789abcdef";
                object = storeDir() + "/";
                for (int i = 0; i < FS_ID_SIZE; i++) {
                    object += digits[d->id[i] >> 4];
                    object += digits[d->id[i] & 15];
                    if (i == 0)
                        object += "/";
                }
            }
        fs_closedir(dir);
    }
    std::string bytes = readFile(object);
    bytes[bytes.size() / 2] ^= 0x10;
    writeFile(object, bytes);

    exportEntries(entries({"/large.bin", "/fine.txt"}));
    expectReport(lastReport(), "7+1", 8, "large.bin");
    manager->exportJob().continueWithErrorType(XXErrorSkipOne);
    expectSuccess(lastReport());
    EXPECT_FALSE(std::filesystem::exists(computer / "out/large.bin"));
    EXPECT_TRUE(manager->exportJob().salvagedFiles().empty());
    std::filesystem::remove(computer / "out/fine.txt");

    manager->exportJob().setSalvage(true);
    exportEntries(entries({"/large.bin", "/fine.txt"}));
    manager->exportJob().setSalvage(false);
    expectSuccess(lastReport());
    const std::vector<XXSalvagedFile> salvaged = manager->exportJob().salvagedFiles();
    ASSERT_EQ(salvaged.size(), 1u);
    EXPECT_EQ(salvaged[0].storePath, "/large.bin");
    EXPECT_EQ(salvaged[0].targetPath, computer / "out/large.bin");
    ASSERT_FALSE(salvaged[0].ranges.empty());
    const std::string copy = readFile(computer / "out/large.bin");
    ASSERT_EQ(copy.size(), large.size());
    size_t wrong = 0;
    for (size_t i = 0; i < copy.size(); i++)
        wrong += copy[i] != large[i];
    EXPECT_LE(wrong, 17u) << "more than the damaged cipher block";
    EXPECT_EQ(readFile(computer / "out/fine.txt"), "fine");
}

TEST_F(ServiceExport, CancelDuringAFileDeletesItAndKeepsTheFilesBefore)
{
    storeAll({{"/first.txt", "first"},
              {"/large.bin", randomContent(5 * 1024 * 1024, 5)},
              {"/never.txt", "never"}});
    manager->exportJob().setProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 5)
            manager->exportJob().cancel();
    });
    exportEntries(entries({"/first.txt", "/large.bin", "/never.txt"}));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(snapshotTree(computer.path()), (Files{{"out/first.txt", "first"}}));
}

TEST_F(ServiceExport, AWriteThatFailsWhileTheNextChunkInflatesFailsTheFile)
{
    storeAll({{"/large.bin", randomContent(7 * 1024 * 1024, 6)}, {"/after.txt", "after"}});
    {
        FileSizeLimit limit(3 * 1024 * 1024);  // the computer's disk fills during the second chunk
        exportEntries(entries({"/large.bin", "/after.txt"}));
    }
    ASSERT_FALSE(reports.empty());
    EXPECT_FALSE(reports.front().isSuccess());
    EXPECT_EQ(reports.front().errorFileName(), "large.bin");
    EXPECT_FALSE(std::filesystem::exists(computer.path() + "/out/large.bin"));
}

}  // namespace

// The vault keeps one date per file, the one its list shows: the exported file takes it. A run
// whose every item was skipped succeeds, and says that nothing was transferred.
TEST_F(ServiceExport, ExportsKeepTheStoredDateAndTellHowManyItemsWentOut)
{
    storeAll({{"/a.txt", "stored a"}, {"/b.txt", "stored b"}});
    entry("/a.txt")->setCreateDateString("2021-03-04 05:06:07");
    exportEntries(entries({"/a.txt", "/b.txt"}));
    expectSuccess(lastReport());
    const auto *outcome = std::any_cast<XXTransferOutcome>(&lastReport().successValue());
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->transferredItems, 2u);
    struct stat st {};
    ASSERT_EQ(stat((computer / "out/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1614834367);  // 2021-03-04 05:06:07 UTC

    exportEntries(entries({"/a.txt", "/b.txt"}));
    expectReport(lastReport(), "7+1", 6, "a.txt");
    manager->exportJob().continueWithExistType(XXExistSkipAll);
    expectSuccess(lastReport());
    outcome = std::any_cast<XXTransferOutcome>(&lastReport().successValue());
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->transferredItems, 0u);
}
