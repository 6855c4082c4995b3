// The import pipeline end to end: computer folders into a real vault, every report code,
// the answers and where they resume, free names, cancel and failed writes.
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <future>
#include <thread>

#include "TransferTestSupport.h"

namespace {

class ServiceImport : public TransferFixture {
protected:
    void importItems(const XXFileArray &items, const std::shared_ptr<XXProtectFileWrapper> &destination)
    {
        manager->startEncoderSelectedFilePath(items, destination, recorder());
    }
    void importNamed(const std::vector<std::string> &relatives, const std::shared_ptr<XXProtectFileWrapper> &destination)
    {
        XXFileArray items;
        for (const std::string &relative : relatives)
            items.push_back(computerItem(relative));
        importItems(items, destination);
    }
    const XXEncodePipeline &state() const { return manager->encodePipeline(); }
};

TEST_F(ServiceImport, ValidationReportsTheFirstFailureAndStartsNothing)
{
    writeFile(computer / "a.txt", "a");
    importItems({}, root);
    expectReport(lastReport(), "8+1", 3);
    EXPECT_EQ(lastReport().errorTips(), "未选择文件");
    importNamed({"a.txt"}, nullptr);
    expectReport(lastReport(), "8+1", 4);
    importNamed({"a.txt"}, entry("/"));
    EXPECT_TRUE(lastReport().isSuccess());

    ASSERT_TRUE(run([&](const XXDiskResultBlock &b) { manager->logOutComplate(b); }).isSuccess());
    ASSERT_EQ(start(volume.path()).successCode(), 1);
    importNamed({"a.txt"}, root);
    expectReport(lastReport(), "8+1", 2);
    EXPECT_EQ(lastReport().errorTips(), "未登录");
    manager->logOutComplate(nullptr);
    importNamed({"a.txt"}, root);
    expectReport(lastReport(), "8+1", 1);
    EXPECT_EQ(reports.size(), 5u);
}

TEST_F(ServiceImport, FoldersAndFilesArriveInStoreAndTreeWithoutHiddenOnes)
{
    writeFile(computer / "Docs/report.txt", "report");
    writeFile(computer / "Docs/.DS_Store", "hidden junk");
    writeFile(computer / "Docs/Inner/deep.mp3", "12345");
    writeFile(computer / "Docs/.git/config", "hidden folder");
    std::filesystem::create_directories(computer / "Docs/Empty");
    writeFile(computer / ".profile", "chosen directly");

    std::vector<std::string> progressNames;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    manager->setEncodeProgressBlock([&](std::uint64_t all, std::uint64_t done, const std::string &name) {
        progress.emplace_back(all, done);
        progressNames.push_back(name);
    });
    importNamed({"Docs", ".profile"}, root);
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());

    EXPECT_EQ(storeGet("/Docs/report.txt"), "report");
    EXPECT_EQ(storeGet("/Docs/Inner/deep.mp3"), "12345");
    EXPECT_EQ(storeGet("/.profile"), "chosen directly");
    EXPECT_EQ(storeList("/Docs"), (std::vector<std::string>{"Empty/", "Inner/", "report.txt"}));

    // The tree holds the same, with parents and paths in step.
    auto docs = entry("/Docs");
    ASSERT_TRUE(docs);
    EXPECT_EQ(docs->parentWrapper(), root.get());
    auto deep = entry("/Docs/Inner/deep.mp3");
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->parentFolderPath(), "/Docs/Inner");
    EXPECT_EQ(deep->fileSize(), 5u);
    EXPECT_EQ(deep->fileType(), 1);
    EXPECT_TRUE(entry("/Docs/Empty"));
    EXPECT_FALSE(entry("/Docs/.DS_Store"));

    // The total leaves the hidden files out; the hook hears each item, then each chunk.
    const std::uint64_t visible = 6 + 5 + 15;
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), std::make_pair(visible, std::uint64_t{0}));
    EXPECT_EQ(progress.back(), std::make_pair(visible, visible));
    EXPECT_EQ(progressNames.front(), "Docs");
    EXPECT_NE(std::find(progressNames.begin(), progressNames.end(), "deep.mp3"), progressNames.end());
    EXPECT_TRUE(state().isCancel());  // every end goes through the reset
    EXPECT_EQ(state().index(), 0);
}

