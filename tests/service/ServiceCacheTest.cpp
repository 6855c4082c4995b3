// The private cache folders, the open-on-computer cache and the watch on its copies, and the
// removal of every decrypted copy when the session ends or a later start finds them.
#include <chrono>
#include <fstream>

#include "HeldLock.h"
#include "TransferTestSupport.h"
#include "XXCacheInstance.h"
#include "XXOpenedFileCache.h"
#include "XXPasteProtectFileOutAppModel.h"
#include "XXPasteStaging.h"
#include "XXPollRunLoop.h"
#include "XXPrivateCacheFolder.h"

namespace {

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
    const std::string instance = xxcache::claimedInstanceFolder().value_or("");
    EXPECT_EQ(std::filesystem::path(instance).parent_path(), application);
    EXPECT_EQ(copy->rfind(instance + "/cacheFolder/", 0), 0u) << *copy;
    for (const std::string &folder : {application, instance, instance + "/cacheFolder",
                                      std::filesystem::path(*copy).parent_path().string()})
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
        EXPECT_FALSE(item.is_regular_file() && item.path().filename() != "owner.lock") << item.path();
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

    // Cleaning ends the watches before the copies go, in the background; the edited copy,
    // which never reached the vault, stays.
    const auto untouched = manager->cacheFileToComputer(entry("/B/notes.txt"));
    ASSERT_TRUE(untouched);
    std::shared_future<void> done = manager->cleanCacheFiles();
    EXPECT_TRUE(manager->watchedCacheFilePaths().empty());
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(std::filesystem::exists(*untouched));
    EXPECT_EQ(readFile(*copy), "edited");
    loop.runFor(std::chrono::milliseconds(50));
    manager->setFileWatcherRunLoop(nullptr);
}

// The session ends (lock, idle lock, sleep, quit: all log out): a changed copy goes into the
// vault first, then every decrypted copy of this program goes, opened and pasted alike.
TEST_F(ServiceCache, LoggingOutSavesChangedCopiesThenRemovesEveryDecryptedCopy)
{
    const auto edited = manager->cacheFileToComputer(entry("/A/notes.txt"));
    const auto unread = manager->cacheFileToComputer(entry("/B/notes.txt"));
    ASSERT_TRUE(edited && unread);
    XXPasteStaging staging(*manager);
    const XXPasteStaging::Result staged = staging.stage({entry("/B/notes.txt")}, false, nullptr);
    ASSERT_EQ(staged.stagedPaths.size(), 1u);
    std::ofstream(*edited, std::ios::trunc) << "edited in another program";
    // Nothing changed is nothing to save: the entry keeps its content.
    EXPECT_TRUE(manager->saveOpenedCopy(entry("/B/notes.txt"), *unread).isSuccess());

    const XXDiskResultObject result = run([&](const XXDiskResultBlock &b) { manager->logOutComplete(b); });
    ASSERT_TRUE(result.isSuccess());
    const auto *kept = std::any_cast<std::vector<std::string>>(&result.successValue());
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->empty());
    for (const std::string &path : {*edited, *unread, staged.stagedPaths.front()})
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    ASSERT_TRUE(start(volume.path()).isSuccess());
    ASSERT_TRUE(login(password).isSuccess());
    EXPECT_EQ(storeGet("/A/notes.txt"), "edited in another program");
    EXPECT_EQ(storeGet("/B/notes.txt"), "notes of B");
}

// A change that cannot be saved (here its entry is gone from the vault) is the person's only
// copy of it: it stays where it was edited, and the log-out names it.
TEST_F(ServiceCache, AChangeThatCannotBeSavedIsKeptAndNamed)
{
    const auto copy = manager->cacheFileToComputer(entry("/A/notes.txt"));
    ASSERT_TRUE(copy);
    std::ofstream(*copy, std::ios::trunc) << "unsaved work";
    ASSERT_TRUE(run([&](const XXDiskResultBlock &b) { manager->removeProtectedFiles({entry("/A/notes.txt")}, b); })
                    .isSuccess());

    const XXDiskResultObject result = run([&](const XXDiskResultBlock &b) { manager->logOutComplete(b); });
    const auto *kept = std::any_cast<std::vector<std::string>>(&result.successValue());
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, (Names{*copy}));
    EXPECT_EQ(readFile(*copy), "unsaved work");
    // Nor does any later cleanup remove it.
    xxcache::releaseInstanceFolder();
    EXPECT_EQ(XXDiskFileManager::removeLeftoverCaches(), (Names{*copy}));
    EXPECT_EQ(readFile(*copy), "unsaved work");
}

// The stick going away logs out too: the copies go though nothing can be saved any more.
TEST_F(ServiceCache, TheVolumeGoingAwayRemovesTheCopies)
{
    const auto copy = manager->cacheFileToComputer(entry("/A/notes.txt"));
    ASSERT_TRUE(copy);
    bool ended = false;
    manager->setTerminationHandler([&] { ended = true; });
    manager->diskRemoved(XXNotification{"XXDiskDidMoveoutNotification", std::any(volume.path())});
    EXPECT_TRUE(ended);
    EXPECT_FALSE(std::filesystem::exists(*copy));
}

// At start: the folders of runs that ended go, a running program's folder stays whole, and a
// copy changed after it was made is kept wherever it lies.
TEST_F(ServiceCache, AStartRemovesWhatEndedRunsLeftButNeverARunningProgramsCopies)
{
    const std::string application = runtime / "TovinUSBENC";
    auto runFolder = [&](const std::string &name, const std::string &content) {
        const std::string folder = application + "/" + name;
        writeFile(folder + "/cacheFolder/0123/opened.txt", content);
        writeFile(folder + "/CachePasteFolder/pasted.txt", content);
        return folder;
    };
    ASSERT_TRUE(xxcache::privateApplicationFolder());
    const std::string crashed = runFolder("run-crash1", "left by a crash");
    writeFile(crashed + "/owner.lock", "4242\n");
    const std::string running = runFolder("run-alive1", "in use");
    HeldLock alive(running + "/owner.lock", "4343\n");
    const std::string edited = runFolder("run-crash2", "as decrypted");
    writeFile(edited + "/owner.lock", "4444\n");
    const std::string editedCopy = edited + "/cacheFolder/0123/opened.txt";
    ASSERT_TRUE(xxcache::recordStamp(edited, editedCopy, xxcache::copyState(editedCopy)));
    std::ofstream(editedCopy, std::ios::trunc) << "edited, never saved";
    writeFile(application + "/cacheFolder/old/version.txt", "an earlier version's copy");

    EXPECT_EQ(XXDiskFileManager::removeLeftoverCaches(), (Names{editedCopy}));
    EXPECT_FALSE(std::filesystem::exists(crashed));
    EXPECT_FALSE(std::filesystem::exists(application + "/cacheFolder"));
    EXPECT_EQ(readFile(running + "/cacheFolder/0123/opened.txt"), "in use");
    EXPECT_EQ(readFile(running + "/CachePasteFolder/pasted.txt"), "in use");
    EXPECT_EQ(readFile(editedCopy), "edited, never saved");
    EXPECT_FALSE(std::filesystem::exists(edited + "/CachePasteFolder"));

    // Once that program ends without cleaning up, the next start clears its folder too.
    alive.release();
    XXDiskFileManager::removeLeftoverCaches();
    EXPECT_FALSE(std::filesystem::exists(running));
}

}  // namespace
