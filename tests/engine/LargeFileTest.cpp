// Files at and just over the part size (536,870,912 bytes), made of zeros.
#include <unistd.h>

#include <gtest/gtest.h>

#include "ReferenceFormat.h"
#include "StoreFixture.h"

// Zeros compress well, so these stay quick even at the part size.
class EngineLargeFile : public StoreTest {
protected:
    static int putZeros(const std::string &path, uint64_t size)
    {
        std::vector<char> zeros(8 << 20, 0);
        int h = fs_open(path.c_str(), FS_O_WRITE, size);
        if (h < 0)
            return -1;
        for (uint64_t off = 0; off < size;) {
            uint32_t n = (uint32_t)std::min<uint64_t>(zeros.size(), size - off);
            if (fs_write(h, zeros.data(), n) != (int)n)
                return -1;
            off += n;
        }
        return fs_close(h);
    }
    static uint64_t countZeros(const std::string &path, bool *allZero)
    {
        int h = fs_open(path.c_str(), FS_O_READ);
        if (h < 0)
            return 0;
        std::vector<char> buf(8 << 20);
        uint64_t total = 0;
        *allZero = true;
        int n;
        while ((n = fs_read(h, buf.data(), (uint32_t)buf.size())) > 0) {
            for (int i = 0; i < n; i++)
                if (buf[(size_t)i]) {
                    *allZero = false;
                    break;
                }
            total += (uint64_t)n;
        }
        fs_close(h);
        return n < 0 ? 0 : total;
    }
};

TEST_F(EngineLargeFile, ExactlyOnePartSizeHasNoPartEntry)
{
    ASSERT_EQ(putZeros("exact.bin", FS_PART_SIZE), 0);
    auto entries = ref::readRootIndex(readFile(storeDir() + "/index"), password).entries;
    ASSERT_EQ(entries.size(), 1u);
    bool allZero = false;
    EXPECT_EQ(countZeros("exact.bin", &allZero), FS_PART_SIZE);
    EXPECT_TRUE(allZero);
}

TEST_F(EngineLargeFile, OneByteOverThePartSizeMakesPartOne)
{
    uint64_t size = FS_PART_SIZE + 1;
    int h = fs_open("big.bin", FS_O_WRITE, size);
    ASSERT_GE(h, 0);
    std::vector<char> zeros(8 << 20, 0);
    for (uint64_t off = 0; off < FS_PART_SIZE; off += zeros.size())
        ASSERT_EQ(fs_write(h, zeros.data(), (uint32_t)zeros.size()), (int)zeros.size());
    ASSERT_EQ(fs_write(h, "Z", 1), 1);
    ASSERT_EQ(fs_close(h), 0);

    auto entries = ref::readRootIndex(readFile(storeDir() + "/index"), password).entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "big.bin");
    EXPECT_EQ(entries[0].size, size);
    EXPECT_EQ(entries[1].name, "big.bin?1");
    EXPECT_EQ(entries[1].size, 0u);
    EXPECT_EQ(entries[1].id, ref::objectId("blob", 0, "/big.bin?1"));
    auto [header, content] = ref::readContentObject(readFile(ref::objectPath(storeDir(), entries[1].id)),
                                                    ref::sha1(password), entries[1].id);
    EXPECT_EQ(header, "blob 0");
    EXPECT_EQ(content, "Z");
    // The first object's header caps the size at the part size.
    std::string first = readFile(ref::objectPath(storeDir(), entries[0].id));
    ref::Bytes firstPlain =
        ref::aesCbc(first.substr(0, 16 * 64), ref::objectKey(ref::sha1(password), entries[0].id),
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
    h = fs_open("big.bin", FS_O_READ);
    std::vector<char> buf(8 << 20);
    uint64_t total = 0;
    int n;
    char last = 0;
    while ((n = fs_read(h, buf.data(), (uint32_t)buf.size())) > 0) {
        total += (uint64_t)n;
        last = buf[(size_t)n - 1];
    }
    fs_close(h);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(total, size);
    EXPECT_EQ(last, 'Z');

    // Removal takes the part and its object with it.
    ASSERT_EQ(fs_unlink("big.bin"), 0);
    EXPECT_NE(access(ref::objectPath(storeDir(), entries[1].id).c_str(), F_OK), 0);
    EXPECT_NE(access(ref::objectPath(storeDir(), entries[0].id).c_str(), F_OK), 0);
}

TEST_F(EngineLargeFile, AFullVolumeAtThePartBoundaryIsReported)
{
    int h = fs_open("big.bin", FS_O_WRITE, FS_PART_SIZE + 1);
    ASSERT_GE(h, 0);
    std::vector<char> zeros(8 << 20, 0);
    for (uint64_t off = 0; off < FS_PART_SIZE; off += zeros.size())
        ASSERT_EQ(fs_write(h, zeros.data(), (uint32_t)zeros.size()), (int)zeros.size());

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
