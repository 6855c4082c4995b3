// Folder indexes kept between calls are never stale, and batches of new files lose nothing
// that was committed, whatever happens to the rest.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "ReferenceFormat.h"
#include "StoreFixture.h"

namespace {

struct Problems {
    std::vector<int> kinds;
    int count(int kind) const { return (int)std::count(kinds.begin(), kinds.end(), kind); }
};

Problems checkStore()
{
    Problems p;
    fs_check([](const fs_check_problem *problem,
                void *ctx) { static_cast<Problems *>(ctx)->kinds.push_back(problem->kind); },
             &p, nullptr);
    return p;
}

}  // namespace

class EngineIndexCache : public StoreTest {
protected:
    std::string folderIndexPath(const std::string &folder)
    {
        ref::Index root = ref::readRootIndex(readFile(storeDir() + "/index"), password);
        for (const auto &e : root.entries)
            if (e.name == folder + "/")
                return ref::objectPath(storeDir(), e.id);
        return "";
    }
};

TEST_F(EngineIndexCache, ChangesByThisProcessAndFromOutsideAreSeen)
{
    ASSERT_EQ(fs_mkdir("Docs"), 0);
    ASSERT_EQ(put("Docs/a.txt", "alpha"), 0);
    const std::string indexFile = folderIndexPath("Docs");
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

TEST_F(EngineIndexCache, LoginAndPasswordChangeReadTheRootFromTheDisk)
{
    ASSERT_EQ(put("kept.txt", "x"), 0);
    ASSERT_EQ(list("").size(), 1u);  // the root is now cached
    EXPECT_EQ(fs_login("wrong password"), -1);
    ASSERT_GE(fs_login(password.c_str()), 0);
    EXPECT_EQ(fs_chpasswd("wrong password", "new one", nullptr), -1);
    ASSERT_GE(fs_chpasswd(password.c_str(), "new one", nullptr), 0);
    EXPECT_EQ(fs_login(password.c_str()), -1);
    ASSERT_GE(fs_login("new one"), 0);
    EXPECT_EQ(get("kept.txt"), "x");
}

TEST_F(EngineIndexCache, BatchEntriesReachTheDiskOnlyAtTheCommit)
{
    ASSERT_EQ(fs_mkdir("Box"), 0);
    ASSERT_EQ(fs_batch_begin(), 0);
    ASSERT_EQ(put("Box/one", "1"), 0);
    ASSERT_EQ(put("Box/two", "2"), 0);
    EXPECT_EQ(list("Box").size(), 2u);  // this process sees them at once
    const std::string indexFile = folderIndexPath("Box");
    const ref::Bytes before = readFile(indexFile);
    ASSERT_EQ(fs_batch_commit(), 0);
    EXPECT_NE(readFile(indexFile), before);
    ASSERT_EQ(put("Box/three", "3"), 0);
    ASSERT_EQ(fs_batch_end(), 0);

    // Read afresh, as another process would.
    ASSERT_EQ(fs_umount(), 0);
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    ASSERT_GE(fs_login(password.c_str()), 0);
    EXPECT_EQ(list("Box"), std::vector<std::string>({"one", "three", "two"}));
    EXPECT_EQ(get("Box/three"), "3");
    EXPECT_TRUE(checkStore().kinds.empty());
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
    // The volume as a crash now would leave it.
    TempDir crashed;
    std::filesystem::copy(volume.path(), crashed.path(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    auto expectOnlyTheLostAsOrphans = [] {
        const Problems p = checkStore();
        EXPECT_EQ(p.count(FS_CHECK_ORPHANED_OBJECT), 2);
        EXPECT_EQ(p.kinds.size(), 2u);
    };

    const std::string lock = folderIndexPath("Box") + ".lock";
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
    ASSERT_EQ(fs_umount(), 0);

    ASSERT_EQ(fs_mount(crashed.path().c_str()), 0);
    ASSERT_GE(fs_login(password.c_str()), 0);
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
    std::filesystem::copy(volume.path(), crashed.path(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(fs_batch_end(), 0);
    ASSERT_EQ(fs_umount(), 0);

    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    ASSERT_GE(fs_login(password.c_str()), 0);
    EXPECT_EQ(list(""), std::vector<std::string>({"Box/", "Late/"}));
    EXPECT_EQ(list("Box/Inner"), std::vector<std::string>());
    EXPECT_EQ(get("Box/Moved/f"), "inner");
    EXPECT_EQ(get("Late/g"), "late");
    EXPECT_TRUE(checkStore().kinds.empty());
    ASSERT_EQ(fs_umount(), 0);

    // Before the end, the top folder named nothing new yet.
    ASSERT_EQ(fs_mount(crashed.path().c_str()), 0);
    ASSERT_GE(fs_login(password.c_str()), 0);
    EXPECT_EQ(list(""), std::vector<std::string>());
    const Problems p = checkStore();
    EXPECT_GE(p.count(FS_CHECK_ORPHANED_OBJECT), 3);  // Box's and Inner's indexes, f
    EXPECT_EQ(p.count(FS_CHECK_ORPHANED_OBJECT), (int)p.kinds.size());
}