TEST_F(ServiceImport, ConflictsAskAndFreeNamesCountFromZero)
{
    storePut("/a.txt", "old a");
    storePut("/a(0).txt", "old a0");
    storeMkdir("/Photos");
    storePut("/a.tar.gz", "old tar");
    storePut("/README", "old readme");
    refreshTree();
    writeFile(computer / "a.txt", "new a");
    std::filesystem::create_directories(computer / "Photos");
    writeFile(computer / "a.tar.gz", "new tar");
    writeFile(computer / "README", "new readme");

    importNamed({"a.txt", "Photos", "a.tar.gz", "README"}, root);
    expectReport(lastReport(), "8+1", 6);
    EXPECT_EQ(lastReport().existFileName(), "a.txt");
    EXPECT_EQ(lastReport().errorTips(), "文件已存在");
    EXPECT_EQ(state().index(), 0);

    manager->continueEncodeFileWithIsExistType(XXExistFreeNameOne);
    expectReport(lastReport(), "8+1", 5);
    EXPECT_EQ(lastReport().existFileName(), "Photos");
    EXPECT_EQ(state().index(), 1);
    EXPECT_EQ(state().existType(), XXExistAsk);  // "this one" is used once

    manager->continueEncodeFileWithIsExistType(XXExistFreeNameAll);
    ASSERT_EQ(reports.size(), 3u);
    expectSuccess(lastReport());

    EXPECT_EQ(storeGet("/a.txt"), "old a");
    EXPECT_EQ(storeGet("/a(0).txt"), "old a0");
    EXPECT_EQ(storeGet("/a(1).txt"), "new a");
    EXPECT_TRUE(entry("/Photos(0)"));
    EXPECT_EQ(storeGet("/a.tar(0).gz"), "new tar");
    EXPECT_EQ(storeGet("/README(0)"), "new readme");
    EXPECT_EQ(storeGet("/README"), "old readme");
}

TEST_F(ServiceImport, NamesDifferingOnlyInCaseAndEmptyFilesTheTreeHidesStillConflict)
{
    storePut("/NOTES.TXT", "precious");
    storePut("/empty.txt", "");
    refreshTree();
    ASSERT_FALSE(entry("/empty.txt"));  // the tree leaves empty files out
    writeFile(computer / "notes.txt", "would replace");
    writeFile(computer / "EMPTY.txt", "would replace too");

    importNamed({"notes.txt", "EMPTY.txt"}, root);
    expectReport(lastReport(), "8+1", 6);
    EXPECT_EQ(lastReport().existFileName(), "notes.txt");
    manager->continueEncodeFileWithIsExistType(XXExistSkipOne);
    expectReport(lastReport(), "8+1", 6);
    EXPECT_EQ(lastReport().existFileName(), "EMPTY.txt");
    manager->continueEncodeFileWithIsExistType(XXExistSkipOne);
    expectSuccess(lastReport());

    EXPECT_EQ(storeGet("/NOTES.TXT"), "precious");
    EXPECT_EQ(storeGet("/empty.txt"), "");
}

