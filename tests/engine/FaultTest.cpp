// Writes that fail part-way must leave the old index whole and report the failure.
#include <unistd.h>

#include <tuple>

#include <gtest/gtest.h>

#include "FileSizeLimit.h"
#include "HeldLock.h"
#include "StoreFixture.h"
#include "config.h"

namespace {

// Makes every write to "<file>.lock" fail with ENOSPC, as on a full volume.
void failWritesOf(const std::string &file)
{
    unlink((file + ".lock").c_str());
    ASSERT_EQ(symlink("/dev/full", (file + ".lock").c_str()), 0);
}

size_t countFiles(const std::string &root)
{
    size_t n = 0;
    for (auto &e : std::filesystem::recursive_directory_iterator(root))
        n += e.is_regular_file() || e.is_symlink();
    return n;
}

}  // namespace

using EngineFaults = StoreTest;

TEST_F(EngineFaults, FullVolumeDuringFolderAndFileOperations)
{
    ASSERT_EQ(fs_mkdir("keep"), 0);
    ASSERT_EQ(fs_mkdir("to"), 0);
    ASSERT_EQ(put("keep/a.txt", "precious"), 0);
    ASSERT_EQ(put("top.txt", "top"), 0);
    size_t files = countFiles(storeDir());
    std::string root = storeDir() + "/index";
    std::string before = readFile(root);
    // A move between folders that cannot write the target's index.
    const std::string target = objectOf("to/");
    failWritesOf(target);
    EXPECT_EQ(fs_rename("keep/a.txt", "to/a.txt"), -1);
    unlink((target + ".lock").c_str());

    failWritesOf(root);
    EXPECT_FAILS_WITH(fs_mkdir("new"), ENOSPC);
    failWritesOf(root);
    EXPECT_FAILS_WITH(put("other.txt", "x"), ENOSPC);
    failWritesOf(root);
    EXPECT_EQ(fs_rename("top.txt", "keep/top.txt"), -1);
    failWritesOf(root);
    EXPECT_EQ(fs_rmdir("keep"), -1);  // not empty, so nothing is written
    EXPECT_EQ(errno, ENOTEMPTY);
    unlink((root + ".lock").c_str());

    EXPECT_EQ(readFile(root), before);
    EXPECT_EQ(get("keep/a.txt"), "precious");
    EXPECT_EQ(list(""), (std::vector<std::string>{"keep/", "to/", "top.txt"}));
    EXPECT_EQ(list("keep"), (std::vector<std::string>{"a.txt"}));
    EXPECT_TRUE(list("to").empty());
    EXPECT_EQ(get("top.txt"), "top");
    EXPECT_EQ(countFiles(storeDir()), files);  // no orphaned objects
}

