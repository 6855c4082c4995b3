// Object ids, keys and object files; the index file format, checked against an
// independent reading of the format.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "StoreFixture.h"
#include "context.h"
#include "index.h"
#include "object.h"

namespace {

ref::Bytes idBytes(const unsigned char *id)
{
    return ref::Bytes((const char *)id, 20);
}

}  // namespace

using EngineObject = StoreTest;
using EngineIndex = StoreTest;

TEST_F(EngineObject, IdsFollowHeaderAndLowerCasedSeed)
{
    unsigned char id[20];
    ASSERT_EQ(object_hash("Docs/Report.PDF", 5, "blob", id), 0);
    EXPECT_EQ(idBytes(id), ref::sha1(std::string("blob 5") + '\0' + "docs/report.pdf"));
    EXPECT_EQ(type_from_string("blob", 4), OBJ_BLOB);
    EXPECT_EQ(type_from_string("dirc", 4), OBJ_DIRC);
    EXPECT_EQ(type_from_string("Blob", 4), -1);
}

TEST_F(EngineObject, UniqueIdSearchEndsAndReportsWhatItCannotExamine)
{
    // Every counter value the search may try is taken: it gives up with EEXIST.
    unsigned char id[20] = {0xab};
    const std::string fanout = storeDir() + "/ab/";
    ASSERT_EQ(mkdir(fanout.c_str(), 0777), 0);
    const std::string stem = std::string(30, '0');
    char counterHex[9];
    for (unsigned counter = 0; counter < 65536; counter++) {
        std::snprintf(counterHex, sizeof counterHex, "%02x%02x0000", counter & 0xff, counter >> 8);
        writeFile(fanout + stem + counterHex, "");
    }
    struct strbuf path = STRBUF_INIT;
    errno = 0;
    EXPECT_EQ(object_unique_id(&path, id), -1);
    EXPECT_EQ(errno, EEXIST);

    // One free value at the end of the range is still found.
    ASSERT_EQ(unlink((fanout + stem + "ffff0000").c_str()), 0);
    unsigned char again[20] = {0xab};
    ASSERT_EQ(object_unique_id(&path, again), 0);
    EXPECT_EQ(again[16], 0xff);
    EXPECT_EQ(again[17], 0xff);

    // A fan-out folder that is a file cannot be examined: an error, not a free id.
    writeFile(storeDir() + "/cd", "not a folder");
    unsigned char blocked[20] = {0xcd};
    errno = 0;
    EXPECT_EQ(object_unique_id(&path, blocked), -1);
    EXPECT_EQ(errno, ENOTDIR);
    strbuf_release(&path);
}

// The root index's key is checked by every read of the format; a lock file's is not.
TEST_F(EngineObject, CipherKeysForObjectsAndTheirLockFiles)
{
    unsigned char key[32], iv[16];
    unsigned char id[20];
    for (int i = 0; i < 20; i++)
        id[i] = (unsigned char)(0xa0 + i);
    struct strbuf path = STRBUF_INIT;
    object_path(&path, id);
    ASSERT_EQ(cipher_key_iv(path.buf, key, iv), 0);
    EXPECT_EQ(ref::Bytes((char *)key, 32), ref::objectKey(objectKey(), idBytes(id)));
    EXPECT_EQ(ref::Bytes((char *)iv, 16), ref::objectIv(idBytes(id)));
    // The lock file of an object takes the object's key.
    strbuf_addstr(&path, ".lock");
    unsigned char key2[32];
    ASSERT_EQ(cipher_key_iv(path.buf, key2, iv), 0);
    EXPECT_EQ(memcmp(key, key2, 32), 0);
    strbuf_release(&path);
}