TEST_F(ServiceImport, ApplyToAllAnswersEveryLaterConflictThisOneOnlyTheCurrent)
{
    for (const char *name : {"x.txt", "y.txt", "z.txt"}) {
        storePut(std::string("/") + name, "old");
        writeFile(computer / name, "new");
    }
    refreshTree();

    importNamed({"x.txt", "y.txt", "z.txt"}, root);
    ASSERT_EQ(reports.size(), 1u);
    manager->continueEncodeFileWithIsExistType(XXExistFreeNameAll);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    for (const char *name : {"/x(0).txt", "/y(0).txt", "/z(0).txt"})
        EXPECT_EQ(storeGet(name), "new") << name;

    reports.clear();
    refreshTree();
    importNamed({"x.txt", "y.txt", "z.txt"}, root);
    manager->continueEncodeFileWithIsExistType(XXExistFreeNameOne);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(lastReport().existFileName(), "y.txt");
    EXPECT_EQ(storeGet("/x(1).txt"), "new");
    manager->continueEncodeFileWithIsExistType(XXExistSkipAll);
    ASSERT_EQ(reports.size(), 3u);
    expectSuccess(lastReport());
    EXPECT_FALSE(storeGet("/y(1).txt"));
    EXPECT_FALSE(storeGet("/z(1).txt"));
}

TEST_F(ServiceImport, AFolderNamedLikeAFileDoesNotConflictButCannotReplaceIt)
{
    storePut("/Docs", "a file called Docs");
    refreshTree();
    std::filesystem::create_directories(computer / "Docs");
    writeFile(computer / "Docs/a.txt", "a");

    importNamed({"Docs"}, root);
    expectReport(lastReport(), "8+1", 7);
    EXPECT_EQ(lastReport().errorFileName(), "Docs");
    EXPECT_EQ(lastReport().errorTips(), "文件夹出错");
    EXPECT_EQ(storeGet("/Docs"), "a file called Docs");
    EXPECT_TRUE(logged("创建文件夹失败___/Docs"));
}

TEST_F(ServiceImport, FailedItemsFollowTheStoredErrorType)
{
    writeFile(computer / "gone.txt", "x");
    writeFile(computer / "ok.txt", "fine");
    writeFile(computer / "later.txt", "later");
    XXFileArray items{computerItem("gone.txt"), computerItem("ok.txt"), computerItem("gone2.txt"),
                      computerItem("later.txt")};
    std::filesystem::remove(computer / "gone.txt");  // vanished after it was chosen

    importItems(items, root);
    expectReport(lastReport(), "8+1", 8);
    EXPECT_EQ(lastReport().errorFileName(), "gone.txt");
    EXPECT_EQ(lastReport().errorTips(), "文件出错");

    // "Skip this one": retried once, skipped when it fails again, then asked again.
    manager->continueEncodeFileWithIsErrorType(XXErrorSkipOne);
    expectReport(lastReport(), "8+1", 8);
    EXPECT_EQ(lastReport().errorFileName(), "gone2.txt");
    EXPECT_EQ(storeGet("/ok.txt"), "fine");
    EXPECT_EQ(state().errorType(), XXErrorAsk);

    // "Cancel": no report follows, the state is reset, later items stay out.
    manager->continueEncodeFileWithIsErrorType(XXErrorCancel);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_TRUE(state().isCancel());
    EXPECT_TRUE(state().selectedFiles().empty());
    EXPECT_FALSE(state().destanceWrapper());
    EXPECT_FALSE(storeGet("/later.txt"));

    // "Skip all": every later failure is skipped silently.
    reports.clear();
    importItems(items, root);
    manager->continueEncodeFileWithIsErrorType(XXErrorSkipAll);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/later.txt"), "later");
}

TEST_F(ServiceImport, AFailedFolderResumesThroughItsNowExistingFolder)
{
    writeFile(computer / "Mixed/good.txt", "good");
    ASSERT_EQ(mkfifo((computer / "Mixed/pipe").c_str(), 0600), 0);  // no file the store can hold
    writeFile(computer / "Mixed/zlast.txt", "after the pipe");
    writeFile(computer / "next.txt", "next");

    importNamed({"Mixed", "next.txt"}, root);
    expectReport(lastReport(), "8+1", 7);
    EXPECT_EQ(lastReport().errorFileName(), "Mixed");
    // Everything else of the folder is in, and stays.
    EXPECT_EQ(storeGet("/Mixed/good.txt"), "good");
    EXPECT_EQ(storeGet("/Mixed/zlast.txt"), "after the pipe");
    EXPECT_TRUE(entry("/Mixed/good.txt"));

    // The answer re-enters at the folder, which now conflicts; the error type decides.
    manager->continueEncodeFileWithIsErrorType(XXErrorSkipOne);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/next.txt"), "next");
    EXPECT_FALSE(storeList("/Mixed(0)"));
}

