// fs_salvage on damaged files: every byte it hands out is the byte stored there, what it
// cannot read is reported, and reading goes on past damage from the next block or part.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StoreFixture.h"

namespace {

struct Salvaged {
    std::string bytes;  // the recorded size, zeros where nothing was read
    std::vector<bool> read;
    std::vector<std::pair<uint64_t, std::string>> pieces;  // what was read of a file too large to hold
    std::vector<fs_salvage_range> ranges;
    uint64_t size = 0;

    uint64_t unreadable() const
    {
        uint64_t n = 0;
        for (const fs_salvage_range &r : ranges)
            n += r.kind == FS_SALVAGE_UNREADABLE ? r.length : 0;
        return n;
    }
    bool unverified() const
    {
        return std::any_of(ranges.begin(), ranges.end(),
                           [](const fs_salvage_range &r) { return r.kind == FS_SALVAGE_UNVERIFIED; });
    }
};

class EngineSalvage : public StoreTest {
protected:
    Salvaged salvage(const std::string &path)
    {
        Salvaged out;
        fs_salvage *s = fs_salvage_open(path.c_str(), &out.size);
        EXPECT_NE(s, nullptr) << errno;
        if (!s)
            return out;
        out.bytes.assign(out.size < (64u << 20) ? out.size : 0, '\0');
        out.read.assign(out.bytes.size(), false);
        std::vector<char> buffer(1 << 20);
        uint64_t offset = 0, last_end = 0;
        int n;
        while ((n = fs_salvage_read(s, buffer.data(), (uint32_t)buffer.size(), &offset)) > 0) {
            EXPECT_GE(offset, last_end) << "pieces out of order";
            last_end = offset + (uint64_t)n;
            if (last_end <= out.bytes.size()) {
                std::copy(buffer.begin(), buffer.begin() + n, out.bytes.begin() + (ptrdiff_t)offset);
                std::fill(out.read.begin() + (ptrdiff_t)offset, out.read.begin() + (ptrdiff_t)last_end, true);
            } else {
                out.pieces.push_back({offset, std::string(buffer.data(), (size_t)n)});
            }
        }
        EXPECT_EQ(n, 0);
        const fs_salvage_range *ranges = nullptr;
        size_t count = fs_salvage_ranges(s, &ranges);
        out.ranges.assign(ranges, ranges + count);
        fs_salvage_close(s);
        return out;
    }

    // Offsets in the decrypted stream of the object right after each sync point.
    std::vector<size_t> blockStarts(const std::string &name)
    {
        const ref::Bytes plain = objectPlain(name);
        std::vector<size_t> starts;
        for (size_t at = plain.find(std::string("\0\0\xff\xff", 4)); at != std::string::npos;
             at = plain.find(std::string("\0\0\xff\xff", 4), at + 1))
            starts.push_back(at + 4);
        return starts;
    }
    void flipByteAt(const std::string &name, size_t offset) { flipByte(objectOf(name), (long)offset); }
    // Every byte not read, or read wrong, lies in a reported range.
    static void expectReportedWhereWrong(const Salvaged &got, const std::string &content)
    {
        ASSERT_EQ(got.bytes.size(), content.size());
        std::vector<bool> flagged(content.size(), false);
        for (const fs_salvage_range &r : got.ranges)
            std::fill(flagged.begin() + (ptrdiff_t)r.offset, flagged.begin() + (ptrdiff_t)(r.offset + r.length),
                      true);
        for (size_t i = 0; i < content.size(); i++)
            if (!flagged[i] && (!got.read[i] || got.bytes[i] != content[i])) {
                ADD_FAILURE() << "byte " << i << (got.read[i] ? " read wrong" : " not read") << " and not reported";
                return;
            }
    }
};

}  // namespace

TEST_F(EngineSalvage, AWholeFileComesOutWholeAndVerified)
{
    const std::string content = prose(1500000);
    ASSERT_EQ(put("whole.txt", content), 0);
    ASSERT_EQ(put("empty", ""), 0);
    Salvaged got = salvage("whole.txt");
    EXPECT_TRUE(got.ranges.empty());
    EXPECT_EQ(got.bytes, content);
    EXPECT_TRUE(salvage("empty").ranges.empty());
    EXPECT_FAILS_WITH(fs_salvage_open("nothing", nullptr) ? 0 : -1, ENOENT);
    ASSERT_EQ(fs_mkdir("dir"), 0);
    EXPECT_FAILS_WITH(fs_salvage_open("dir", nullptr) ? 0 : -1, EISDIR);
}

