// Creating, removing, renaming and listing folders and entries.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "StoreFixture.h"

using EngineFolders = StoreTest;

namespace {

std::vector<std::string> v(std::initializer_list<const char *> names)
{
    return std::vector<std::string>(names.begin(), names.end());
}

}  // namespace

TEST_F(EngineFolders, MkdirListsAndRefusesClashes)
{
    time_t before = time(nullptr);
    ASSERT_EQ(fs_mkdir("Docs"), 0);
    fs_dir *dir = fs_opendir("");
    ASSERT_NE(dir, nullptr);
    struct fs_dirent *d = fs_readdir(dir);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->type, FS_DT_DIR);
    EXPECT_STREQ(d->name, "Docs");
    EXPECT_EQ(d->size, 0u);
    EXPECT_GE(d->time, before);
    EXPECT_EQ(fs_readdir(dir), nullptr);
    EXPECT_EQ(errno, ENOENT);
    fs_closedir(dir);

    EXPECT_FAILS_WITH(fs_mkdir("docs"), EEXIST);
    ASSERT_EQ(put("file", "x"), 0);
    EXPECT_FAILS_WITH(fs_mkdir("FILE"), EEXIST);
    EXPECT_FAILS_WITH(fs_mkdir("Docs/"), EINVAL);
    EXPECT_FAILS_WITH(fs_mkdir(nullptr), EINVAL);
    EXPECT_FAILS_WITH(fs_mkdir("a?b"), EINVAL);
    EXPECT_FAILS_WITH(fs_mkdir("missing/child"), ENOENT);
    EXPECT_FAILS_WITH(fs_mkdir("file/child"), ENOENT);

    ASSERT_EQ(fs_mkdir("Docs/2024"), 0);
    ASSERT_EQ(fs_mkdir("/Docs\\2024/deep"), 0);
    EXPECT_EQ(list("docs/2024"), v({"deep/"}));
    EXPECT_EQ(list("file")[0], "<error 2>");
    EXPECT_EQ(list("nowhere")[0], "<error 2>");
}

TEST_F(EngineFolders, RmdirNeedsAnEmptyFolderAndDeletesItsIndex)
{
    ASSERT_EQ(fs_mkdir("Docs"), 0);
    ASSERT_EQ(put("Docs/a.txt", "a"), 0);
    EXPECT_FAILS_WITH(fs_rmdir("Docs"), ENOTEMPTY);
    EXPECT_FAILS_WITH(fs_rmdir("Docs/a.txt"), EINVAL);
    EXPECT_FAILS_WITH(fs_rmdir("nothing"), ENOENT);
    EXPECT_FAILS_WITH(fs_unlink("Docs"), EISDIR);

    std::string folderIndex = ref::objectPath(storeDir(), ref::objectId("dirc", 0, "docs"));
    ASSERT_EQ(access(folderIndex.c_str(), F_OK), 0);
    ASSERT_EQ(fs_unlink("Docs/a.txt"), 0);
    ASSERT_EQ(fs_rmdir("DOCS"), 0);
    EXPECT_NE(access(folderIndex.c_str(), F_OK), 0);
    EXPECT_TRUE(list("").empty());
    // Fan-out folders go with their last object; the store directory stays.
    for (auto &e : std::filesystem::directory_iterator(storeDir()))
        EXPECT_FALSE(e.is_directory()) << e.path();
}

TEST_F(EngineFolders, RenameMovesBetweenFoldersAndKeepsContent)
{
    ASSERT_EQ(fs_mkdir("a"), 0);
    ASSERT_EQ(fs_mkdir("b"), 0);
    ASSERT_EQ(put("a/x.txt", "the content"), 0);
    ASSERT_EQ(fs_rename("a/x.txt", "b/y.txt"), 0);
    EXPECT_TRUE(list("a").empty());
    EXPECT_EQ(list("b"), v({"y.txt"}));
    EXPECT_EQ(get("b/y.txt"), "the content");

    errno = 0;
    EXPECT_EQ(fs_rename("b/y.txt", "b/Y.TXT"), -1);  // only the case changes
    EXPECT_EQ(errno, EEXIST);
    ASSERT_EQ(put("b/z", "z"), 0);
    EXPECT_FAILS_WITH(fs_rename("b/z", "b/y.txt"), EEXIST);
    EXPECT_EQ(get("b/z"), "z");
    EXPECT_FAILS_WITH(fs_rename("b/none", "b/other"), ENOENT);
    EXPECT_FAILS_WITH(fs_rename("b/z", "b/q?1"), EINVAL);
    EXPECT_FAILS_WITH(fs_rename("b/z", "nowhere/z"), ENOENT);

    // A folder moves with its whole subtree.
    ASSERT_EQ(fs_mkdir("b/sub"), 0);
    ASSERT_EQ(put("b/sub/deep.txt", "deep"), 0);
    ASSERT_EQ(fs_rename("b", "a/b2"), 0);
    EXPECT_EQ(list(""), v({"a/"}));
    EXPECT_EQ(list("a/b2"), v({"sub/", "y.txt", "z"}));
    EXPECT_EQ(get("a/b2/sub/deep.txt"), "deep");
}