TEST_F(ServiceImport, NamesTheStoreWouldTakeForOneEntryGetFreeNamesInsideAFolder)
{
    writeFile(computer / "Src/README", "upper");
    writeFile(computer / "Src/Readme", "mixed");
    writeFile(computer / "Src/Readme(0)", "taken already");

    importNamed({"Src"}, root);
    expectSuccess(lastReport());
    const auto names = storeList("/Src");
    ASSERT_TRUE(names);
    EXPECT_EQ(names->size(), 3u);
    EXPECT_EQ(storeGet("/Src/README"), "upper");
    EXPECT_EQ(storeGet("/Src/Readme(0)"), "taken already");
    EXPECT_EQ(storeGet("/Src/Readme(1)"), "mixed");
    EXPECT_TRUE(entry("/Src/Readme(1)"));
}

TEST_F(ServiceImport, NamesTheStoreCannotHoldFailWithoutWritingAnywhereElse)
{
    storeMkdir("/back");
    refreshTree();
    writeFile(computer / "what?.txt", "question");
    writeFile(computer / "Folder/back\\slash.txt", "backslash");
    writeFile(computer / "Folder/fine.txt", "fine");

    importNamed({"what?.txt"}, root);
    expectReport(lastReport(), "8+1", 8);
    importNamed({"Folder"}, root);
    expectReport(lastReport(), "8+1", 7);
    EXPECT_EQ(storeGet("/Folder/fine.txt"), "fine");
    // The backslash would have made the store put the file into "/Folder/back".
    EXPECT_EQ(storeList("/Folder"), (std::vector<std::string>{"fine.txt"}));
    EXPECT_EQ(storeList("/back"), (std::vector<std::string>{}));
}

TEST_F(ServiceImport, CancelInTheMiddleOfALargeFileLeavesNoPartialEntry)
{
    const std::string large = randomContent(5 * 1024 * 1024 + 17, 7);  // three chunks
    writeFile(computer / "first.txt", "finished before");
    writeFile(computer / "large.bin", large);
    writeFile(computer / "never.txt", "never");

    int chunksOfLarge = 0;
    manager->setEncodeProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 16 && ++chunksOfLarge == 2)  // the first chunk is written
            manager->cancelEncodeFile();
    });
    importNamed({"first.txt", "large.bin", "never.txt"}, root);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(storeGet("/first.txt"), "finished before");
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"first.txt"}));
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"first.txt"}));
    EXPECT_TRUE(state().isCancel());

    // A whole large file crosses the chunks intact.
    reports.clear();
    importNamed({"large.bin"}, root);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/large.bin"), large);
}

// Logging out while a file is being written waits for the pipeline to give the file up,
// so the store keeps no incomplete entry.
TEST_F(ServiceImport, LogoutDuringAnImportRemovesThePartialFileBeforeTheUnmount)
{
    writeFile(computer / "done.txt", "done");
    writeFile(computer / "large.bin", randomContent(7 * 1024 * 1024, 4));
    std::promise<void> writing;
    bool signalled = false;
    manager->setEncodeProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 4 && !signalled) {
            signalled = true;
            writing.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // logout starts meanwhile
        }
    });
    std::thread importer([&] { importNamed({"done.txt", "large.bin"}, root); });
    writing.get_future().wait();
    ASSERT_TRUE(run([&](const XXDiskResultBlock &b) { manager->logOutComplate(b); }).isSuccess());
    importer.join();
    EXPECT_TRUE(reports.empty());

    ASSERT_EQ(start(volume.path()).successCode(), 1);
    ASSERT_TRUE(login(password).isSuccess());
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"done.txt"}));
}

