// Reading and writing through handles, including files split into parts.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "StoreFixture.h"

class EngineHandles : public StoreTest {
protected:
    // The unfinished flag fs_readdir gives for name in the root, and the type bits on the disk.
    std::pair<int, int> unfinishedMark(const std::string &name)
    {
        int listed = -1;
        fs_dir *dir = fs_opendir("");
        while (struct fs_dirent *d = dir ? fs_readdir(dir) : nullptr)
            if (name == d->name)
                listed = d->unfinished;
        fs_closedir(dir);
        const ref::Entry e = entryOf(name);
        return {listed, e.name.empty() ? -1 : e.flags & 0xF000};
    }
};

TEST_F(EngineHandles, RoundTripsAcrossChunkAndBufferSizes)
{
    const std::string data = noise(5 * 1024 * 1024 + 123, 12345);
    ASSERT_EQ(fs_mkdir("d"), 0);
    ASSERT_EQ(put("d/random.bin", data, 700001), 0);
    EXPECT_EQ(get("d/random.bin"), data);
    EXPECT_EQ(get("d/random.bin", 99991), data);  // reads of odd sizes deliver every byte once
}

TEST_F(EngineHandles, ModeAndHandleErrors)
{
    ASSERT_EQ(put("f", "abc"), 0);
    int w = fs_open("g", FS_O_WRITE, (uint64_t)3);
    int r = fs_open("f", FS_O_READ);
    ASSERT_GE(w, 0);
    ASSERT_GE(r, 0);
    char buf[4];
    EXPECT_FAILS_WITH(fs_read(w, buf, 3), EBADF);
    EXPECT_FAILS_WITH(fs_write(r, "abc", 3), EBADF);
    // Counts that an int result cannot carry; nothing is touched.
    EXPECT_FAILS_WITH(fs_read(r, buf, 0x80000000u), EINVAL);
    EXPECT_FAILS_WITH(fs_write(w, "abc", 0x80000000u), EINVAL);
    EXPECT_EQ(fs_write(w, "xyz", 3), 3);
    EXPECT_EQ(fs_close(w), 0);
    EXPECT_EQ(fs_close(r), 0);
    EXPECT_FAILS_WITH(fs_close(r), EBADF);
    EXPECT_EQ(fs_close(5000), -1);
    EXPECT_FAILS_WITH(fs_open("f", 7), EBADF);
    EXPECT_FAILS_WITH(fs_open(nullptr, FS_O_READ), EINVAL);

    ASSERT_EQ(fs_mkdir("dir"), 0);
    EXPECT_FAILS_WITH(fs_open("dir", FS_O_READ), EISDIR);
    EXPECT_FAILS_WITH(fs_open("DIR", FS_O_WRITE, (uint64_t)1), EISDIR);
    EXPECT_FAILS_WITH(fs_open("missing", FS_O_READ), ENOENT);
    EXPECT_FAILS_WITH(fs_open("nofolder/x", FS_O_WRITE, (uint64_t)1), ENOENT);
    EXPECT_FAILS_WITH(fs_open("what?1", FS_O_WRITE, (uint64_t)1), EINVAL);
    EXPECT_FAILS_WITH(fs_open("..", FS_O_WRITE, (uint64_t)1), EINVAL);
    EXPECT_FAILS_WITH(fs_open(std::string(256, 'n').c_str(), FS_O_WRITE, (uint64_t)1), ENAMETOOLONG);
}

TEST_F(EngineHandles, ReplacingStartsFromTheOldIdAndKeepsTheNewName)
{
    ASSERT_EQ(put("Notes.txt", "old words"), 0);
    const ref::Bytes oldId = entryOf("Notes.txt").id;
    ASSERT_EQ(put("notes.TXT", "new words, longer"), 0);
    const auto entries = rootIndex().entries;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "notes.TXT");
    // The old object stays until the new entry is recorded, so the unique-id search steps
    // the counter in the id's last four bytes once.
    EXPECT_EQ(entries[0].id.substr(0, 16), oldId.substr(0, 16));
    EXPECT_NE(entries[0].id, oldId);
    EXPECT_EQ(get("NOTES.txt"), "new words, longer");
}

TEST_F(EngineHandles, HandleTableGrowsToItsLimit)
{
    ASSERT_EQ(put("f", "x"), 0);
    std::vector<int> open;
    int h;
    while ((h = fs_open("f", FS_O_READ)) >= 0)
        open.push_back(h);
    EXPECT_EQ(errno, EMFILE);
    EXPECT_EQ(open.size(), (size_t)FS_MAX_HANDLES);
    ASSERT_EQ(fs_close(open[100]), 0);
    EXPECT_EQ(fs_open("f", FS_O_READ), open[100]);
    for (int x : open)
        fs_close(x);
}

TEST_F(EngineHandles, AnEntryIsMarkedUnfinishedFromOpenUntilAWholeClose)
{
    int h = fs_open("half.bin", FS_O_WRITE, (uint64_t)10);
    ASSERT_GE(h, 0);
    ASSERT_EQ(fs_write(h, "01234", 5), 5);
    // What a crash now leaves on the disk, and what any listing shows meanwhile.
    EXPECT_EQ(unfinishedMark("half.bin"), std::make_pair(1, 0x1000));
    ASSERT_EQ(fs_write(h, "56789", 5), 5);
    ASSERT_EQ(fs_close(h), 0);
    EXPECT_EQ(unfinishedMark("half.bin"), std::make_pair(0, 0));

    // Closed short of its size, a file stays marked.
    h = fs_open("short.bin", FS_O_WRITE, (uint64_t)10);
    ASSERT_EQ(fs_write(h, "012", 3), 3);
    ASSERT_EQ(fs_close(h), 0);
    EXPECT_EQ(unfinishedMark("short.bin"), std::make_pair(1, 0x1000));

    // In a batch the mark never reaches the disk for a file closed before the commit.
    ASSERT_EQ(fs_batch_begin(), 0);
    ASSERT_EQ(put("batched.bin", "whole"), 0);
    ASSERT_EQ(fs_batch_end(), 0);
    EXPECT_EQ(unfinishedMark("batched.bin"), std::make_pair(0, 0));
    EXPECT_EQ(get("batched.bin"), "whole");
}

TEST_F(EngineHandles, RepairClearsTheMarkOfAWholeFileOnly)
{
    ASSERT_EQ(put("whole.txt", "all of it"), 0);
    // A mark whose clearing failed (a full volume at the close): the content is whole.
    ref::Index root = rootIndex();
    for (ref::Entry &e : root.entries)
        e.flags |= 0x1000;
    writeRootIndex(root);
    relogin();

    const CheckRun run = checkVault();
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.has(FS_CHECK_UNFINISHED_MARK, "/whole.txt")) << run.all();
    EXPECT_EQ(fs_repair(nullptr, nullptr), 1);
    EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(unfinishedMark("whole.txt"), std::make_pair(0, 0));
    EXPECT_EQ(get("whole.txt"), "all of it");
}
