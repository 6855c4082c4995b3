// The import pipeline end to end: computer folders into a real vault, every report code,
// the answers and where they resume, free names, cancel and failed writes; and the checks
// all three pipelines make before they start.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>
#include <thread>

#include "FileSizeLimit.h"
#include "TransferTestSupport.h"

namespace {

// Runs job on a thread whose stack holds only a few frames.
void runOnSmallStack(std::function<void()> job)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    auto body = [](void *argument) -> void * {
        (*static_cast<std::function<void()> *>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

class ServiceImport : public TransferFixture {
protected:
    void importItems(const XXFileArray &items, const std::shared_ptr<XXProtectFileWrapper> &destination)
    {
        manager->importJob().start(items, destination, recorder());
    }
    void importNamed(const Names &relatives, const std::shared_ptr<XXProtectFileWrapper> &destination)
    {
        XXFileArray items;
        for (const std::string &relative : relatives)
            items.push_back(computerItem(relative));
        importItems(items, destination);
    }
    const XXEncodePipeline &state() const { return manager->importJob(); }
};

// The three pipelines check their start in the same order and start nothing on a failure.
TEST_F(ServiceImport, EveryPipelineValidatesInTheSameOrder)
{
    writeFile(computer / "a.txt", "a");
    storeAll({{"/a.txt", "a"}, {"/B/", ""}});
    enum Destination { none, notAFolder, folder };
    auto expectEach = [&](bool withItems, Destination to, std::int64_t code) {
        const XXFileArray chosen = withItems ? XXFileArray{computerItem("a.txt")} : XXFileArray{};
        const XXProtectFileArray stored = withItems ? entries({"/a.txt"}) : XXProtectFileArray{};
        reports.clear();
        manager->importJob().start(chosen, to == none ? nullptr : entry(to == folder ? "/" : "/a.txt"),
                                   recorder());
        manager->exportJob().start(stored, to == none ? nullptr : computerItem(to == folder ? "" : "missing"),
                                   recorder());
        manager->operateJob().start(stored, to == none ? nullptr : entry(to == folder ? "/B" : "/a.txt"),
                                    true, recorder());
        ASSERT_EQ(reports.size(), 3u) << "code " << code;
        const char *areas[] = {"8+1", "7+1", "12+1"};
        for (size_t i = 0; i < 3; i++) {
            SCOPED_TRACE(std::string(areas[i]) + " code " + std::to_string(code));
            expectReport(reports[i], areas[i], code);
        }
    };
    expectEach(false, folder, 3);
    expectEach(true, none, 4);
    expectEach(true, notAFolder, 4);
    manager->setIsLogin(false);
    expectEach(true, folder, 2);
    EXPECT_EQ(storeList("/"), (Names{"a.txt", "B/"}));
    EXPECT_EQ(storeList("/B"), Names{});
    manager->logOutComplete(nullptr);
    expectEach(true, folder, 1);
    EXPECT_EQ(snapshotTree(computer.path()), (Files{{"a.txt", "a"}}));
}

TEST_F(ServiceImport, FoldersAndFilesArriveInStoreAndTreeWithoutHiddenOnes)
{
    writeComputer({{"Docs/report.txt", "report"},
                   {"Docs/.DS_Store", "hidden junk"},
                   {"Docs/Empty/", ""},
                   {"Docs/Inner/deep.mp3", "12345"},
                   {"Docs/.git/config", "hidden folder"},
                   {".profile", "chosen directly"}});
    Names progressNames;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    manager->importJob().setProgressBlock(
        [&](std::uint64_t all, std::uint64_t done, const std::string &name) {
            progress.emplace_back(all, done);
            progressNames.push_back(name);
        });
    importNamed({"Docs", ".profile"}, root);
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/Docs/report.txt"), "report");
    EXPECT_EQ(storeGet("/Docs/Inner/deep.mp3"), "12345");
    EXPECT_EQ(storeGet("/.profile"), "chosen directly");
    EXPECT_EQ(storeList("/Docs"), (Names{"Empty/", "Inner/", "report.txt"}));

    // The tree holds the same, with parents and paths in step.
    ASSERT_TRUE(entry("/Docs") && entry("/Docs/Inner/deep.mp3") && entry("/Docs/Empty"));
    EXPECT_EQ(entry("/Docs")->parentWrapper(), root.get());
    auto deep = entry("/Docs/Inner/deep.mp3");
    EXPECT_EQ(deep->parentFolderPath(), "/Docs/Inner");
    EXPECT_EQ(deep->fileSize(), 5u);
    EXPECT_EQ(deep->fileType(), 1);
    EXPECT_FALSE(entry("/Docs/.DS_Store"));

    // The total leaves the hidden files out; the hook hears each item, then each chunk.
    const std::uint64_t visible = 6 + 5 + 15;
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), std::make_pair(visible, std::uint64_t{0}));
    EXPECT_EQ(progress.back(), std::make_pair(visible, visible));
    EXPECT_EQ(progressNames.front(), "Docs");
    EXPECT_NE(std::find(progressNames.begin(), progressNames.end(), "deep.mp3"), progressNames.end());
}

// "This one" answers the current conflict only, "all" every later one without a report.
// Names that differ only in case, and empty files the tree leaves out, conflict as well.
TEST_F(ServiceImport, ConflictsAskAndFreeNamesCountFromZero)
{
    storeAll({{"/a.txt", "old a"},
              {"/a(0).txt", "old a0"},
              {"/Photos/", ""},
              {"/NOTES.TXT", "precious"},
              {"/empty.txt", ""},
              {"/a.tar.gz", "old tar"},
              {"/README", "old readme"}});
    ASSERT_FALSE(entry("/empty.txt"));
    writeComputer({{"a.txt", "new a"},
                   {"Photos/", ""},
                   {"notes.txt", "new notes"},
                   {"EMPTY.txt", "new empty"},
                   {"a.tar.gz", "new tar"},
                   {"README", "new readme"}});

    importNamed({"a.txt", "Photos", "notes.txt", "EMPTY.txt", "a.tar.gz", "README"}, root);
    expectReport(lastReport(), "8+1", 6, "a.txt");
    manager->importJob().continueWithExistType(XXExistFreeNameOne);
    expectReport(lastReport(), "8+1", 5, "Photos");
    manager->importJob().continueWithExistType(XXExistFreeNameAll);
    ASSERT_EQ(reports.size(), 3u);
    expectSuccess(lastReport());

    for (const auto &[path, content] : Files{{"/a.txt", "old a"},
                                             {"/a(0).txt", "old a0"},
                                             {"/a(1).txt", "new a"},
                                             {"/NOTES.TXT", "precious"},
                                             {"/notes(0).txt", "new notes"},
                                             {"/empty.txt", ""},
                                             {"/EMPTY(0).txt", "new empty"},
                                             {"/a.tar(0).gz", "new tar"},
                                             {"/README", "old readme"},
                                             {"/README(0)", "new readme"}})
        EXPECT_EQ(storeGet(path), content) << path;
    EXPECT_TRUE(entry("/Photos(0)"));
}

TEST_F(ServiceImport, FailedItemsFollowTheStoredErrorType)
{
    writeComputer({{"gone.txt", "x"}, {"ok.txt", "fine"}, {"later.txt", "later"}});
    XXFileArray items{computerItem("gone.txt"), computerItem("ok.txt"), computerItem("gone2.txt"),
                      computerItem("later.txt")};
    std::filesystem::remove(computer / "gone.txt");  // vanished after it was chosen

    importItems(items, root);
    expectReport(lastReport(), "8+1", 8, "gone.txt");
    EXPECT_EQ(lastReport().systemErrorNumber(), ENOENT);  // the cause travels with the report

    // "Skip this one": skipped, not read again, then asked again.
    manager->importJob().continueWithErrorType(XXErrorSkipOne);
    expectReport(lastReport(), "8+1", 8, "gone2.txt");
    EXPECT_EQ(storeGet("/ok.txt"), "fine");

    // "Cancel": no report follows, later items stay out.
    manager->importJob().continueWithErrorType(XXErrorCancel);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_FALSE(storeGet("/later.txt"));

    // "Skip all": every later failure is skipped silently.
    reports.clear();
    importItems(items, root);
    manager->importJob().continueWithErrorType(XXErrorSkipAll);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/later.txt"), "later");
}

// A source that shrinks while it is read fails, and the answer skips it: it is not read a
// second time, so nothing is stored that the report said was not.
TEST_F(ServiceImport, ASourceThatShrinksWhileReadIsStoredAsReported)
{
    writeComputer({{"shrinks.bin", randomContent(5 * 1024 * 1024, 3)}, {"after.txt", "after"}});
    const std::string source = computer / "shrinks.bin";
    manager->importJob().setProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "shrinks.bin" && done > 0) {
            ASSERT_EQ(truncate(source.c_str(), 1000), 0);
        }
    });
    importNamed({"shrinks.bin", "after.txt"}, root);
    expectReport(lastReport(), "8+1", 8, "shrinks.bin");
    EXPECT_FALSE(storeGet("/shrinks.bin"));
    manager->importJob().continueWithErrorType(XXErrorSkipOne);
    expectSuccess(lastReport());
    EXPECT_FALSE(storeGet("/shrinks.bin")) << "stored after all, on a second reading";
    EXPECT_EQ(storeGet("/after.txt"), "after");
    EXPECT_EQ(childNames(*root), (Names{"after.txt"}));
}

