// Folder indexes kept between calls are never stale, and batches of new files lose nothing
// that was committed, whatever happens to the rest.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "StoreFixture.h"

namespace {

// A copy of the volume as a crash now would leave it.
void copyVolume(const TempDir &from, const TempDir &to)
{
    std::filesystem::copy(from.path(), to.path(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

}  // namespace

using EngineIndexCache = StoreTest;

TEST_F(EngineIndexCache, ChangesByThisProcessAndFromOutsideAreSeen)
{
    ASSERT_EQ(fs_mkdir("Docs"), 0);
    ASSERT_EQ(put("Docs/a.txt", "alpha"), 0);
    const std::string indexFile = objectOf("Docs/");
    const std::string oneEntry = readFile(indexFile);
    EXPECT_EQ(list("Docs"), std::vector<std::string>({"a.txt"}));

    // Every kind of change shows in the next call, not the copy read before it.
    ASSERT_EQ(put("Docs/b.txt", "beta"), 0);
    EXPECT_EQ(list("Docs"), std::vector<std::string>({"a.txt", "b.txt"}));
    ASSERT_EQ(fs_rename("Docs/a.txt", "Docs/c.txt"), 0);
    EXPECT_EQ(list("Docs"), std::vector<std::string>({"b.txt", "c.txt"}));
    ASSERT_EQ(fs_unlink("Docs/b.txt"), 0);
    EXPECT_EQ(list("Docs"), std::vector<std::string>({"c.txt"}));
    EXPECT_EQ(get("Docs/c.txt"), "alpha");

    // Another copy of the program puts the one-entry index back, as its rename would.
    writeFile(indexFile + ".other", oneEntry);
    ASSERT_EQ(rename((indexFile + ".other").c_str(), indexFile.c_str()), 0);
    EXPECT_EQ(list("Docs"), std::vector<std::string>({"a.txt"}));
    EXPECT_EQ(get("Docs/a.txt"), "alpha");
}

TEST_F(EngineIndexCache, BatchEntriesReachTheDiskOnlyAtTheCommit)
{
    ASSERT_EQ(fs_mkdir("Box"), 0);
    ASSERT_EQ(fs_batch_begin(), 0);
    ASSERT_EQ(put("Box/one", "1"), 0);
    ASSERT_EQ(put("Box/two", "2"), 0);
    EXPECT_EQ(list("Box").size(), 2u);  // this process sees them at once
    const std::string indexFile = objectOf("Box/");
    const ref::Bytes before = readFile(indexFile);
    ASSERT_EQ(fs_batch_commit(), 0);
    EXPECT_NE(readFile(indexFile), before);
    ASSERT_EQ(put("Box/three", "3"), 0);
    ASSERT_EQ(fs_batch_end(), 0);

    relogin();  // read afresh, as another process would
    EXPECT_EQ(list("Box"), std::vector<std::string>({"one", "three", "two"}));
    EXPECT_EQ(get("Box/three"), "3");
    EXPECT_EQ(checkVault().all(), "");
}

// A crash before the next commit, or a commit that meets a full volume, loses the files
// since the last commit only, whose objects check reports as orphans.
TEST_F(EngineIndexCache, ACrashOrAFailedCommitKeepsEverythingCommittedBefore)
{
    ASSERT_EQ(fs_mkdir("Box"), 0);
    ASSERT_EQ(fs_batch_begin(), 0);
    ASSERT_EQ(put("Box/kept-1", "k1"), 0);
    ASSERT_EQ(put("Box/kept-2", "k2"), 0);
    ASSERT_EQ(fs_batch_commit(), 0);
    ASSERT_EQ(put("Box/lost-1", "l1"), 0);
    ASSERT_EQ(put("Box/lost-2", "l2"), 0);
    TempDir crashed;
    copyVolume(volume, crashed);
    auto expectOnlyTheLostAsOrphans = [] {
        const CheckRun run = checkVault();
        EXPECT_EQ(run.count(FS_CHECK_ORPHANED_OBJECT), 2);
        EXPECT_EQ(run.problems.size(), 2u) << run.all();
    };

    const std::string lock = objectOf("Box/") + ".lock";
    ASSERT_EQ(symlink("/dev/full", lock.c_str()), 0);  // a full volume
    EXPECT_FAILS_WITH(fs_batch_commit(), ENOSPC);
    unlink(lock.c_str());
    // Memory no longer claims what the disk does not hold.
    EXPECT_EQ(list("Box"), std::vector<std::string>({"kept-1", "kept-2"}));
    ASSERT_EQ(put("Box/after", "a"), 0);
    ASSERT_EQ(fs_batch_end(), 0);
    EXPECT_EQ(list("Box"), std::vector<std::string>({"after", "kept-1", "kept-2"}));
    EXPECT_EQ(get("Box/kept-2"), "k2");
    expectOnlyTheLostAsOrphans();
    relogin(crashed.path());
    EXPECT_EQ(list("Box"), std::vector<std::string>({"kept-1", "kept-2"}));
    EXPECT_EQ(get("Box/kept-2"), "k2");
    expectOnlyTheLostAsOrphans();
}

// Folders made in a batch are recorded with its commit, after the sync that brings their own
// indexes to the disk, so a crash before it leaves only orphans, even where a rename in the
// batch already wrote a new folder's index.
TEST_F(EngineIndexCache, FoldersMadeInABatchGoWithItsCommit)
{
    ASSERT_EQ(fs_batch_begin(), 0);
    ASSERT_EQ(fs_mkdir("Box"), 0);
    ASSERT_EQ(fs_mkdir("Box/Inner"), 0);
    ASSERT_EQ(put("Box/Inner/f", "inner"), 0);
    ASSERT_EQ(fs_rename("Box/Inner", "Box/Moved"), 0);  // written at once, as renames are
    ASSERT_EQ(fs_mkdir("Box/Inner"), 0);
    ASSERT_EQ(fs_mkdir("Late"), 0);
    ASSERT_EQ(put("Late/g", "late"), 0);
    EXPECT_EQ(list("Box"), std::vector<std::string>({"Inner/", "Moved/"}));
    TempDir crashed;
    copyVolume(volume, crashed);
    ASSERT_EQ(fs_batch_end(), 0);
    relogin();
    EXPECT_EQ(list(""), std::vector<std::string>({"Box/", "Late/"}));
    EXPECT_EQ(list("Box/Inner"), std::vector<std::string>());
    EXPECT_EQ(get("Box/Moved/f"), "inner");
    EXPECT_EQ(get("Late/g"), "late");
    EXPECT_EQ(checkVault().all(), "");

    // Before the end, the top folder named nothing new yet.
    relogin(crashed.path());
    EXPECT_EQ(list(""), std::vector<std::string>());
    const CheckRun run = checkVault();
    EXPECT_GE(run.count(FS_CHECK_ORPHANED_OBJECT), 3);  // Box's and Inner's indexes, f
    EXPECT_EQ(run.count(FS_CHECK_ORPHANED_OBJECT), (int)run.problems.size());
}
