// Files at and just over the part size (536,870,912 bytes), made of zeros.
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "StoreFixture.h"

// Zeros compress well, so these stay quick even at the part size.
class EngineLargeFile : public StoreTest {
protected:
    // Writes size zeros to an open handle; false when a write fails.
    static bool writeZeros(int h, uint64_t size)
    {
        std::vector<char> zeros(8 << 20, 0);
        for (uint64_t off = 0; off < size;) {
            uint32_t n = (uint32_t)std::min<uint64_t>(zeros.size(), size - off);
            if (fs_write(h, zeros.data(), n) != (int)n)
                return false;
            off += n;
        }
        return true;
    }
    // The bytes read back and the last of them; 0 bytes on a failed read or a non-zero byte before the last.
    static std::pair<uint64_t, char> readBack(const std::string &path)
    {
        int h = fs_open(path.c_str(), FS_O_READ);
        if (h < 0)
            return {0, 0};
        std::vector<char> buf(8 << 20);
        uint64_t total = 0;
        bool leadingZeros = true;
        char last = 0;
        int n;
        while ((n = fs_read(h, buf.data(), (uint32_t)buf.size())) > 0) {
            leadingZeros = leadingZeros && !last && std::all_of(buf.begin(), buf.begin() + n - 1, [](char c) { return !c; });
            last = buf[(size_t)n - 1];
            total += (uint64_t)n;
        }
        fs_close(h);
        return {n < 0 || !leadingZeros ? 0 : total, last};
    }
};

TEST_F(EngineLargeFile, ExactlyOnePartSizeHasNoPartEntry)
{
    const int h = fs_open("exact.bin", FS_O_WRITE, FS_PART_SIZE);
    ASSERT_TRUE(h >= 0 && writeZeros(h, FS_PART_SIZE));
    ASSERT_EQ(fs_close(h), 0);
    auto entries = rootIndex().entries;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(readBack("exact.bin"), std::make_pair((uint64_t)FS_PART_SIZE, '\0'));
}

TEST_F(EngineLargeFile, OneByteOverThePartSizeMakesPartOne)
{
    uint64_t size = FS_PART_SIZE + 1;
    int h = fs_open("big.bin", FS_O_WRITE, size);
    ASSERT_TRUE(h >= 0 && writeZeros(h, FS_PART_SIZE));
    ASSERT_EQ(fs_write(h, "Z", 1), 1);
    ASSERT_EQ(fs_close(h), 0);

    auto entries = rootIndex().entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "big.bin");
    EXPECT_EQ(entries[0].size, size);
    EXPECT_EQ(entries[1].name, "big.bin?1");
    EXPECT_EQ(entries[1].size, 0u);
    EXPECT_EQ(entries[1].id, ref::objectId("blob", 0, "/big.bin?1"));
    auto [header, content] = ref::readContentObject(readFile(ref::objectPath(storeDir(), entries[1].id)),
                                                    objectKey(), entries[1].id);
    EXPECT_EQ(header, "blob 0");
    EXPECT_EQ(content, "Z");
    // The first object's header caps the size at the part size.
    std::string first = readFile(ref::objectPath(storeDir(), entries[0].id));
    ref::Bytes firstPlain =
        ref::aesCbc(first.substr(0, 16 * 64), ref::objectKey(objectKey(), entries[0].id),
                    ref::objectIv(entries[0].id), false);
    z_stream z{};
    inflateInit(&z);
    char head[32];
    z.next_in = (Bytef *)firstPlain.data();
    z.avail_in = (uInt)firstPlain.size();
    z.next_out = (Bytef *)head;
    z.avail_out = sizeof(head);
    inflate(&z, Z_NO_FLUSH);
    inflateEnd(&z);
    EXPECT_STREQ(head, "blob 536870912");

    EXPECT_EQ(list(""), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(readBack("big.bin"), std::make_pair(size, 'Z'));

    // Removal takes the part and its object with it.
    ASSERT_EQ(fs_unlink("big.bin"), 0);
    EXPECT_NE(access(ref::objectPath(storeDir(), entries[1].id).c_str(), F_OK), 0);
    EXPECT_NE(access(ref::objectPath(storeDir(), entries[0].id).c_str(), F_OK), 0);
}

TEST_F(EngineLargeFile, AFullVolumeAtThePartBoundaryIsReported)
{
    int h = fs_open("big.bin", FS_O_WRITE, FS_PART_SIZE + 1);
    ASSERT_TRUE(h >= 0 && writeZeros(h, FS_PART_SIZE));

    // Starting part one records it in the index; that write meets a full volume.
    const std::string root = storeDir() + "/index";
    const std::string before = readFile(root);
    ASSERT_EQ(symlink("/dev/full", (root + ".lock").c_str()), 0);
    EXPECT_FAILS_WITH(fs_write(h, "Z", 1), ENOSPC);
    EXPECT_FAILS_WITH(fs_close(h), EIO);  // the file is not whole, whatever the handle holds
    unlink((root + ".lock").c_str());  // the failed write may have taken it away already

    EXPECT_EQ(readFile(root), before);
    auto entries = ref::readRootIndex(before, password).entries;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "big.bin");

    // The unfinished file can be removed, and nothing of it is left.
    ASSERT_EQ(fs_unlink("big.bin"), 0);
    EXPECT_EQ(list(""), std::vector<std::string>{});
    EXPECT_NE(access(ref::objectPath(storeDir(), entries[0].id).c_str(), F_OK), 0);
}
