// Folder imports whose small files are read and compressed ahead on worker threads: the same
// files, bytes, progress and reports as storing each file in turn, failures reported for their
// own file, and a cancel that leaves no descriptor open and no worker running.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "TransferTestSupport.h"
#include "XXImportReadAhead.h"
#include "fs.h"

namespace {

std::string note(size_t size, unsigned seed)
{
    static const char *words[] = {"minutes ", "of ", "the ", "board\n", "stick ", "budget, "};
    std::string s;
    unsigned state = seed;
    while (s.size() < size) {
        state = state * 1103515245u + 12345u;
        s += words[(state >> 16) % 6];
    }
    s.resize(size);
    return s;
}

size_t entriesIn(const char *folder)
{
    size_t n = 0;
    if (DIR *dir = opendir(folder)) {
        while (readdir(dir))
            n++;
        closedir(dir);
    }
    return n;
}

class ServiceImportReadAhead : public TransferFixture {
protected:
    void TearDown() override
    {
        XXImportReadAhead::setThreads(0);
        XXImportReadAhead::setLimits(0, 0);
        fs_fault_arm(0, FS_FAULT_NONE, 0);
        TransferFixture::TearDown();
    }
    // Folder "Docs" of count notes n00.txt ... with sizes around 30 KiB.
    Files writeNotes(int count)
    {
        Files files;
        for (int i = 0; i < count; i++) {
            char name[32];
            snprintf(name, sizeof(name), "Docs/n%02d.txt", i);
            files.push_back({name, note(30000 + 97 * (size_t)i, (unsigned)i)});
        }
        writeComputer(files);
        return files;
    }
    // Into a new folder of the root, so every run starts without conflicts.
    void importDocs(const std::string &into)
    {
        storeMkdir(into);
        refreshTree();
        manager->importJob().start({computerItem("Docs")}, entry(into), recorder());
    }
    // Every file of the store listing of folder/Docs, which files must hold, reads back whole.
    void expectStoredWhole(const std::string &folder, const Files &files, size_t expectedCount)
    {
        auto listed = storeList(folder + "/Docs");
        ASSERT_TRUE(listed);
        EXPECT_EQ(listed->size(), expectedCount);
        for (const std::string &name : *listed) {
            auto it = std::find_if(files.begin(), files.end(),
                                   [&](const auto &f) { return f.first == "Docs/" + name; });
            ASSERT_NE(it, files.end()) << name;
            EXPECT_EQ(storeGet(folder + "/Docs/" + name), it->second) << name;
        }
        ASSERT_TRUE(entry(folder + "/Docs"));
        EXPECT_EQ(entry(folder + "/Docs")->allSubFileArray().size(), expectedCount);
        auto engine = XXDiskFileManager::lockEngine();
        EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);
    }
};

}  // namespace

// Without read-ahead, with one worker and with several: the same store, the same progress.
TEST_F(ServiceImportReadAhead, EveryWayStoresTheSameFilesWithTheSameProgress)
{
    Files files = writeNotes(20);
    files.push_back({"Docs/empty.txt", ""});
    files.push_back({"Docs/noise.bin", randomContent(400 << 10, 3)});
    files.push_back({"Docs/large.bin", randomContent(FS_DEFLATE_MAX + 1, 4)});  // streamed
    files.push_back({"Docs/Sub/deep.txt", note(70000, 99)});
    writeComputer(files);
    std::vector<std::vector<std::pair<std::string, std::uint64_t>>> progress;
    for (int threads : {-1, 1, 3}) {
        SCOPED_TRACE(threads);
        XXImportReadAhead::setThreads(threads);
        progress.emplace_back();
        manager->importJob().setProgressBlock(
            [&](std::uint64_t, std::uint64_t done, const std::string &name) {
                progress.back().push_back({name, done});
            });
        reports.clear();
        const std::string into = "/T" + std::to_string(threads);
        importDocs(into);
        ASSERT_EQ(reports.size(), 1u);
        expectSuccess(lastReport());
        for (const auto &[path, content] : files)
            EXPECT_EQ(storeGet(into + "/" + path), content) << path;
        EXPECT_EQ(storeList(into + "/Docs")->size(), files.size());  // Sub/ stands for deep.txt
    }
    EXPECT_EQ(progress[1], progress[0]);
    EXPECT_EQ(progress[2], progress[0]);
}

// A file that goes before it is read, and a full volume under a later one: each fails its own
// file, the folder is reported once the others are in, and what was stored stays whole.
TEST_F(ServiceImportReadAhead, AFailingFileInTheMiddleFailsOnlyItself)
{
    XXImportReadAhead::setLimits(0, 4);  // n09 is not read before it goes
    XXEncodePipeline::setCommitInterval(std::chrono::hours(1));  // no commit takes n12's fault
    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        XXImportReadAhead::setThreads(threads);
        const Files files = writeNotes(16);
        manager->importJob().setProgressBlock([&](std::uint64_t, std::uint64_t, const std::string &name) {
            if (name == "n03.txt")
                std::filesystem::remove(computer / "Docs/n09.txt");
            if (name == "n11.txt")  // the next file's object creation or write
                fs_fault_arm(2, FS_FAULT_FAIL, ENOSPC);
        });
        reports.clear();
        const std::string into = "/T" + std::to_string(threads);
        importDocs(into);
        fs_fault_arm(0, FS_FAULT_NONE, 0);
        ASSERT_EQ(reports.size(), 1u);
        expectReport(lastReport(), "8+1", 7, "Docs");
        EXPECT_EQ(lastReport().systemErrorNumber(), ENOENT);  // the first failure's
        EXPECT_TRUE(logged("n09.txt"));
        expectStoredWhole(into, files, 14);
        EXPECT_FALSE(storeGet(into + "/Docs/n09.txt"));
        EXPECT_FALSE(storeGet(into + "/Docs/n12.txt"));
        EXPECT_TRUE(storeGet(into + "/Docs/n13.txt"));

        manager->importJob().setProgressBlock(nullptr);
        manager->importJob().continueWithErrorType(XXErrorSkipOne);
        expectSuccess(lastReport());
        std::filesystem::remove_all(computer / "Docs");
    }
    XXEncodePipeline::setCommitInterval(std::chrono::milliseconds(500));
}