// A batch that cannot be recorded fails the item it ends with, and its reasons name every
// file left out, with the cause.
TEST_F(ServiceImport, AFailedCommitNamesTheFilesItLeavesOut)
{
    writeComputer({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    XXEncodePipeline::setCommitInterval(std::chrono::hours(1));
    const std::string lock = storeDir() + "/index.lock";  // where the root index is written
    manager->importJob().setProgressBlock([&](std::uint64_t, std::uint64_t, const std::string &name) {
        if (name == "c.txt")
            std::filesystem::create_directory(lock);
    });
    importNamed({"a.txt", "b.txt", "c.txt"}, root);
    XXEncodePipeline::setCommitInterval(std::chrono::milliseconds(500));
    std::filesystem::remove(lock);
    expectReport(lastReport(), "8+1", 8, "c.txt");
    const std::vector<XXTransferFailure> failures = state().failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].step, XXFailedStep::commit);
    EXPECT_EQ(failures[0].systemError, EISDIR);
    EXPECT_EQ(failures[0].files, (Names{"/a.txt", "/b.txt", "/c.txt"}));
    EXPECT_EQ(storeList("/"), Names{});
    EXPECT_TRUE(childNames(*root).empty());
}

// What the store cannot take fails its item, once the rest of a folder is in, and is written
// nowhere else: a name with "?" or "\", a named pipe, a folder where a stored file has its
// name (no conflict, and no folder either). The answer re-enters at a failed folder, which
// now exists and conflicts, so the error type decides. Names the store would take for one
// entry ("README", "Readme") get free names.
TEST_F(ServiceImport, WhatTheStoreCannotTakeFailsItsItemAndNothingElse)
{
    storeAll({{"/back/", ""}, {"/Docs", "a file called Docs"}});
    writeComputer({{"what?.txt", "question"},
                   {"Docs/a.txt", "a"},
                   {"Folder/back\\slash.txt", "backslash"},
                   {"Folder/fine.txt", "fine"},
                   {"Folder/zlast.txt", "after the pipe"},
                   {"Src/README", "upper"},
                   {"Src/Readme", "mixed"},
                   {"Src/Readme(0)", "taken already"}});
    ASSERT_EQ(mkfifo((computer / "Folder/pipe").c_str(), 0600), 0);
    importNamed({"what?.txt", "Docs", "Folder", "Src"}, root);
    expectReport(lastReport(), "8+1", 8, "what?.txt");
    manager->importJob().continueWithErrorType(XXErrorSkipOne);
    expectReport(lastReport(), "8+1", 7, "Docs");
    EXPECT_TRUE(logged("创建文件夹失败___/Docs"));
    manager->importJob().continueWithErrorType(XXErrorSkipOne);
    expectReport(lastReport(), "8+1", 7, "Folder");
    EXPECT_TRUE(entry("/Folder/fine.txt"));
    manager->importJob().continueWithErrorType(XXErrorSkipOne);
    ASSERT_EQ(reports.size(), 4u);
    expectSuccess(lastReport());

    EXPECT_EQ(storeGet("/Docs"), "a file called Docs");
    // The backslash would have made the store put the file into "/Folder/back".
    EXPECT_EQ(storeList("/Folder"), (Names{"fine.txt", "zlast.txt"}));
    EXPECT_EQ(storeGet("/Folder/zlast.txt"), "after the pipe");
    EXPECT_EQ(storeList("/back"), Names{});
    EXPECT_FALSE(storeList("/Folder(0)"));
    EXPECT_EQ(storeList("/Src"), (Names{"README", "Readme(0)", "Readme(1)"}));
    EXPECT_EQ(storeGet("/Src/README"), "upper");
    EXPECT_EQ(storeGet("/Src/Readme(0)"), "taken already");
    EXPECT_EQ(storeGet("/Src/Readme(1)"), "mixed");
    EXPECT_TRUE(entry("/Src/Readme(1)"));
}

