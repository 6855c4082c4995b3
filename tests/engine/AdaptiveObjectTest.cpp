// Objects whose chunks are stored, deflated, or both still read back as one zlib stream.
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "ReferenceFormat.h"
#include "StoreFixture.h"
#include "object.h"

namespace {

std::pair<std::string, ref::Bytes> readWithReference(const std::string &storeDir, const std::string &password,
                                                     const std::string &name)
{
    ref::Index root = ref::readRootIndex(readFile(storeDir + "/index"), password);
    for (const auto &e : root.entries)
        if (e.name == name)
            return ref::readContentObject(readFile(ref::objectPath(storeDir, e.id)), ref::sha1(password),
                                          e.id);
    return {"<missing>", ""};
}

uint64_t objectFileSize(const std::string &storeDir, const std::string &password, const std::string &name)
{
    ref::Index root = ref::readRootIndex(readFile(storeDir + "/index"), password);
    for (const auto &e : root.entries)
        if (e.name == name)
            return readFile(ref::objectPath(storeDir, e.id)).size();
    return 0;
}

}  // namespace

using EngineAdaptiveObject = StoreTest;

TEST_F(EngineAdaptiveObject, StoredDeflatedAndMixedChunksReadBackExactly)
{
    const size_t chunk = OBJECT_CHUNK;
    const std::string stored = noise(chunk * 2 + 12345, 3);
    const std::string deflated = prose(chunk * 2 + 777);
    // Noise, text, noise, text: the level goes down and up again within one stream.
    const std::string mixed = noise(chunk, 4) + prose(chunk) + noise(chunk / 2, 5) + prose(chunk + 99);
    ASSERT_EQ(put("stored.bin", stored), 0);
    ASSERT_EQ(put("deflated.txt", deflated), 0);
    ASSERT_EQ(put("mixed.bin", mixed, 1 << 20), 0);  // decisions land inside writes too
    ASSERT_EQ(put("small.bin", noise(3000, 6)), 0);  // below the sample size: plain level 1

    for (auto [name, content] :
         {std::pair{"stored.bin", &stored}, {"deflated.txt", &deflated}, {"mixed.bin", &mixed}}) {
        EXPECT_EQ(get(name), *content) << name;
        auto [header, bytes] = readWithReference(storeDir(), password, name);
        EXPECT_EQ(header, "blob " + std::to_string(content->size())) << name;
        EXPECT_EQ(bytes, *content) << name;
    }
    EXPECT_EQ(get("small.bin"), noise(3000, 6));
    // Text keeps its ratio; noise is stored with only the stored-block framing on top.
    EXPECT_LT(objectFileSize(storeDir(), password, "deflated.txt"), deflated.size() / 3);
    EXPECT_LT(objectFileSize(storeDir(), password, "stored.bin"), stored.size() + stored.size() / 2000 + 64);
}

TEST_F(EngineAdaptiveObject, ObjectsOfTheSingleLevelWriterReadTheSame)
{
    // Written as the writer did before chunks were judged: one level-1 stream throughout.
    ref::Index root = ref::readRootIndex(readFile(storeDir() + "/index"), password);
    const std::string content = noise(OBJECT_CHUNK + 5000, 8) + prose(100000);
    ref::Entry e;
    e.name = "old.bin";
    e.size = content.size();
    e.time = 1700000000;
    e.id = ref::objectId("blob", e.size, "old.bin");
    root.entries.push_back(e);
    writeFile(ref::objectPath(storeDir(), e.id),
              ref::writeContentObject("blob " + std::to_string(e.size), content, ref::sha1(password), e.id));
    writeFile(storeDir() + "/index",
              ref::aesCbc(ref::buildIndex(root, true), ref::rootKey(password), ref::rootIv(), true));
    ASSERT_EQ(get("old.bin"), content);
    ASSERT_EQ(put("new.bin", content), 0);
    EXPECT_EQ(get("new.bin"), get("old.bin"));
}

TEST_F(EngineAdaptiveObject, AFailureOfTheBackgroundWriterIsReportedAndCleanedUp)
{
    const std::string big = noise(8u << 20, 9);
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit low = saved;
    low.rlim_cur = 3u << 20;  // the volume fills up under the object
    setrlimit(RLIMIT_FSIZE, &low);
    const int h = fs_open("big.bin", FS_O_WRITE, (uint64_t)big.size());
    bool failed = h < 0;
    int err = errno;
    for (size_t off = 0; !failed && off < big.size(); off += 2u << 20) {
        failed = fs_write(h, big.data() + off, 2u << 20) != (int)(2u << 20);
        err = errno;
    }
    if (h >= 0 && fs_close(h) != 0 && !failed) {
        failed = true;
        err = errno;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_TRUE(failed);
    EXPECT_EQ(err, EFBIG);
    EXPECT_NE(get("big.bin"), big);
    ASSERT_EQ(fs_unlink("big.bin"), 0);
    ASSERT_EQ(put("after.bin", big), 0);  // the writer is whole again
    EXPECT_EQ(get("after.bin"), big);
}
