// Objects compressed in parallel blocks are one zlib stream that every reader takes, equal in
// content to what the single-stream writer makes, and a failing or abandoned one stops cleanly.
#include <gtest/gtest.h>

#include <zlib.h>

#include "StoreFixture.h"
#include "adler.h"
#include "block_deflate.h"
#include "object.h"
#include "fs.h"

namespace {

class EngineBlockObject : public StoreTest {
protected:
    void TearDown() override
    {
        fs_set_deflate_threads(0);
        StoreTest::TearDown();
    }
    // Content and header as the independent reader decodes them, and the object file.
    struct Read {
        std::string header, content;
        ref::Bytes file;
    };
    Read reference(const std::string &name)
    {
        auto [header, content] = readObject(name);
        return {header, content, readFile(objectOf(name))};
    }
};

}  // namespace

TEST_F(EngineBlockObject, SizesAroundBlockBoundariesMatchTheSingleStreamWriter)
{
    const size_t block = BLOCK_DEFLATE_SIZE;
    const size_t sizes[] = {0, 1, block - 1, block, block + 1, 5 * block + 4097};
    for (const bool text : {false, true}) {
        for (const size_t size : sizes) {
            const std::string content = text ? prose(size, size) : noise(size, size);
            const std::string tag = (text ? "text-" : "noise-") + std::to_string(size);
            fs_set_deflate_threads(-1);
            ASSERT_EQ(put("single-" + tag, content), 0) << tag;
            fs_set_deflate_threads(2);
            ASSERT_EQ(put("blocks-" + tag, content, 300000), 0) << tag;  // writes across blocks

            const Read single = reference("single-" + tag), blocks = reference("blocks-" + tag);
            EXPECT_EQ(get("blocks-" + tag), content) << tag;
            EXPECT_EQ(blocks.header, "blob " + std::to_string(size)) << tag;
            EXPECT_EQ(blocks.content, content) << tag;
            EXPECT_EQ(single.content, blocks.content) << tag;
            // Blocks lose little of the ratio: each starts from the 32 KiB before it.
            EXPECT_LE(blocks.file.size(), single.file.size() + single.file.size() / 50 + 64) << tag;
            // Past one block the objects differ: the blocks' flush points are in the stream.
            if (size > block) {
                EXPECT_NE(blocks.file, single.file) << tag;
            }
        }
    }
}

TEST_F(EngineBlockObject, StoredAndDeflatedBlocksMixInOneObject)
{
    const size_t block = BLOCK_DEFLATE_SIZE;
    const std::string noiseOnly = noise(4 * block + 100, 1);
    const std::string mixed = noise(block, 2) + prose(block + 5000) + noise(block / 2, 3) + prose(2 * block);
    // -1: the single stream, whose level is judged per chunk, down and up again.
    for (const int threads : {-1, 1, 3}) {
        fs_set_deflate_threads(threads);
        const std::string suffix = std::to_string(threads);
        ASSERT_EQ(put("noise" + suffix, noiseOnly), 0);
        ASSERT_EQ(put("mixed" + suffix, mixed, 777777), 0);
        const Read n = reference("noise" + suffix), m = reference("mixed" + suffix);
        EXPECT_EQ(n.content, noiseOnly) << threads;
        EXPECT_EQ(m.content, mixed) << threads;
        EXPECT_EQ(get("mixed" + suffix), mixed) << threads;
        // Noise is stored with only the framing on top; the text halves compress.
        EXPECT_LT(n.file.size(), noiseOnly.size() + noiseOnly.size() / 2000 + 64) << threads;
        EXPECT_LT(m.file.size(), mixed.size() * 3 / 4) << threads;
    }
}

TEST_F(EngineBlockObject, AFileClosedMidwayAsOnCancelHoldsWhatWasWritten)
{
    fs_set_deflate_threads(2);
    const std::string content = prose(9 * BLOCK_DEFLATE_SIZE);
    const size_t part = 6 * BLOCK_DEFLATE_SIZE + 10;
    const int h = fs_open("cancelled.txt", FS_O_WRITE, (uint64_t)content.size());
    ASSERT_GE(h, 0);
    ASSERT_EQ(fs_write(h, content.data(), (uint32_t)part), (int)part);
    // A cancelled import closes the handle with blocks still in flight, then removes the file.
    ASSERT_EQ(fs_close(h), 0);
    EXPECT_EQ(reference("cancelled.txt").content, content.substr(0, part));
    ASSERT_EQ(fs_unlink("cancelled.txt"), 0);
    ASSERT_EQ(put("next.txt", content), 0);
    EXPECT_EQ(get("next.txt"), content);
}