TEST_F(ServiceImport, CancelInTheMiddleOfALargeFileLeavesNoPartialEntry)
{
    const std::string large = randomContent(5 * 1024 * 1024 + 17, 7);  // three chunks
    writeComputer({{"first.txt", "finished before"}, {"large.bin", large}, {"never.txt", "never"}});

    int chunksOfLarge = 0;
    manager->importJob().setProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 16 && ++chunksOfLarge == 2)  // the first chunk is written
            manager->importJob().cancel();
    });
    importNamed({"first.txt", "large.bin", "never.txt"}, root);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(storeGet("/first.txt"), "finished before");
    EXPECT_EQ(storeList("/"), (Names{"first.txt"}));
    EXPECT_EQ(childNames(*root), (Names{"first.txt"}));
}

// Logging out while a file is being written waits for the pipeline to give the file up,
// so the store keeps no incomplete entry.
TEST_F(ServiceImport, LogoutDuringAnImportRemovesThePartialFileBeforeTheUnmount)
{
    writeComputer({{"done.txt", "done"}, {"large.bin", randomContent(7 * 1024 * 1024, 4)}});
    std::promise<void> writing;
    bool signalled = false;
    manager->importJob().setProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 4 && !signalled) {
            signalled = true;
            writing.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // logout starts meanwhile
        }
    });
    std::thread importer([&] { importNamed({"done.txt", "large.bin"}, root); });
    writing.get_future().wait();
    ASSERT_TRUE(run([&](const XXDiskResultBlock &b) { manager->logOutComplete(b); }).isSuccess());
    importer.join();
    EXPECT_TRUE(reports.empty());

    ASSERT_EQ(start(volume.path()).successCode(), 1);
    ASSERT_TRUE(login(password).isSuccess());
    EXPECT_EQ(storeList("/"), (Names{"done.txt"}));
}

