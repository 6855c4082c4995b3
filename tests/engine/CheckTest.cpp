// fs_check on clean and damaged vaults: every problem is reported, nothing is changed, and
// crafted trees (deep, cyclic, absurd sizes) end the check instead of the process.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StoreFixture.h"

namespace {

class EngineCheck : public StoreTest {
protected:
    void writeFolder(const ref::Bytes &id, const ref::Index &idx)
    {
        writeFile(ref::objectPath(storeDir(), id),
                  ref::aesCbc(ref::buildIndex(idx, false), ref::objectKey(objectKey(), id), ref::objectIv(id),
                              true));
    }
    static ref::Bytes idFor(const std::string &seed) { return ref::sha1(seed); }
    // depth folders "d", each the only entry of the one above; the first's id is idFor("level0").
    void writeChain(int depth)
    {
        for (int level = 0; level < depth; level++) {
            ref::Index idx;
            if (level + 1 < depth)
                idx.entries.push_back(ref::entry("d/", idFor("level" + std::to_string(level + 1))));
            writeFolder(idFor("level" + std::to_string(level)), idx);
        }
    }
};

}  // namespace

TEST_F(EngineCheck, CleanVaultReportsNothingAndCountsEverything)
{
    ASSERT_EQ(fs_mkdir("Docs"), 0);
    ASSERT_EQ(fs_mkdir("Docs/Old"), 0);
    ASSERT_EQ(put("Docs/a.txt", "alpha"), 0);
    ASSERT_EQ(put("Docs/Old/empty", ""), 0);
    ASSERT_EQ(put("b.bin", std::string(300000, 'b')), 0);
    const auto before = snapshotTree(storeDir());

    CheckRun run = checkVault();
    EXPECT_EQ(run.result, 0) << run.all();
    EXPECT_EQ(run.summary.folders, 2u);
    EXPECT_EQ(run.summary.files, 3u);
    EXPECT_EQ(run.summary.bytes, 300005u);
    EXPECT_EQ(run.summary.orphaned_objects, 0u);
    EXPECT_EQ(snapshotTree(storeDir()), before);
    EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);

    // Not logged in: the root index cannot be read, which is a finding, not a failure.
    ASSERT_EQ(fs_umount(), 0);
    EXPECT_FAILS_WITH(fs_check(nullptr, nullptr, nullptr), EBADF);
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    run = checkVault();
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.has(FS_CHECK_ROOT_INDEX, "/")) << run.all();
}

TEST_F(EngineCheck, DamagedObjectsAndStrayFilesAreEachReported)
{
    ASSERT_EQ(put("gone.txt", "gone"), 0);
    ASSERT_EQ(put("bent.txt", std::string(100000, 'x')), 0);
    ASSERT_EQ(put("short.txt", "short"), 0);
    ASSERT_EQ(fs_mkdir("Broken"), 0);
    const std::vector<ref::Entry> entries = rootIndex().entries;  // Broken/, bent, gone, short
    ASSERT_EQ(entries.size(), 4u);
    std::filesystem::remove(ref::objectPath(storeDir(), entries[2].id));
    const std::string bent = ref::objectPath(storeDir(), entries[1].id);
    flipByte(bent, (long)readFile(bent).size() / 2, 0x10);
    writeContent(entries[3].id, 5, "shor");  // header says 5, content holds 4
    flipByte(ref::objectPath(storeDir(), entries[0].id), 3, 1);
    const std::string stray = storeDir() + "/ab/" + std::string(38, 'c');
    writeFile(stray, "stray");
    writeFile(storeDir() + "/ab/" + std::string(38, 'd') + ".lock", "");
    writeFile(storeDir() + "/config.lock", "");
    const auto before = snapshotTree(storeDir());

    CheckRun run = checkVault();
    EXPECT_EQ(run.result, (int)run.problems.size());
    EXPECT_EQ(run.problems.size(), 7u) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_OBJECT_MISSING, "/gone.txt")) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_CONTENT_DAMAGED, "/bent.txt") ||
                run.has(FS_CHECK_OBJECT_UNREADABLE, "/bent.txt"))
        << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_SIZE_MISMATCH, "/short.txt")) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_FOLDER_DAMAGED, "/Broken/")) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_ORPHANED_OBJECT, stray)) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_LEFTOVER_LOCK, storeDir() + "/config.lock")) << run.all();
    EXPECT_EQ(run.summary.orphaned_objects, 1u);
    EXPECT_NE(run.all().find("/short.txt: holds 4 bytes, its entry says 5"), std::string::npos);
    EXPECT_EQ(snapshotTree(storeDir()), before);
}

