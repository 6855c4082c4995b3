// The private cache folders, the open-on-computer cache and the watch on its copies.
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "TransferTestSupport.h"
#include "XXOpenedFileCache.h"
#include "XXPollRunLoop.h"
#include "XXPrivateCacheFolder.h"

namespace {

mode_t modeOf(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class ServiceCache : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        storeMkdir("/A");
        storeMkdir("/B");
        storePut("/A/notes.txt", "notes of A");
        storePut("/B/notes.txt", "notes of B");
        refreshTree();
    }
};

TEST_F(ServiceCache, CopiesLiveInAFolderOfTheUserAlone)
{
    const auto copy = manager->cacheFileToComputer(entry("/A/notes.txt"));
    ASSERT_TRUE(copy);
    const std::string application = runtime / "TovinUSBENC";
    EXPECT_EQ(copy->rfind(application + "/cacheFolder/", 0), 0u) << *copy;
    EXPECT_EQ(modeOf(application), 0700u);
    EXPECT_EQ(modeOf(application + "/cacheFolder"), 0700u);
    EXPECT_EQ(modeOf(std::filesystem::path(*copy).parent_path()), 0700u);
    EXPECT_EQ(modeOf(*copy) & 077, 0u);
    EXPECT_EQ(readFile(*copy), "notes of A");

    // An application folder someone made readable is made private again before use.
    ASSERT_EQ(chmod(application.c_str(), 0755), 0);
    ASSERT_TRUE(manager->cacheFileToComputer(entry("/B/notes.txt")));
    EXPECT_EQ(modeOf(application), 0700u);

    // Without a runtime folder the cache home is used, and a link is never followed.
    TempDir cacheHome;
    unsetenv("XDG_RUNTIME_DIR");
    setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);
    EXPECT_EQ(xxcache::applicationFolderPath(), cacheHome / "TovinUSBENC");
    TempDir elsewhere;
    ASSERT_EQ(symlink(elsewhere.path().c_str(), (cacheHome / "TovinUSBENC").c_str()), 0);
    EXPECT_FALSE(manager->cacheFileToComputer(entry("/A/notes.txt")));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

TEST_F(ServiceCache, ASecondCopyOfTheSameNameNeverReplacesTheFirst)
{
    const auto first = manager->cacheFileToComputer(entry("/A/notes.txt"));
    const auto second = manager->cacheFileToComputer(entry("/B/notes.txt"));
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(readFile(*first), "notes of A");
    EXPECT_EQ(readFile(*second), "notes of B");
    EXPECT_EQ(std::filesystem::path(*first).parent_path().filename().string().size(), 32u);  // an MD5 text
}

TEST_F(ServiceCache, AFileThatCannotBeReadGivesNothingAndLeavesNothing)
{
    auto ghost = std::make_shared<XXProtectFileWrapper>();
    ghost->setParentFolderPath("/A");
    ghost->setFileName("ghost.txt");
    ghost->setFileSize(4);
    EXPECT_FALSE(manager->cacheFileToComputer(ghost));
    entry("/A/notes.txt")->setFileSize(99);  // the store holds less
    EXPECT_FALSE(manager->cacheFileToComputer(entry("/A/notes.txt")));
    EXPECT_FALSE(manager->cacheFileToComputer(entry("/A")));  // a folder is not opened
    for (auto &item : std::filesystem::recursive_directory_iterator(runtime.path()))
        EXPECT_FALSE(item.is_regular_file()) << item.path();
}

TEST_F(ServiceCache, CleaningRemovesTheCacheFolderInTheBackground)
{
    ASSERT_TRUE(manager->cacheFileToComputer(entry("/A/notes.txt")));
    const std::string cache = runtime / "TovinUSBENC/cacheFolder";
    ASSERT_TRUE(std::filesystem::exists(cache));
    std::shared_future<void> done = manager->cleanCacheFiles();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(std::filesystem::exists(cache));
    EXPECT_TRUE(std::filesystem::exists(runtime / "TovinUSBENC"));
}

TEST_F(ServiceCache, SavingAWatchedCopyReachesTheHookWithItsEntry)
{
    XXPollRunLoop loop;
    manager->setFileWatcherRunLoop(&loop);
    std::vector<std::pair<std::shared_ptr<XXProtectFileWrapper>, std::string>> changes;
    manager->setProtectDocumentFileDidChanged(
        [&](const std::shared_ptr<XXProtectFileWrapper> &changed, const std::string &path) {
            changes.emplace_back(changed, path);
        });
    auto notes = entry("/A/notes.txt");
    const auto copy = manager->cacheFileToComputer(notes);
    ASSERT_TRUE(copy);
    EXPECT_EQ(manager->watchedCacheFilePaths(), (std::vector<std::string>{*copy}));
    loop.runFor(std::chrono::milliseconds(50));  // the watch is set up on the loop

    {
        std::ofstream out(*copy, std::ios::trunc);
        out << "edited";
    }
    loop.runFor(std::chrono::milliseconds(1600));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes.front().first, notes);
    EXPECT_EQ(changes.front().second, *copy);

    // Cleaning ends the watches before the copies go.
    manager->cleanCacheFiles().wait();
    EXPECT_TRUE(manager->watchedCacheFilePaths().empty());
    loop.runFor(std::chrono::milliseconds(50));
    manager->setFileWatcherRunLoop(nullptr);
}

}  // namespace
