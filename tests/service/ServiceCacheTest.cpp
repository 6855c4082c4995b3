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
        storeAll({{"/A/", ""}, {"/B/", ""}, {"/A/notes.txt", "notes of A"}, {"/B/notes.txt", "notes of B"}});
    }
};

TEST_F(ServiceCache, CopiesLiveInAFolderOfTheUserAlone)
{
    const auto copy = manager->cacheFileToComputer(entry("/A/notes.txt"));
    ASSERT_TRUE(copy);
    const std::string application = runtime / "TovinUSBENC";
    EXPECT_EQ(copy->rfind(application + "/cacheFolder/", 0), 0u) << *copy;
    for (const std::string &folder :
         {application, application + "/cacheFolder", std::filesystem::path(*copy).parent_path().string()})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    EXPECT_EQ(modeOf(*copy) & 077, 0u);
    EXPECT_EQ(std::filesystem::path(*copy).parent_path().filename().string().size(), 32u);  // an MD5 text
    EXPECT_EQ(readFile(*copy), "notes of A");

    // An application folder someone made readable is made private again before use; a second
    // copy of the same name (in the same second, most likely) never replaces the first.
    ASSERT_EQ(chmod(application.c_str(), 0755), 0);
    const auto second = manager->cacheFileToComputer(entry("/B/notes.txt"));
    ASSERT_TRUE(second);
    EXPECT_EQ(modeOf(application), 0700u);
    EXPECT_NE(*second, *copy);
    EXPECT_EQ(readFile(*copy), "notes of A");
    EXPECT_EQ(readFile(*second), "notes of B");

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

TEST_F(ServiceCache, AFileThatCannotBeReadGivesNothingAndLeavesNothing)
{
    EXPECT_FALSE(manager->cacheFileToComputer(showGhost("/A", "ghost.txt", 4)));
    entry("/A/notes.txt")->setFileSize(99);  // the store holds less
    EXPECT_FALSE(manager->cacheFileToComputer(entry("/A/notes.txt")));
    EXPECT_FALSE(manager->cacheFileToComputer(entry("/A")));  // a folder is not opened
    for (auto &item : std::filesystem::recursive_directory_iterator(runtime.path()))
        EXPECT_FALSE(item.is_regular_file()) << item.path();
}

TEST_F(ServiceCache, SavingAWatchedCopyReachesTheHookAndCleaningEndsWatchAndCopies)
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
    EXPECT_EQ(manager->watchedCacheFilePaths(), (Names{*copy}));
    loop.runFor(std::chrono::milliseconds(50));  // the watch is set up on the loop
    std::ofstream(*copy, std::ios::trunc) << "edited";
    loop.runFor(std::chrono::milliseconds(1600));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes.front().first, notes);
    EXPECT_EQ(changes.front().second, *copy);

    // Cleaning ends the watches before the copies go, in the background.
    std::shared_future<void> done = manager->cleanCacheFiles();
    EXPECT_TRUE(manager->watchedCacheFilePaths().empty());
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(std::filesystem::exists(runtime / "TovinUSBENC/cacheFolder"));
    EXPECT_TRUE(std::filesystem::exists(runtime / "TovinUSBENC"));
    loop.runFor(std::chrono::milliseconds(50));
    manager->setFileWatcherRunLoop(nullptr);
}

}  // namespace