TEST_F(EngineCheck, IndexEntriesThatNoWriterMakes)
{
    ASSERT_EQ(put("a.txt", "alpha"), 0);
    ref::Index idx = rootIndex();
    const ref::Entry a = idx.entries.at(0);
    idx.entries.push_back(ref::entry("..", a.id));
    idx.entries.push_back(ref::entry("a.txt?1", a.id));  // a 5-byte file has no part 1
    idx.entries.push_back(ref::entry("Z.txt", a.id, 5));
    idx.entries.push_back(ref::entry("b.txt", a.id, 5));  // after "Z.txt": out of order
    writeRootIndex(idx);

    CheckRun run = checkVault();
    EXPECT_TRUE(run.has(FS_CHECK_UNSAFE_NAME, "/..")) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_STRAY_PART, "/a.txt?1")) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_ENTRY_ORDER, "/b.txt")) << run.all();
    EXPECT_FALSE(run.has(FS_CHECK_ENTRY_ORDER, "/Z.txt")) << run.all();
    EXPECT_EQ(run.summary.files, 4u);  // ".." too: read through, though no path can name it
    EXPECT_TRUE(run.has(FS_CHECK_OBJECT_HEADER, "/..")) << run.all();  // a.txt's object, size 0
}

TEST_F(EngineCheck, PartsAreCheckedByTheEntriesPresent)
{
    const uint64_t part = FS_PART_SIZE;
    ref::Index idx;
    // Declared 3 parts beyond the first; part 2 is missing, part 1 is short, part 3 is right.
    idx.entries.push_back(ref::entry("m.bin", idFor("m0"), 3 * part + 5));
    idx.entries.push_back(ref::entry("m.bin?1", idFor("m1")));
    idx.entries.push_back(ref::entry("m.bin?3", idFor("m3")));
    // An absurd size: 2^53 bytes would be 2^24 parts.
    idx.entries.push_back(ref::entry("z.bin", idFor("z0"), 1ull << 53));
    idx.objectKey = objectKey();
    writeRootIndex(idx);
    writeContent(idFor("m0"), part, "first");
    writeContent(idFor("m1"), 0, "one");
    writeContent(idFor("m3"), 0, "three");
    writeContent(idFor("z0"), 7, "seven!!");

    CheckRun run = checkVault();
    const std::string text = run.all();
    EXPECT_NE(text.find("/m.bin: holds 5 bytes, its entry says 536870912"), std::string::npos) << text;
    EXPECT_NE(text.find("/m.bin: part 1 holds 3 bytes, expected 536870912"), std::string::npos) << text;
    EXPECT_NE(text.find("/m.bin: part 2 is missing"), std::string::npos) << text;
    EXPECT_EQ(text.find("part 3"), std::string::npos) << text;
    EXPECT_TRUE(run.has(FS_CHECK_OBJECT_HEADER, "/z.bin")) << text;
    EXPECT_NE(text.find("/z.bin: parts 1 to 16777215 are missing"), std::string::npos) << text;
    EXPECT_EQ(run.problems.size(), 5u) << text;
    EXPECT_EQ(run.summary.bytes, 3 * part + 5 + (1ull << 53));
}

TEST_F(EngineCheck, DeepChainsAndCyclesEnd)
{
    // 3,000 folders, each the only entry of the one above.
    const int depth = 3000;
    writeChain(depth);
    ref::Index top = rootIndex();
    top.entries.push_back(ref::entry("deep/", idFor("level0")));
    // A/ holds B/, whose index names A/'s index again.
    top.entries.push_back(ref::entry("loop/", idFor("A")));
    writeRootIndex(top);
    ref::Index a, b;
    a.entries.push_back(ref::entry("B/", idFor("B")));
    b.entries.push_back(ref::entry("A/", idFor("A")));
    writeFolder(idFor("A"), a);
    writeFolder(idFor("B"), b);

    // "/deep" and 2,046 times "/d" is the first path past the limit; nothing below it is
    // reported for its length again, nor counted as orphaned.
    std::string first = "/deep";
    for (int i = 0; i < 2046; i++)
        first += "/d";
    CheckRun run = checkVault();
    EXPECT_EQ(run.result, 2) << run.all().substr(0, 2000);
    EXPECT_TRUE(run.has(FS_CHECK_FOLDER_SHARED, "/loop/B/A/"));
    EXPECT_TRUE(run.has(FS_CHECK_PATH_TOO_LONG, first + "/"));
    EXPECT_EQ(run.summary.folders, (uint64_t)depth + 3);
    EXPECT_EQ(run.summary.orphaned_objects, 0u);
}