TEST_F(EngineObject, ContentObjectsMatchTheFormat)
{
    ASSERT_EQ(put("hello.txt", "hello"), 0);
    ASSERT_EQ(put("empty", ""), 0);
    ref::Index root = rootIndex();
    ASSERT_EQ(root.entries.size(), 2u);
    EXPECT_EQ(root.entries[0].name, "empty");
    EXPECT_EQ(root.entries[1].name, "hello.txt");
    EXPECT_EQ(root.entries[1].size, 5u);
    EXPECT_EQ(root.entries[1].id, ref::objectId("blob", 5, "hello.txt"));

    for (const auto &e : root.entries) {
        ref::Bytes file = readFile(ref::objectPath(storeDir(), e.id));
        EXPECT_EQ(file.size() % 16, 0u);
        EXPECT_GE(file.size(), 16u);
        auto [header, content] = ref::readContentObject(file, objectKey(), e.id);
        EXPECT_EQ(header, "blob " + std::to_string(e.size));
        EXPECT_EQ(content, e.name == "empty" ? "" : "hello");
    }
}

// Another copy of the program, or the writer before chunks were judged, writes one level-1
// stream throughout: noise past a chunk and text after it must read the same.
TEST_F(EngineObject, ReadsObjectsWrittenByAnotherImplementation)
{
    const std::string content = noise(OBJECT_CHUNK + 5000, 8) + prose(100000);
    ref::Entry e = ref::entry("foreign.bin", ref::objectId("blob", content.size(), "foreign.bin"), content.size());
    e.time = 1700000000;
    ref::Index root = rootIndex();
    root.entries.push_back(e);
    writeContent(e.id, e.size, content);
    writeRootIndex(root);

    EXPECT_EQ(get("FOREIGN.BIN"), content);
    EXPECT_EQ(list(""), std::vector<std::string>{"foreign.bin"});
    ASSERT_EQ(put("new.bin", content), 0);
    EXPECT_EQ(get("new.bin"), content);
}

TEST_F(EngineObject, DamagedObjectsGiveErrorsNotCrashes)
{
    std::string content(300000, 'q');
    ASSERT_EQ(put("f", content), 0);
    ref::Entry e = rootIndex().entries.at(0);
    std::string path = ref::objectPath(storeDir(), e.id);
    std::string good = readFile(path);

    std::string flipped = good;
    flipped[40] ^= 0x55;
    // Cut short, a changed byte, empty, not a multiple of 16.
    for (const std::string &bad : {good.substr(0, good.size() / 2), flipped, std::string(), std::string(37, 'x')}) {
        writeFile(path, bad);
        EXPECT_EQ(get("f").rfind("<error", 0), 0u) << bad.size();
    }
    unlink(path.c_str());
    EXPECT_EQ(get("f"), "<error 2>");
}

TEST_F(EngineIndex, FreshRootAndFolderIndexSizes)
{
    EXPECT_EQ(std::filesystem::file_size(storeDir() + "/index"), 64u);
    ref::Index root = rootIndex();
    EXPECT_EQ(root.objectKey, objectKey());
    EXPECT_EQ(root.version, 0u);

    ASSERT_EQ(fs_mkdir("Docs"), 0);
    root = rootIndex();
    ASSERT_EQ(root.entries.size(), 1u);
    EXPECT_EQ(root.entries[0].name, "Docs/");
    EXPECT_EQ(root.entries[0].id, ref::objectId("dirc", 0, "docs"));
    EXPECT_EQ(std::filesystem::file_size(ref::objectPath(storeDir(), root.entries[0].id)), 32u);
    EXPECT_TRUE(ref::parseIndex(objectPlain("Docs/"), false).entries.empty());
}

