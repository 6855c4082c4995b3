// The export pipeline end to end: stored entries into real computer folders, the report
// codes, free names on the computer, names that could leave the folder, incomplete copies.
#include <sys/stat.h>

#include <algorithm>

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

    void exportEntries(const XXProtectFileArray &entries)
    {
        manager->startDecoderSelectedProtectFile(entries, destination, recorder());
    }
    void exportPaths(const std::vector<std::string> &paths)
    {
        XXProtectFileArray entries;
        for (const std::string &path : paths)
            entries.push_back(entry(path));
        exportEntries(entries);
    }
    static std::vector<std::string> modelNames(const XXFileArray &models)
    {
        std::vector<std::string> names;
        for (const auto &model : models)
            names.push_back(model->fileName());
        return names;
    }

    std::shared_ptr<XXFileWrapper> destination;
};

TEST_F(ServiceExport, ValidationReportsTheFirstFailure)
{
    storePut("/a.txt", "a");
    refreshTree();
    exportEntries({});
    expectReport(lastReport(), "7+1", 3);
    manager->startDecoderSelectedProtectFile({entry("/a.txt")}, nullptr, recorder());
    expectReport(lastReport(), "7+1", 4);
    manager->startDecoderSelectedProtectFile({entry("/a.txt")}, computerItem("missing"), recorder());
    expectReport(lastReport(), "7+1", 4);
    manager->setIsLogin(false);
    exportPaths({"/a.txt"});
    expectReport(lastReport(), "7+1", 2);
    manager->logOutComplate(nullptr);
    exportPaths({"/a.txt"});
    expectReport(lastReport(), "7+1", 1);
    EXPECT_EQ(snapshotTree(computer.path()).size(), 0u);
}

TEST_F(ServiceExport, FilesAndFoldersArriveWholeWithTheFolderModelInStep)
{
    storeMkdir("/Docs");
    storePut("/Docs/report.txt", "report");
    storePut("/Docs/empty.txt", "");  // the tree leaves it out; the export does not
    storeMkdir("/Docs/Inner");
    storePut("/Docs/Inner/deep.mp3", "12345");
    storeMkdir("/Docs/Inner/Void");
    const std::string large = randomContent(2 * 1024 * 1024 + 5, 11);
    storePut("/large.bin", large);
    refreshTree();

    std::vector<std::string> progressNames;
    manager->setDecodeProgressBlock(
        [&](std::uint64_t, std::uint64_t, const std::string &name) { progressNames.push_back(name); });
    exportPaths({"/Docs", "/large.bin"});
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());

    EXPECT_EQ(snapshotTree(computer / "out"),
              (std::vector<std::pair<std::string, std::string>>{{"Docs/Inner/deep.mp3", "12345"},
                                                                {"Docs/empty.txt", ""},
                                                                {"Docs/report.txt", "report"},
                                                                {"large.bin", large}}));
    EXPECT_TRUE(std::filesystem::is_directory(computer / "out/Docs/Inner/Void"));
    // Two chunks for the large file, each reported with its name.
    EXPECT_EQ(std::count(progressNames.begin(), progressNames.end(), "large.bin"), 3);
    EXPECT_EQ(progressNames.front(), "Docs");

    EXPECT_EQ(modelNames(destination->allWithoutHiddenFileSubFileArray()),
              (std::vector<std::string>{"Docs", "large.bin"}));
    EXPECT_EQ(modelNames(destination->allSubFolderFileArray()), (std::vector<std::string>{"Docs"}));
    auto docs = destination->allSubFolderFileArray().front();
    EXPECT_EQ(docs->fullPath(), computer / "out/Docs");
    EXPECT_TRUE(docs->fileAttributes());
    EXPECT_EQ(modelNames(docs->allWithoutHiddenFileSubFileArray()),
              (std::vector<std::string>{"Inner", "report.txt", "empty.txt"}));
    EXPECT_EQ(destination->allSubFileArray().back()->fileAttributes()->fileSize, large.size());
}

