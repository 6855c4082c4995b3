// A real volume that fills up: a small tmpfs, where the tests may mount one.
#include <unistd.h>

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "SmallVolume.h"
#include "StoreFixture.h"

namespace {

// A 1 MiB volume, mounted and holding a fresh vault.
class EngineFullDisk : public StoreTest {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        if (!small.mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
        ASSERT_EQ(fs_mount(small.path().c_str()), 2);
        ASSERT_EQ(fs_mkfs("pw", "hint"), 0);
    }
    SmallVolume small;
};

}  // namespace

TEST_F(EngineFullDisk, AFullVolumeCanBeShrunkAndUsedAgain)
{
    const std::string first = noise(400000, 1);
    ASSERT_EQ(put("r1.bin", first), 0);

    // Fill the volume to the last block, as an import that does not fit does.
    EXPECT_EQ(put("r2.bin", noise(900000, 2), 65536), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(get("r1.bin"), first);

    // The incomplete entry and then the complete one go, though no byte is free.
    ASSERT_EQ(fs_unlink("r2.bin"), 0);
    EXPECT_EQ(get("r1.bin"), first);
    ASSERT_EQ(fs_unlink("r1.bin"), 0);
    EXPECT_TRUE(list("").empty());

    EXPECT_EQ(fs_repair(nullptr, nullptr), 0);
    EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(fs_mkdir("again"), 0);
    ASSERT_EQ(put("again/small", "fits"), 0);
    EXPECT_EQ(get("again/small"), "fits");
}

TEST_F(EngineFullDisk, FillingUpFolderByFolderLosesNothingStored)
{
    std::vector<std::string> stored;
    // Folders and files until something no longer fits; every failure is reported.
    for (int i = 0; i < 200; i++) {
        const std::string folder = "f" + std::to_string(i);
        if (fs_mkdir(folder.c_str()) != 0) {
            EXPECT_EQ(errno, ENOSPC);
            break;
        }
        const std::string path = folder + "/data";
        if (put(path, noise(20000, (unsigned)i)) != 0) {
            EXPECT_EQ(errno, ENOSPC);
            fs_unlink(path.c_str());
            break;
        }
        stored.push_back(path);
    }
    ASSERT_FALSE(stored.empty());
    ASSERT_LT(stored.size(), 200u) << "the volume never filled";
    fs_repair(nullptr, nullptr);
    for (size_t i = 0; i < stored.size(); i++)
        EXPECT_EQ(get(stored[i]), noise(20000, (unsigned)i)) << stored[i];
    // Removing one makes room for the next.
    ASSERT_EQ(fs_unlink(stored.back().c_str()), 0);
    EXPECT_EQ(put("after", "x"), 0);
}

TEST_F(EngineFullDisk, RemovalsFromAFullVolumeNeverLeaveAnEntryWithoutItsObject)
{
    // Many small files in one folder, whose index takes more room than any one of them frees.
    ASSERT_EQ(fs_mkdir("many"), 0);
    std::vector<std::string> names;
    for (int i = 0; i < 200; i++) {
        names.push_back("file-" + std::to_string(i));
        ASSERT_EQ(put("many/" + names.back(), noise(1500, (unsigned)i)), 0) << i;
    }
    // Then the last free block goes to a file beside the vault.
    small.fillUp();
    // One by one: each goes, or fails for lack of room and stays whole.
    for (int i = 0; i < 8; i++) {
        const std::string path = "many/" + names[(size_t)i];
        if (fs_unlink(path.c_str()) == 0) {
            EXPECT_EQ(get(path), "<error 2>");
        } else {
            EXPECT_EQ(errno, ENOSPC);
            EXPECT_EQ(get(path), noise(1500, (unsigned)i)) << path;
        }
    }
    EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);
    // Together, the room of all their objects is enough for the folder's new index.
    std::vector<const char *> all;
    for (const std::string &name : names)
        all.push_back(name.c_str());
    ASSERT_EQ(fs_unlink_names("many", all.data(), all.size()), 0);
    EXPECT_TRUE(list("many").empty());
    EXPECT_EQ(fs_check(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(fs_rmdir("many"), 0);
}