// A file that ends before the size it had when opened (it changed while read) is read once:
// it comes back cut short, for the import to fail, not to be read again the usual way.
TEST_F(ServiceImportReadAhead, AFileCutShortWhileReadIsNotReadAgain)
{
    const char *shorter = "/sys/kernel/uevent_seqnum";  // says 4,096 bytes, holds a few
    struct stat st {};
    if (stat(shorter, &st) != 0 || st.st_size <= 0)
        GTEST_SKIP() << shorter << " is not here";
    XXImportReadAhead::setThreads(1);
    XXImportReadAhead ahead({shorter});
    XXImportReadAhead::Ready ready;
    EXPECT_FALSE(ahead.take(0, &ready));
    EXPECT_TRUE(ready.cutShort);
    EXPECT_EQ(ready.size, (std::uint64_t)st.st_size);
    EXPECT_LT(ready.got, ready.size);
}

// A cancel while files are read ahead: the files before stay, the one being stored when it is
// seen goes again, nothing after, and the workers are gone with their descriptors.
TEST_F(ServiceImportReadAhead, CancelStopsAndJoinsTheWorkers)
{
    XXImportReadAhead::setThreads(2);
    const Files files = writeNotes(40);
    importDocs("/Warm");  // threads a library starts once (the sanitizers' own) are up by now
    reports.clear();
    const size_t threadsBefore = entriesIn("/proc/self/task");
    const size_t descriptorsBefore = entriesIn("/proc/self/fd");
    manager->importJob().setProgressBlock([&](std::uint64_t, std::uint64_t, const std::string &name) {
        if (name == "n07.txt")
            manager->importJob().cancel();
    });
    importDocs("/T");
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(entriesIn("/proc/self/task"), threadsBefore);
    EXPECT_EQ(entriesIn("/proc/self/fd"), descriptorsBefore);
    expectStoredWhole("/T", files, 8);  // n00 ... n07; n08 was removed again
    EXPECT_FALSE(storeGet("/T/Docs/n08.txt"));
}

// Files chosen directly are read ahead too: one passed over after a conflict is dropped, and
// each file that is stored gets its own bytes whatever lies between.
TEST_F(ServiceImportReadAhead, DirectlyChosenFilesFollowTheAnswersToConflicts)
{
    XXImportReadAhead::setThreads(1);
    storeAll({{"/a.txt", "stored before"}, {"/b.txt", "also before"}});
    const Files files{{"a.txt", note(5000, 1)},
                      {"c.txt", note(7000, 3)},
                      {"b.txt", note(6000, 2)},
                      {"Docs/d.txt", note(8000, 4)},
                      {"e.txt", note(9000, 5)}};
    writeComputer(files);
    const XXFileArray chosen{computerItem("a.txt"), computerItem("c.txt"), computerItem("b.txt"),
                             computerItem("Docs"), computerItem("e.txt")};
    manager->importJob().start(chosen, root, recorder());
    expectReport(lastReport(), "8+1", 6, "a.txt");
    manager->importJob().continueWithExistType(XXExistSkipAll);  // b is passed over as well
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/a.txt"), "stored before");
    EXPECT_EQ(storeGet("/b.txt"), "also before");
    EXPECT_EQ(storeGet("/c.txt"), note(7000, 3));
    EXPECT_EQ(storeGet("/Docs/d.txt"), note(8000, 4));
    EXPECT_EQ(storeGet("/e.txt"), note(9000, 5));

    // Everything conflicts now; free names for all, in one stretch.
    reports.clear();
    manager->importJob().start(chosen, root, recorder());
    manager->importJob().continueWithExistType(XXExistFreeNameAll);
    ASSERT_EQ(reports.size(), 2u);
    expectSuccess(lastReport());
    for (const auto &[path, content] : files) {
        const size_t dot = path.find('.');
        const size_t slash = path.find('/');
        const std::string renamed = slash != std::string::npos
            ? path.substr(0, slash) + "(0)" + path.substr(slash)
            : path.substr(0, dot) + "(0)" + path.substr(dot);
        EXPECT_EQ(storeGet("/" + renamed), content) << renamed;
    }
}

// More than the budget of large small files, on several workers: each file the import waits
// for goes on, so nothing waits for ever, and every file arrives whole.
TEST_F(ServiceImportReadAhead, FilesBeyondTheBudgetStillFlow)
{
    XXImportReadAhead::setThreads(3);
    XXImportReadAhead::setLimits(4u << 20, 0);  // room for one of these files
    Files files;
    const size_t count = 8;
    for (size_t i = 0; i < count; i++)
        files.push_back({"Docs/big" + std::to_string(i + 10) + ".bin",
                         randomContent(FS_DEFLATE_MAX - i, static_cast<unsigned>(i))});
    writeComputer(files);
    importDocs("/T");
    ASSERT_EQ(reports.size(), 1u);
    expectSuccess(lastReport());
    expectStoredWhole("/T", files, files.size());
}