// A byte changed in the second block of four: the first comes out whole; of the second,
// what inflated is handed out as maybe wrong, as nothing tells where in it the damage lies;
// the third (noise, stored) is found from its sync point and owes nothing to the bytes
// before it, and the fourth leans only on the third. Nothing else is flagged or wrong.
TEST_F(EngineSalvage, ReadingGoesOnFromTheBlockAfterTheDamage)
{
    const size_t size = 3 * 1048576 + 500000;
    const size_t header = std::string("blob ").size() + std::to_string(size).size() + 1;
    const size_t second = 1048576 - header, third = 2 * 1048576 - header, fourth = 3 * 1048576 - header;
    const std::string content =
        prose(second, 1) + prose(third - second, 2) + noise(fourth - third, 3) + prose(size - fourth, 4);
    // Stores content as name with a byte changed in its second block, and salvages it.
    auto damagedInTheSecondBlock = [&](const std::string &name, const std::string &content) {
        EXPECT_EQ(put(name, content), 0);
        const std::vector<size_t> starts = blockStarts(name);
        EXPECT_GE(starts.size(), 3u) << "not written in blocks";
        if (starts.size() >= 2)
            flipByteAt(name, (starts[0] + starts[1]) / 2 / 16 * 16);
        EXPECT_EQ(get(name).substr(0, 6), "<error");
        Salvaged got = salvage(name);
        EXPECT_FALSE(got.ranges.empty());
        expectReportedWhereWrong(got, content);
        return got;
    };
    Salvaged got = damagedInTheSecondBlock("notes.txt", content);
    ASSERT_FALSE(got.ranges.empty());
    for (const fs_salvage_range &r : got.ranges) {
        EXPECT_GE(r.offset, second) << r.kind;
        EXPECT_LE(r.offset + r.length, third) << r.kind;
    }
    EXPECT_EQ(got.ranges.back().offset + got.ranges.back().length, third);

    // Text all through: what the blocks after the break copy from the lost end of the second
    // is handed out as it inflates with what came out there, and reported as maybe wrong.
    got = damagedInTheSecondBlock("text.txt", prose(size, 9));
    ASSERT_FALSE(got.ranges.empty());
    EXPECT_GE(got.ranges.front().offset, second);
    EXPECT_TRUE(std::all_of(got.read.begin(), got.read.end(), [](bool r) { return r; }));
}

// Stored blocks carry no check of their own: a changed byte of noise reads through, and only
// the checksum says the part is not as written.
TEST_F(EngineSalvage, DamageInsideStoredBytesReadsThroughUnverified)
{
    const std::string content = noise(2500000, 5);
    ASSERT_EQ(put("noise.bin", content), 0);
    flipByteAt("noise.bin", 1200000 / 16 * 16);
    Salvaged got = salvage("noise.bin");
    expectReportedWhereWrong(got, content);
    EXPECT_EQ(got.unreadable(), 0u);
    ASSERT_TRUE(got.unverified());
    EXPECT_EQ(got.ranges[0].offset, 0u);
    EXPECT_EQ(got.ranges[0].length, content.size());
    size_t wrong = 0;
    for (size_t i = 0; i < content.size(); i++)
        wrong += got.bytes[i] != content[i];
    EXPECT_GT(wrong, 0u);
    EXPECT_LE(wrong, 17u);  // one cipher block garbled, one byte of the next flipped
}

// One stream (no blocks): what inflated before the break, nothing after it, and no byte wrong
// or missing that is not reported. (Whether inflate stops at the damage or finds its way on
// to the stream's end making wrong bytes, only the checksum then tells.)
TEST_F(EngineSalvage, ASmallFileReadsUpToItsBreak)
{
    for (unsigned seed : {3u, 4u, 5u}) {
        SCOPED_TRACE(seed);
        const std::string content = prose(200000, seed);
        ASSERT_EQ(put("small.txt", content), 0);
        const size_t object = readFile(objectOf("small.txt")).size();
        flipByteAt("small.txt", object / 2 / 16 * 16);
        Salvaged got = salvage("small.txt");
        ASSERT_FALSE(got.ranges.empty());
        EXPECT_EQ(got.ranges[0].offset, 0u);
        EXPECT_EQ(got.ranges.back().offset + got.ranges.back().length, content.size());
        expectReportedWhereWrong(got, content);
        EXPECT_EQ(got.bytes.substr(0, 1000), content.substr(0, 1000));
    }
}

// Each part of a large file is an object of its own: a part cut short, or missing, costs its
// own bytes only. (Crafted small: the parts hold less than their 512 MiB.)
TEST_F(EngineSalvage, PartsAreReadEachOnItsOwn)
{
    const uint64_t part = FS_PART_SIZE;
    ref::Index idx = rootIndex();
    auto add = [&](const std::string &name, const std::string &seed, uint64_t size, uint64_t header,
                   const std::string &content) {
        idx.entries.push_back(ref::entry(name, ref::sha1(seed), size));
        writeContent(ref::sha1(seed), header, content);
    };
    add("big.bin", "p0", part + 10, part, "only this much");
    add("big.bin?1", "p1", 0, 0, "tenbytes!!");
    add("gone.bin", "g0", part + 5, part, "first part");  // part 1 has no entry
    ref::sortEntries(idx);
    writeRootIndex(idx);

    Salvaged got = salvage("big.bin");
    EXPECT_EQ(got.pieces, (std::vector<std::pair<uint64_t, std::string>>{{0, "only this much"}, {part, "tenbytes!!"}}));
    ASSERT_EQ(got.ranges.size(), 1u);
    EXPECT_EQ(got.ranges[0].offset, 14u);
    EXPECT_EQ(got.ranges[0].length, part - 14);
    EXPECT_EQ(got.ranges[0].kind, FS_SALVAGE_UNREADABLE);
    got = salvage("gone.bin");
    ASSERT_EQ(got.ranges.size(), 1u);
    EXPECT_EQ(got.ranges[0].offset, 10u);
    EXPECT_EQ(got.ranges[0].length, part + 5 - 10);
}