TEST_F(ServiceExport, AnythingAtTheTargetNameConflictsAndFreeNamesAvoidIt)
{
    storePut("/a.txt", "stored a");
    storeMkdir("/Photos");
    storePut("/Photos/p.png", "png");
    refreshTree();
    std::filesystem::create_directories(computer / "out/a.txt");  // a folder, not a file
    std::filesystem::create_directories(computer / "out/Photos");
    ASSERT_EQ(symlink("/nonexistent/target", (computer / "out/Photos(0)").c_str()), 0);

    exportPaths({"/a.txt", "/Photos"});
    expectReport(lastReport(), "7+1", 6);
    EXPECT_EQ(lastReport().existFileName(), "a.txt");
    manager->continueDecodeFileWithIsExistType(XXExistFreeNameOne);
    expectReport(lastReport(), "7+1", 5);
    EXPECT_EQ(lastReport().existFileName(), "Photos");
    EXPECT_EQ(readFile(computer / "out/a(0).txt"), "stored a");
    manager->continueDecodeFileWithIsExistType(XXExistFreeNameOne);
    expectSuccess(lastReport());
    // The dangling link was a name taken, not a way out.
    EXPECT_EQ(readFile(computer / "out/Photos(1)/p.png"), "png");
    EXPECT_TRUE(std::filesystem::is_symlink(computer / "out/Photos(0)"));
}

TEST_F(ServiceExport, NamesThatCouldLeaveTheFolderFailAndWriteNothing)
{
    storePut("/evil.txt", "outside");
    storeMkdir("/Box");
    storePut("/Box/x.txt", "fine");
    storePut("/Box/y.txt", "also outside");
    refreshTree();
    // A damaged or hostile name whose store path still resolves: "/Box/../evil.txt".
    auto evil = entry("/evil.txt");
    evil->setParentFolderPath("/Box");
    evil->setFileName("../evil.txt");
    entry("/Box/y.txt")->setFileName("..");

    exportEntries({evil});
    expectReport(lastReport(), "7+1", 8);
    EXPECT_EQ(lastReport().errorFileName(), "../evil.txt");
    manager->cancelDecodeFile();
    // The tree's ".." names no entry of the store; the store's own y.txt still goes out,
    // under its own name, inside the folder.
    exportPaths({"/Box"});
    expectReport(lastReport(), "7+1", 7);
    EXPECT_EQ(lastReport().errorFileName(), "Box");
    EXPECT_EQ(snapshotTree(computer.path()),
              (std::vector<std::pair<std::string, std::string>>{{"out/Box/x.txt", "fine"},
                                                                {"out/Box/y.txt", "also outside"}}));
}

TEST_F(ServiceExport, AStoredFileThatEndsEarlyOrCannotBeOpenedLeavesNoFile)
{
    storePut("/short.txt", "12345");
    storePut("/real.txt", "real");
    refreshTree();
    entry("/short.txt")->setFileSize(9);  // the store holds less than the entry says
    auto ghost = std::make_shared<XXProtectFileWrapper>();
    ghost->setParentFolderPath("/");
    ghost->setFileName("ghost.txt");
    ghost->setFileSize(3);
    root->appendSubFile(ghost);

    exportEntries({entry("/short.txt"), ghost, entry("/real.txt")});
    expectReport(lastReport(), "7+1", 8);
    EXPECT_EQ(lastReport().errorFileName(), "short.txt");
    manager->continueDecodeFileWithIsErrorType(XXErrorSkipAll);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_TRUE(logged("文件打开失败 _/ghost.txt"));
    EXPECT_EQ(snapshotTree(computer.path()),
              (std::vector<std::pair<std::string, std::string>>{{"out/real.txt", "real"}}));
    EXPECT_EQ(modelNames(destination->allSubFileArray()), (std::vector<std::string>{"real.txt"}));
}

TEST_F(ServiceExport, CancelDuringAFileDeletesItAndKeepsTheFilesBefore)
{
    storePut("/first.txt", "first");
    storePut("/large.bin", randomContent(5 * 1024 * 1024, 5));
    storePut("/never.txt", "never");
    refreshTree();
    manager->setDecodeProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 5)
            manager->cancelDecodeFile();
    });
    exportPaths({"/first.txt", "/large.bin", "/never.txt"});
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(snapshotTree(computer.path()),
              (std::vector<std::pair<std::string, std::string>>{{"out/first.txt", "first"}}));
    EXPECT_TRUE(manager->decodePipeline().isCancel());
}

}  // namespace