TEST_F(EngineFaults, RemovalsMakeTheirOwnRoomOnAFullVolume)
{
    ASSERT_EQ(fs_mkdir("empty"), 0);
    ASSERT_EQ(put("keep.txt", "precious"), 0);
    ASSERT_EQ(put("top.txt", "top"), 0);
    size_t files = countFiles(storeDir());
    std::string root = storeDir() + "/index";

    // The first index write finds no room; freeing the removed objects makes it.
    failWritesOf(root);
    ASSERT_EQ(fs_unlink("top.txt"), 0);
    failWritesOf(root);
    ASSERT_EQ(fs_rmdir("empty"), 0);
    EXPECT_FALSE(std::filesystem::exists(root + ".lock"));
    EXPECT_EQ(list(""), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(get("keep.txt"), "precious");
    EXPECT_EQ(countFiles(storeDir()), files - 2);
}

TEST_F(EngineFaults, FailedReplacementKeepsTheOldFile)
{
    ASSERT_EQ(put("keep.txt", "keep"), 0);
    ASSERT_EQ(put("top.txt", "old"), 0);
    size_t files = countFiles(storeDir());
    std::string before = readFile(storeDir() + "/index");
    {
        // Every index write fails for as long as the volume stays full.
        FileSizeLimit limit(100);
        EXPECT_FAILS_WITH(put("top.txt", "replacement"), EFBIG);
    }
    EXPECT_EQ(readFile(storeDir() + "/index"), before);
    EXPECT_EQ(list(""), (std::vector<std::string>{"keep.txt", "top.txt"}));
    EXPECT_EQ(get("top.txt"), "old");
    EXPECT_EQ(countFiles(storeDir()), files);

    // Once there is room again the replacement goes through and the old object goes.
    ASSERT_EQ(put("top.txt", "replacement"), 0);
    EXPECT_EQ(get("top.txt"), "replacement");
    EXPECT_EQ(countFiles(storeDir()), files);
}

TEST(EngineFaultsMkfs, FullVolumeDuringAccountCreationReportsIt)
{
    TempDir volume;
    ASSERT_EQ(fs_mount(volume.path().c_str()), 2);
    std::filesystem::create_directory(volume / ".TovinCoffervale");
    ASSERT_EQ(symlink("/dev/full", (volume / ".TovinCoffervale/index.lock").c_str()), 0);
    EXPECT_FAILS_WITH(fs_mkfs("pw", "h"), ENOSPC);
    EXPECT_FALSE(std::filesystem::exists(volume / ".TovinCoffervale/index"));
    unlink((volume / ".TovinCoffervale/index.lock").c_str());
    EXPECT_EQ(fs_mkfs("pw", "h"), 0);
    fs_umount();
}

TEST_F(EngineFaults, WriteCutOffInTheMiddleLeavesTheOldIndex)
{
    // Enough entries that the root index spans more than one 8 KiB piece.
    for (int i = 0; i < 200; i++)
        ASSERT_EQ(put("file-with-a-longish-name-" + std::to_string(i), "x"), 0);
    std::string root = storeDir() + "/index";
    std::string before = readFile(root);
    ASSERT_GT(before.size(), 8192u);
    std::string config = readFile(storeDir() + "/config");
    {
        FileSizeLimit limit(4096);
        EXPECT_FAILS_WITH(fs_mkdir("one-more"), EFBIG);
        EXPECT_EQ(config_set_in_file(nullptr, "core.prompt", std::string(5000, 'h').c_str(), 0), 4);
    }
    EXPECT_EQ(readFile(root).substr(0, before.size()), before.substr(0, before.size()));
    EXPECT_EQ(readFile(storeDir() + "/config"), config);
    auto names = list("");
    EXPECT_EQ(std::count(names.begin(), names.end(), "one-more/"), 0);
    EXPECT_EQ(get("file-with-a-longish-name-7"), "x");
}

// Room for the indexes, not for incompressible content, with the failure met by one write or
// by background writers still compressing blocks: it is reported, no object of it is left once
// the file is removed, and the writer works again.
TEST_F(EngineFaults, ContentThatDoesNotFitIsReported)
{
    const size_t files = countFiles(storeDir());
    for (const auto &[size, limit, chunk] : {std::tuple{2u << 20, 1u << 20, 65536u}, {8u << 20, 3u << 20, 2u << 20}}) {
        SCOPED_TRACE(size);
        const std::string big = noise(size, size);
        {
            FileSizeLimit volumeFull(limit);
            EXPECT_FAILS_WITH(put("big", big, chunk), EFBIG);
        }
        EXPECT_NE(get("big"), big);
        ASSERT_EQ(fs_unlink("big"), 0);
        EXPECT_EQ(countFiles(storeDir()), files);
        ASSERT_EQ(put("after", big), 0);
        EXPECT_EQ(get("after"), big);
        ASSERT_EQ(fs_unlink("after"), 0);
    }
}

TEST_F(EngineFaults, StaleIndexLockFromACrashDoesNotBlock)
{
    writeFile(storeDir() + "/index.lock", "half written by a crashed run");
    ASSERT_EQ(fs_mkdir("after-crash"), 0);
    EXPECT_FALSE(std::filesystem::exists(storeDir() + "/index.lock"));
    EXPECT_EQ(list(""), (std::vector<std::string>{"after-crash/"}));
}

TEST_F(EngineFaults, PasswordChangeNeverLeavesTheOldHintWithTheNewPassword)
{
    // A settings writer of another running program holds the lock: nothing changes.
    HeldLock holder(storeDir() + "/config.lock");
    EXPECT_FAILS_WITH(fs_chpasswd(password.c_str(), "new", "new hint"), EBUSY);
    holder.release();
    fs_umount();
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    EXPECT_EQ(fs_login("new"), -1);
    ASSERT_GE(fs_login(password.c_str()), 0);

    // A lock left by a dead writer is taken over; hint and password change together.
    ASSERT_GE(fs_chpasswd(password.c_str(), "new", "new hint"), 0);
    char *hint = fs_get_prompt();
    EXPECT_STREQ(hint, "new hint");
    free(hint);

    // When the root index cannot be written (a full volume), the old hint is put back and
    // the old password still opens the content.
    ASSERT_EQ(put("f", "data"), 0);
    failWritesOf(storeDir() + "/index");
    EXPECT_FAILS_WITH(fs_chpasswd("new", "newer", "newer hint"), ENOSPC);
    unlink((storeDir() + "/index.lock").c_str());
    hint = fs_get_prompt();
    EXPECT_STREQ(hint, "new hint");
    free(hint);
    fs_umount();
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    EXPECT_EQ(fs_login("newer"), -1);
    EXPECT_EQ(fs_login("new"), 1);
    EXPECT_EQ(get("f"), "data");
}