TEST_F(ServiceImport, AFailedWriteRemovesTheIncompleteEntry)
{
    writeFile(computer / "big.bin", randomContent(3 * 1024 * 1024, 3));
    {
        FileSizeLimit limit(1024 * 1024);  // the volume fills up under the object
        importNamed({"big.bin"}, root);
    }
    expectReport(lastReport(), "8+1", 8);
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{}));
    EXPECT_TRUE(root->allSubFileArray().empty());
}

TEST_F(ServiceImport, AnswersGivenInsideTheCompletionDoNotNest)
{
    constexpr int kItems = 40;
    XXFileArray items;
    for (int i = 0; i < kItems; i++) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        storePut("/" + name, "old");
        writeFile(computer / name, "new");
        items.push_back(computerItem(name));
    }
    refreshTree();
    int depth = 0;
    int deepest = 0;
    int questions = 0;
    manager->startEncoderSelectedFilePath(items, root, [&](const XXDiskResultObjct &result) {
        deepest = std::max(deepest, ++depth);
        if (!result.isSuccess()) {
            questions++;
            manager->continueEncodeFileWithIsExistType(XXExistFreeNameOne);
        }
        --depth;
    });
    EXPECT_EQ(questions, kItems);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(storeGet("/f39(0).txt"), "new");
}

// One loop works on a run: a continue while it is busy is ignored, and an answer from
// another thread before the asking completion has returned is picked up, not lost.
TEST_F(ServiceImport, OneLoopAtATimeAndNoAnswerLost)
{
    writeFile(computer / "large.bin", randomContent(3 * 1024 * 1024, 6));
    writeFile(computer / "small.txt", "small");
    bool pushed = false;
    manager->setEncodeProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 0 && !pushed) {
            pushed = true;
            std::thread([&] { manager->continueEncodeFile(); }).join();
        }
    });
    importNamed({"large.bin", "small.txt"}, root);
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"large.bin", "small.txt"}));

    reports.clear();
    refreshTree();
    manager->startEncoderSelectedFilePath({computerItem("large.bin"), computerItem("small.txt")}, root,
                                          [&](const XXDiskResultObjct &result) {
                                              reports.push_back(result);
                                              if (!result.isSuccess())
                                                  std::thread([&] {
                                                      manager->continueEncodeFileWithIsExistType(XXExistFreeNameAll);
                                                  }).join();
                                          });
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"large(0).bin", "large.bin", "small(0).txt", "small.txt"}));
}

// A selection of many items is a loop: 10,000 of them go by on a thread whose stack holds
// only a few frames. They all conflict (with names the tree holds) and are skipped, so no
// file is written and the test stays quick.
TEST_F(ServiceImport, TenThousandItemsRunOnASmallStack)
{
    constexpr int kItems = 10000;
    XXFileArray items;
    for (int i = 0; i < kItems; i++) {
        const std::string name = "n" + std::to_string(i);
        auto shown = std::make_shared<XXProtectFileWrapper>();
        shown->setParentFolderPath("/");
        shown->setFileName(name);
        shown->setFileSize(1);
        root->appendSubFile(shown);
        auto item = std::make_shared<XXFileWrapper>();
        item->setParentFolderPath(computer.path());
        item->setFileName(name);
        items.push_back(item);
    }
    std::function<void()> job = [&] {
        importItems(items, root);
        manager->continueEncodeFileWithIsExistType(XXExistSkipAll);
    };
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void *argument) -> void * {
                      (*static_cast<std::function<void()> *>(argument))();
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    ASSERT_EQ(reports.size(), 2u);
    expectReport(reports.front(), "8+1", 6);
    expectSuccess(lastReport());
}

}  // namespace