TEST_F(EngineCheck, RepairWalksAChainDeeperThanTheIndexCacheTwice)
{
    // More folders in one chain than the index cache has slots, and nothing else: the check
    // after the repair's own finds every slot handed out to its walk (a leak the sanitizer
    // build catches). At the top, a file an interrupted write left cut short, to repair.
    const int depth = 4110;
    writeChain(depth);
    const std::string content = prose(3000);
    ref::Entry cut = ref::entry("cut.txt", idFor("cut"), content.size());
    cut.flags = 0x1000;
    const std::string object =
        ref::writeContentObject("blob " + std::to_string(content.size()), content, objectKey(), cut.id);
    writeFile(ref::objectPath(storeDir(), cut.id), object.substr(0, object.size() / 2 / 16 * 16));
    ref::Index top = rootIndex();
    top.entries.push_back(cut);
    top.entries.push_back(ref::entry("deep/", idFor("level0")));
    writeRootIndex(top);

    EXPECT_EQ(fs_repair(nullptr, nullptr), 1);
    CheckRun run = checkVault();
    EXPECT_EQ(run.result, 1) << run.all().substr(0, 2000);  // the path past the limit stays
    EXPECT_EQ(run.summary.folders, (uint64_t)depth);
    EXPECT_EQ(run.summary.files, 0u);
    EXPECT_FALSE(std::filesystem::exists(ref::objectPath(storeDir(), cut.id)));
}

// Repair takes only what an interrupted write left: a file damaged after its write finished
// stays, listed as damaged, and so do orphaned objects while a folder cannot be read (they may
// be its files); a name no file may have keeps its object too.
TEST_F(EngineCheck, RepairKeepsEveryFileWhoseWriteFinished)
{
    const std::string content = prose(300000, 2);
    for (const char *name : {"bent.txt", "short.txt", "gone.txt", "cut.txt"})
        ASSERT_EQ(put(name, content), 0);
    ASSERT_EQ(fs_mkdir("Broken"), 0);
    ASSERT_EQ(put("Broken/inside.txt", "inside"), 0);
    ref::Index idx = rootIndex();
    flipByte(objectOf("bent.txt"), -100, 0x21);
    const std::string whole = readFile(objectOf("short.txt"));
    writeFile(objectOf("short.txt"), whole.substr(0, whole.size() / 2 / 16 * 16));
    std::filesystem::remove(objectOf("gone.txt"));
    // cut.txt was being written when the stick was pulled: cut short, and still marked.
    writeFile(objectOf("cut.txt"), whole.substr(0, whole.size() / 2 / 16 * 16));
    for (ref::Entry &e : idx.entries)
        if (e.name == "cut.txt")
            e.flags |= 0x1000;
    ref::Entry odd = ref::entry("a\\b", idFor("odd"), 3);  // no file may be named so
    writeContent(odd.id, 3, "odd");
    idx.entries.push_back(odd);
    ref::sortEntries(idx);
    writeRootIndex(idx);
    flipByte(objectOf("Broken/"), 5, 1);
    const std::string orphan = storeDir() + "/ab/" + std::string(38, 'c');
    writeFile(orphan, "orphan");

    int repaired = 0;
    const std::vector<std::string> actions = repairVault(&repaired);
    EXPECT_EQ(repaired, 1);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0], "removed /cut.txt, whose write never finished");
    EXPECT_EQ(list(""), (std::vector<std::string>{"a\\b", "bent.txt", "Broken/", "gone.txt", "short.txt"}));
    EXPECT_TRUE(std::filesystem::exists(orphan)) << "may be a file of the folder that cannot be read";
    EXPECT_TRUE(std::filesystem::exists(ref::objectPath(storeDir(), odd.id)));
    CheckRun run = checkVault();
    EXPECT_TRUE(run.has(FS_CHECK_OBJECT_MISSING, "/gone.txt")) << run.all();
    EXPECT_TRUE(run.has(FS_CHECK_FOLDER_DAMAGED, "/Broken/")) << run.all();
    EXPECT_FALSE(run.has(FS_CHECK_ORPHANED_OBJECT, ref::objectPath(storeDir(), odd.id))) << run.all();
    for (const CheckRun::Found &f : run.problems)
        EXPECT_FALSE(f.path == "/bent.txt" && f.kind == FS_CHECK_ORPHANED_OBJECT);

    // Once every folder reads, an orphan is what an interrupted write left, and goes.
    flipByte(objectOf("Broken/"), 5, 1);
    EXPECT_EQ(fs_repair(nullptr, nullptr), 1);
    EXPECT_FALSE(std::filesystem::exists(orphan));
    EXPECT_EQ(list("").size(), 5u);
}