TEST_F(ServiceImport, AFailedWriteRemovesTheIncompleteEntry)
{
    writeFile(computer / "big.bin", randomContent(3 * 1024 * 1024, 3));
    {
        FileSizeLimit limit(1024 * 1024);  // the volume fills up under the object
        importNamed({"big.bin"}, root);
    }
    expectReport(lastReport(), "8+1", 8);
    EXPECT_EQ(lastReport().systemErrorNumber(), EFBIG);
    EXPECT_EQ(storeList("/"), Names{});
    EXPECT_TRUE(root->allSubFileArray().empty());
}

// One loop works on a run: a continue while it is busy is ignored, and an answer from
// another thread before the asking completion has returned is picked up, not lost.
TEST_F(ServiceImport, OneLoopAtATimeAndNoAnswerLost)
{
    const std::string large = randomContent(3 * 1024 * 1024, 6);
    writeComputer({{"large.bin", large}, {"small.txt", "small"}});
    bool pushed = false;
    manager->importJob().setProgressBlock([&](std::uint64_t, std::uint64_t done, const std::string &name) {
        if (name == "large.bin" && done > 0 && !pushed) {
            pushed = true;
            std::thread([&] { manager->importJob().continueRun(); }).join();
        }
    });
    importNamed({"large.bin", "small.txt"}, root);
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/"), (Names{"large.bin", "small.txt"}));
    EXPECT_EQ(storeGet("/large.bin"), large);  // whole across its chunks

    reports.clear();
    refreshTree();
    auto answerFromAnotherThread = [&](const XXDiskResultObject &result) {
        reports.push_back(result);
        if (!result.isSuccess())
            std::thread([&] { manager->importJob().continueWithExistType(XXExistFreeNameAll); }).join();
    };
    manager->importJob().start({computerItem("large.bin"), computerItem("small.txt")}, root,
                               answerFromAnotherThread);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeList("/"), (Names{"large(0).bin", "large.bin", "small(0).txt", "small.txt"}));
}