TEST_F(EngineFolders, FolderCannotMoveIntoItself)
{
    ASSERT_EQ(fs_mkdir("A"), 0);
    ASSERT_EQ(fs_mkdir("A/inner"), 0);
    ASSERT_EQ(fs_mkdir("AB"), 0);
    EXPECT_FAILS_WITH(fs_rename("A", "A/inner/A"), EINVAL);
    EXPECT_FAILS_WITH(fs_rename("A", "a/x"), EINVAL);
    EXPECT_EQ(list(""), v({"A/", "AB/"}));
    // "/AB" is not inside "/A".
    EXPECT_EQ(fs_rename("A", "AB/A"), 0);
    EXPECT_EQ(list("AB/A"), v({"inner/"}));
}

// Paths count as shown, with the leading "/": sixteen 255-byte names fill the limit exactly.
TEST_F(EngineFolders, NothingIsMadeOrMovedPastThePathLimit)
{
    const std::string n255(255, 'n');
    std::string deepest;
    for (int level = 0; level < 16; level++) {
        deepest += (level ? "/" : "") + n255;
        ASSERT_EQ(fs_mkdir(deepest.c_str()), 0) << level;
    }
    ASSERT_EQ(deepest.size() + 1, (size_t)FS_PATH_MAX);
    EXPECT_EQ(list(deepest), std::vector<std::string>{});
    EXPECT_FAILS_WITH(fs_mkdir((deepest + "/x").c_str()), ENAMETOOLONG);
    EXPECT_FAILS_WITH(fs_open((deepest + "/x").c_str(), FS_O_WRITE, (uint64_t)1), ENAMETOOLONG);
    const std::string shallower = deepest.substr(0, deepest.size() - 256);
    ASSERT_EQ(put(shallower + "/" + std::string(254, 'f'), "at the limit, less one"), 0);
    EXPECT_FAILS_WITH(fs_rename((shallower + "/" + std::string(254, 'f')).c_str(),
                                (shallower + "/" + n255 + "x").c_str()),
                      ENAMETOOLONG);

    // A folder takes its deepest entry along: a longer name or a deeper place is refused,
    // a shorter one allowed, and nothing moved on a refusal.
    EXPECT_FAILS_WITH(fs_rename(n255.c_str(), (n255 + "x").c_str()), ENAMETOOLONG);
    ASSERT_EQ(fs_mkdir("top"), 0);
    EXPECT_FAILS_WITH(fs_rename(n255.c_str(), ("top/" + n255).c_str()), ENAMETOOLONG);
    EXPECT_EQ(list(""), (std::vector<std::string>{n255 + "/", "top/"}));
    ASSERT_EQ(fs_rename(n255.c_str(), "short"), 0);
    EXPECT_EQ(get("short/" + shallower.substr(256) + "/" + std::string(254, 'f')), "at the limit, less one");
    ASSERT_EQ(fs_rename("short", ("top/" + std::string(250, 's')).c_str()), 0);
}

TEST_F(EngineFolders, RecreatedFolderGetsANewId)
{
    ASSERT_EQ(fs_mkdir("x"), 0);
    ASSERT_EQ(put("x/kept", "kept"), 0);
    ASSERT_EQ(fs_rename("x", "y"), 0);
    ASSERT_EQ(fs_mkdir("x"), 0);
    auto entries = rootIndex().entries;
    ASSERT_EQ(entries.size(), 2u);
    ref::Bytes expected = ref::objectId("dirc", 0, "x");
    EXPECT_EQ(entries[1].name, "y/");
    EXPECT_EQ(entries[1].id, expected);
    uint32_t counter = (uint32_t)ref::le(expected, 16, 4) + 1;
    ref::Bytes bumped = expected.substr(0, 16);
    ref::putLe(bumped, counter, 4);
    EXPECT_EQ(entries[0].id, bumped);
    EXPECT_EQ(get("y/kept"), "kept");
    EXPECT_TRUE(list("x").empty());
}

TEST_F(EngineFolders, ListingIsASnapshotInNameOrder)
{
    for (const char *n : {"b", "C", "a"})
        ASSERT_EQ(put(n, n), 0);
    fs_dir *dir = fs_opendir("/");
    ASSERT_EQ(put("d", "late"), 0);
    std::vector<std::string> names;
    while (struct fs_dirent *d = fs_readdir(dir))
        names.push_back(d->name);
    fs_closedir(dir);
    EXPECT_EQ(names, v({"a", "b", "C"}));
}