TEST_F(EngineIndex, CaseInsensitiveOrderInsertAndReplace)
{
    struct store_index idx = INDEX_INIT;
    ASSERT_EQ(index_read(&idx), 0);
    for (const char *n : {"c.txt", "a.txt", "B.txt"}) {
        struct index_entry *e = index_make_entry(&idx, n, strlen(n));
        e->size = 1;
        ASSERT_EQ(index_add_entry(&idx, e), 0);
    }
    ASSERT_EQ(idx.count, 3u);
    EXPECT_STREQ(idx.entries[1]->name, "B.txt");  // the order itself is checked by every listing
    EXPECT_EQ(idx.changed, (unsigned)INDEX_ADDED);
    struct index_entry *e = index_make_entry(&idx, "A.TXT", 5);
    e->size = 9;
    ASSERT_EQ(index_add_entry(&idx, e), 0);
    EXPECT_EQ(idx.count, 3u);
    EXPECT_STREQ(idx.entries[0]->name, "A.TXT");
    EXPECT_TRUE(idx.changed & INDEX_REPLACED);
    EXPECT_EQ(index_name_pos(&idx, "b.TXT", 5), 1);
    EXPECT_EQ(index_name_pos(&idx, "b", 1), -2);
    index_discard(&idx);
}

TEST_F(EngineIndex, VersionOneIsKeptAndTwoIsRefused)
{
    ref::Index root = rootIndex();
    root.version = 1;
    writeRootIndex(root);
    ASSERT_EQ(fs_mkdir("x"), 0);
    EXPECT_EQ(rootIndex().version, 1u);

    root.version = 2;
    writeRootIndex(root);
    EXPECT_FAILS_WITH(fs_mkdir("y"), EACCES);
}

TEST_F(EngineIndex, DamagedIndexesAreRefused)
{
    ASSERT_EQ(put("a", "1"), 0);
    const std::string indexPath = storeDir() + "/index";
    const std::string good = readFile(indexPath);
    // Under the right key with a valid checksum, so only the layout is wrong.
    const auto encrypted = [&](ref::Bytes plain) {
        plain.replace(plain.size() - 20, 20, ref::sha1(plain.substr(0, plain.size() - 20)));
        return ref::aesCbc(plain, ref::rootKey(password), ref::rootIv(), true);
    };
    const ref::Bytes built = ref::buildIndex(rootIndex(), true);
    ref::Bytes overCount = built, overName = built, flipped = good;
    overCount[8] = 50;  // count far beyond the bytes present
    overName[12 + 36] = (char)0xF0;  // name length 0xFF0 overruns
    overName[12 + 37] = (char)0x0F;
    flipped[20] ^= 1;
    // EBADMSG for damage no key could explain, told apart from a wrong password (EACCES).
    const std::pair<std::string, int> cases[] = {
        {encrypted(overCount), EBADMSG},
        {encrypted(overName), EBADMSG},
        // The smallest file with a valid checksum: too short for a root's trailer and header.
        {encrypted(ref::Bytes("DIRC\0\0\0\0\1\0\0\0", 12) + std::string(20, '\0')), EBADMSG},
        {good.substr(0, 16), EBADMSG},
        {flipped, EACCES},
        {good + "x", EBADMSG},
        {good + std::string(16, 0), EACCES},  // a changed checksum cannot be told from a wrong key
    };
    for (const auto &[bytes, err] : cases) {
        writeFile(indexPath, bytes);
        EXPECT_EQ(list("")[0], "<error " + std::to_string(err) + ">") << bytes.size();
    }
    writeFile(indexPath, good);
    EXPECT_EQ(get("a"), "1");
}

TEST(EngineMemPool, LargeRequestsGetTheirOwnBlockAndEverythingIsZeroed)
{
    struct mem_pool *pool = mem_pool_new(64);
    char *a = (char *)mem_pool_calloc(pool, 3);
    char *b = (char *)mem_pool_calloc(pool, 5);
    EXPECT_EQ(b - a, 8);  // rounded to multiples of 8
    char *big = (char *)mem_pool_calloc(pool, MEM_POOL_BLOCK_SIZE);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big[MEM_POOL_BLOCK_SIZE - 1], 0);
    char *c = (char *)mem_pool_calloc(pool, 100);
    ASSERT_NE(c, nullptr);
    mem_pool_discard(pool);
}