// A selection of many items is a loop, and answers given inside the completion do not nest:
// 10,000 items go by on a thread whose stack holds only a few frames. They all conflict
// (with names the tree holds) and are skipped, so no file is written and the test stays quick.
TEST_F(ServiceImport, TenThousandItemsRunOnASmallStack)
{
    XXFileArray items;
    for (int i = 0; i < 10000; i++) {
        const std::string name = "n" + std::to_string(i);
        showGhost("/", name);
        auto item = std::make_shared<XXFileWrapper>();
        item->setParentFolderPath(computer.path());
        item->setFileName(name);
        items.push_back(item);
    }
    int depth = 0;
    int deepest = 0;
    runOnSmallStack([&] {
        manager->importJob().start(items, root, [&](const XXDiskResultObject &result) {
            reports.push_back(result);
            deepest = std::max(deepest, ++depth);
            // "Skip this one" first: the next item asks again; then "skip all" answers the rest.
            if (!result.isSuccess())
                manager->importJob().continueWithExistType(reports.size() == 1 ? XXExistSkipOne
                                                                               : XXExistSkipAll);
            --depth;
        });
    });
    ASSERT_EQ(reports.size(), 3u);
    expectReport(reports[0], "8+1", 6, "n0");
    expectReport(reports[1], "8+1", 6, "n1");
    expectSuccess(lastReport());
    EXPECT_EQ(deepest, 1);
}

}  // namespace

// A folder of more files than one batch holds, and more files chosen directly than one
// batch holds, arrive whole in store and tree, with nothing left for check to report.
TEST_F(ServiceImport, ImportsCommittedInBatchesLoseNothing)
{
    XXEncodePipeline::setCommitInterval(std::chrono::milliseconds(1));  // many timed commits
    Files files;
    Names chosen;
    for (int i = 0; i < 300; i++) {
        files.push_back({"f" + std::to_string(i), "content " + std::to_string(i)});
        chosen.push_back("f" + std::to_string(i));
    }
    for (int i = 0; i < 600; i++)
        files.push_back({"Many/n" + std::to_string(i) + ".txt", "note " + std::to_string(i)});
    files.push_back({"Many/Sub/last.txt", "last"});
    chosen.push_back("Many");
    writeComputer(files);
    importNamed(chosen, root);
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());
    ASSERT_TRUE(storeList("/Many") && storeList("/"));
    EXPECT_EQ(storeList("/Many")->size(), 601u);
    EXPECT_EQ(storeList("/")->size(), 301u);
    EXPECT_EQ(storeGet("/Many/n599.txt"), "note 599");
    EXPECT_EQ(storeGet("/Many/Sub/last.txt"), "last");
    EXPECT_EQ(storeGet("/f299"), "content 299");
    ASSERT_TRUE(entry("/Many"));
    EXPECT_EQ(entry("/Many")->allSubFileArray().size(), 601u);
    EXPECT_EQ(root->allSubFileArray().size(), 301u);
    XXEncodePipeline::setCommitInterval(std::chrono::milliseconds(500));
    auto engine = XXDiskFileManager::lockEngine();
    EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);
}

// A folder item's folders are recorded by one commit before its files; when the volume refuses
// it, the item fails with that cause, and the tree shows no folder the store does not hold.
TEST_F(ServiceImport, FoldersTheVolumeCannotRecordFailTheItemAndLeaveTheTree)
{
    writeComputer({{"Album/Sub/", ""}, {"Album/a.txt", "a"}});
    const std::string lock = volume.path() + "/.TovinCoffervale/index.lock";
    ASSERT_EQ(symlink("/dev/full", lock.c_str()), 0);  // the top folder's index cannot be written
    importNamed({"Album"}, root);
    unlink(lock.c_str());
    expectReport(lastReport(), "8+1", 7, "Album");
    EXPECT_EQ(lastReport().systemErrorNumber(), ENOSPC);
    EXPECT_EQ(storeList("/"), Names{});
    EXPECT_TRUE(root->allSubFileArray().empty());
}
