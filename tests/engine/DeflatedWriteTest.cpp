// Files compressed ahead (fs_deflate_content) and stored with fs_write_deflated: the same
// content as the streaming writer stores, no larger, readable by the engine and the reference
// reader, and refused or failed cleanly where the stream cannot be taken.
#include <gtest/gtest.h>

#include "StoreFixture.h"
#include "object.h"
#include "fs.h"

namespace {

// The contents that take each of the writer's ways: too short to be judged, judged and
// deflated, judged and stored, text after noise within the judged chunk, the largest.
std::vector<std::pair<std::string, std::string>> contents()
{
    return {{"empty", ""},
            {"five", "hello"},
            {"short", prose(3000, 1)},
            {"note", prose(40 << 10, 2)},
            {"noise", noise(300 << 10, 3)},
            {"mixed", noise(20 << 10, 4) + prose(200 << 10, 5)},
            {"largest", prose(FS_DEFLATE_MAX, 6)}};
}

struct Deflated {
    unsigned char *bytes = nullptr;
    size_t cap = 0, len = 0;
    ~Deflated() { free(bytes); }
};

class EngineDeflatedWrite : public StoreTest {
protected:
    fs_deflater *deflater = fs_deflater_new();
    void TearDown() override
    {
        fs_deflater_free(deflater);
        fs_set_deflate_threads(0);
        fs_fault_arm(0, FS_FAULT_NONE, 0);
        StoreTest::TearDown();
    }

    int deflate(const std::string &content, Deflated &d)
    {
        return fs_deflate_content(deflater, content.data(), (uint32_t)content.size(), &d.bytes, &d.cap, &d.len);
    }
    int putDeflated(const std::string &path, const std::string &content, Deflated &d)
    {
        if (deflate(content, d) < 0)
            return -1;
        int h = fs_open(path.c_str(), FS_O_WRITE, (uint64_t)content.size());
        if (h < 0)
            return -1;
        int put = fs_write_deflated(h, d.bytes, (uint32_t)d.len);
        int saved = errno;
        int closed = fs_close(h);
        errno = put < 0 ? saved : errno;
        return put < 0 || closed < 0 ? -1 : 0;
    }
};

}  // namespace

// For both writers (single stream and block compressor for large objects), with one deflater
// used for every content in turn, so its reused zlib state is what is compared.
TEST_F(EngineDeflatedWrite, StoresTheStreamingWritersContentReadableEverywhere)
{
    for (int threads : {0, -1}) {
        fs_set_deflate_threads(threads);
        for (const auto &[name, content] : contents()) {
            SCOPED_TRACE(name + " threads " + std::to_string(threads));
            const std::string suffix = std::to_string(threads);
            ASSERT_EQ(put("old-" + name + suffix, content), 0);
            Deflated d;
            ASSERT_EQ(putDeflated("new-" + name + suffix, content, d), 0);
            EXPECT_EQ(get("new-" + name + suffix), content);
            const ref::Bytes plain = objectPlain("new-" + name + suffix);
            const ref::Bytes old = objectPlain("old-" + name + suffix);
            // Noise is left to zlib's writer, which stores it; what compresses may be smaller.
            if (name == "noise") {
                EXPECT_EQ(plain, old);
            }
            EXPECT_LE(plain.size(), old.size() + old.size() / 50 + 16);
            EXPECT_EQ(plain.substr(0, d.len), std::string((const char *)d.bytes, d.len));
            const auto [header, stored] = readObject("new-" + name + suffix);
            EXPECT_EQ(header, "blob " + std::to_string(content.size()));
            EXPECT_EQ(stored, content);
            EXPECT_EQ(entryOf("new-" + name + suffix).size, content.size());
        }
    }
    EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);
}

TEST_F(EngineDeflatedWrite, RefusesWhereTheStreamCannotBeTheWholeContent)
{
    Deflated d;
    const std::string big(FS_DEFLATE_MAX + 1, 'x');
    EXPECT_FAILS_WITH(deflate(big, d), EINVAL);
    ASSERT_EQ(deflate("abc", d), 0);

    // Content already written: refused, and the file still ends as fs_write made it.
    int h = fs_open("written.txt", FS_O_WRITE, (uint64_t)3);
    ASSERT_GE(h, 0);
    ASSERT_EQ(fs_write(h, "xyz", 3), 3);
    EXPECT_FAILS_WITH(fs_write_deflated(h, d.bytes, (uint32_t)d.len), EINVAL);
    ASSERT_EQ(fs_close(h), 0);
    EXPECT_EQ(get("written.txt"), "xyz");

    // A declared size the block compressor would take; a second stream; a read handle.
    h = fs_open("large.bin", FS_O_WRITE, (uint64_t)FS_DEFLATE_MAX + 1);
    ASSERT_GE(h, 0);
    EXPECT_FAILS_WITH(fs_write_deflated(h, d.bytes, (uint32_t)d.len), EINVAL);
    fs_close(h);
    h = fs_open("abc.txt", FS_O_WRITE, (uint64_t)3);
    ASSERT_GE(h, 0);
    ASSERT_EQ(fs_write_deflated(h, d.bytes, (uint32_t)d.len), 0);
    EXPECT_FAILS_WITH(fs_write_deflated(h, d.bytes, (uint32_t)d.len), EINVAL);
    EXPECT_FAILS_WITH(fs_write(h, "more", 4), EINVAL);
    ASSERT_EQ(fs_close(h), 0);
    EXPECT_EQ(get("abc.txt"), "abc");
    h = fs_open("abc.txt", FS_O_READ);
    EXPECT_FAILS_WITH(fs_write_deflated(h, d.bytes, (uint32_t)d.len), EBADF);
    fs_close(h);
}

// The volume fills up under the object: the write and the close fail, and the files stored
// before stay whole.
TEST_F(EngineDeflatedWrite, AFullVolumeFailsWriteAndClose)
{
    ASSERT_EQ(put("before.txt", prose(5000, 9)), 0);
    Deflated d;
    const std::string content = noise(100 << 10, 8);
    ASSERT_EQ(deflate(content, d), 0);
    int h = fs_open("full.bin", FS_O_WRITE, (uint64_t)content.size());
    ASSERT_GE(h, 0);
    fs_fault_arm(1, FS_FAULT_FAIL, ENOSPC);
    EXPECT_FAILS_WITH(fs_write_deflated(h, d.bytes, (uint32_t)d.len), ENOSPC);
    EXPECT_TRUE(fs_fault_fired());
    EXPECT_FAILS_WITH(fs_close(h), ENOSPC);
    fs_fault_arm(0, FS_FAULT_NONE, 0);
    EXPECT_EQ(get("before.txt"), prose(5000, 9));
    EXPECT_NE(get("full.bin"), content);
}