TEST_F(EngineBlockObject, AFailedWriteMidwayIsReportedAndTheNextObjectIsWhole)
{
    fs_set_deflate_threads(2);
    const std::string content = noise(8 * BLOCK_DEFLATE_SIZE, 5);
    // The first and the fourth write of blocks after the open fail: the volume is full.
    for (const unsigned long nth : {1ul, 4ul}) {
        const int h = fs_open("full.bin", FS_O_WRITE, (uint64_t)content.size());
        ASSERT_GE(h, 0);
        fs_fault_arm(nth, FS_FAULT_FAIL, ENOSPC);
        int failedWith = 0;
        for (size_t off = 0; !failedWith && off < content.size(); off += 2u << 20)
            if (fs_write(h, content.data() + off, 2u << 20) != (int)(2u << 20))
                failedWith = errno;
        if (h >= 0 && fs_close(h) != 0 && !failedWith)
            failedWith = errno;
        const bool fired = fs_fault_fired();
        fs_fault_arm(0, FS_FAULT_NONE, 0);
        ASSERT_TRUE(fired) << nth;
        EXPECT_EQ(failedWith, ENOSPC) << nth;
        EXPECT_NE(get("full.bin"), content) << nth;
        fs_unlink("full.bin");
    }
    ASSERT_EQ(put("after.bin", content), 0);
    EXPECT_EQ(get("after.bin"), content);
}

TEST_F(EngineBlockObject, ReadersReuseInflateAfterEndsClosesMidwayAndDamage)
{
    const std::string a = prose(70000, 1), b = noise(5000, 2), c = prose(3 * BLOCK_DEFLATE_SIZE, 3);
    ASSERT_EQ(put("a.txt", a), 0);
    ASSERT_EQ(put("b.bin", b), 0);
    ASSERT_EQ(put("c.txt", c), 0);
    EXPECT_EQ(get("a.txt"), a);
    // Closed with the stream half inflated: the next reader must not see its state.
    int h = fs_open("c.txt", FS_O_READ);
    ASSERT_GE(h, 0);
    std::string part(100000, '\0');
    ASSERT_EQ(fs_read(h, part.data(), (uint32_t)part.size()), (int)part.size());
    ASSERT_EQ(fs_close(h), 0);
    EXPECT_EQ(part, c.substr(0, part.size()));
    EXPECT_EQ(get("b.bin"), b);

    // A damaged object fails; the readers after it are whole.
    flipByte(objectOf("a.txt"), (long)readFile(objectOf("a.txt")).size() / 2, 0x40);
    EXPECT_NE(get("a.txt"), a);
    EXPECT_EQ(get("c.txt"), c);
    EXPECT_EQ(get("b.bin"), b);
}

// The blocks' checksum is our own; any difference from zlib's makes every reader refuse the
// object. All-0xff runs are the sums' worst case for overflow.
TEST(EngineAdler, MatchesZlibOverLengthsOffsetsAndStartValues)
{
    const std::string bytes = noise(3 * 5536 + 200, 7);
    const std::string full(70000, '\xff');
    const size_t lengths[] = {0, 1, 31, 32, 33, 5535, 5536, 5537, 3 * 5536 + 100};
    for (const std::string *data : std::initializer_list<const std::string *>{&bytes, &full})
        for (const size_t len : lengths)
            for (const size_t offset : {0, 1, 17})
                for (const uint32_t start : {1u, 0xfff0fff0u, 0x12345678u % 65521u}) {
                    if (offset + len > data->size())
                        continue;
                    const auto *p = reinterpret_cast<const unsigned char *>(data->data()) + offset;
                    EXPECT_EQ(adler32_fast(start, p, len), (uint32_t)adler32(start, p, (uInt)len))
                        << "length " << len << " offset " << offset << " start " << start;
                }
    const auto *p = reinterpret_cast<const unsigned char *>(full.data());
    EXPECT_EQ(adler32_fast(0xfff0fff0u, p, full.size()), (uint32_t)adler32(0xfff0fff0u, p, (uInt)full.size()));
}
