// Mounting, account creation, login and password change.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "StoreFixture.h"

namespace {

struct Unmounted : ::testing::Test {
    TempDir volume;
    void TearDown() override
    {
        if (fs_store_dir())
            fs_umount();
    }
};

}  // namespace

using EngineSession = Unmounted;
using EngineSessionStore = StoreTest;

TEST_F(EngineSession, MountStatesAndErrors)
{
    EXPECT_FAILS_WITH(fs_umount(), EBADF);
    EXPECT_FAILS_WITH(fs_login("x"), EBADF);
    EXPECT_FAILS_WITH(fs_mkdir("x"), EBADF);
    EXPECT_EQ(fs_opendir(""), nullptr);
    EXPECT_EQ(fs_get_config("core.prompt"), nullptr);

    // No store directory yet: "no account", and the engine stays mounted.
    EXPECT_EQ(fs_mount(volume.path().c_str()), 2);
    EXPECT_NE(fs_store_dir(), nullptr);
    EXPECT_FAILS_WITH(fs_mount(volume.path().c_str()), EEXIST);
    EXPECT_EQ(fs_login("anything"), -1);  // nothing to log in to
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(fs_umount(), 0);

    // A volume that does not resolve leaves nothing mounted.
    EXPECT_FAILS_WITH(fs_mount((volume / "gone/deeper").c_str()), EBADF);
    EXPECT_EQ(fs_store_dir(), nullptr);
    EXPECT_EQ(fs_mount(volume.path().c_str()), 2);
}

TEST_F(EngineSession, MkfsCreatesTheStoreOnce)
{
    ASSERT_EQ(fs_mount((volume.path() + "/").c_str()), 2);
    ASSERT_EQ(fs_mkfs("pw", "blue door"), 0);
    EXPECT_EQ(std::filesystem::file_size(volume / ".TovinCoffervale/index"), 64u);
    EXPECT_EQ(readFile(volume / ".TovinCoffervale/config"), "[core]\n\tprompt = blue door\n");
    char *prompt = fs_get_prompt();
    ASSERT_NE(prompt, nullptr);
    EXPECT_STREQ(prompt, "blue door");
    free(prompt);

    EXPECT_FAILS_WITH(fs_mkfs("other", "x"), EEXIST);
    EXPECT_FAILS_WITH(fs_mkfs(nullptr, "x"), EBADF);

    ASSERT_EQ(fs_umount(), 0);
    EXPECT_EQ(fs_mount(volume.path().c_str()), 0);
}

TEST_F(EngineSessionStore, LoginCountsRootEntriesAndRejectsWrongPasswords)
{
    EXPECT_EQ(fs_login(password.c_str()), 0);
    ASSERT_EQ(fs_mkdir("a"), 0);
    ASSERT_EQ(put("b", "x"), 0);
    fs_umount();
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    EXPECT_EQ(list("")[0], "<error 13>");  // keys not valid before login
    EXPECT_FAILS_WITH(fs_login("wrong"), EACCES);
    EXPECT_EQ(fs_login(password.c_str()), 2);
    EXPECT_EQ(get("b"), "x");
    // A wrong attempt after a good one keeps the good key.
    EXPECT_EQ(fs_login("wrong"), -1);
    EXPECT_EQ(get("b"), "x");

    // A root index too short for its header, object key and checksum is damage, not a wrong
    // password; from 64 bytes on, noise may be either.
    const std::string index = std::string(fs_store_dir()) + "/index";
    for (size_t length : {16, 32, 48, 64}) {
        writeFile(index, noise(length, length));
        fs_umount();
        ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
        EXPECT_FAILS_WITH(fs_login(password.c_str()), length < 64 ? EBADMSG : EACCES);
    }
}

TEST_F(EngineSessionStore, PasswordChangeKeepsContentReadable)
{
    ASSERT_EQ(fs_mkdir("Photos"), 0);
    ASSERT_EQ(put("Photos/cat.jpg", "meow"), 0);
    // With the root index cached, login and change still read it from the disk.
    ASSERT_EQ(list("").size(), 1u);
    EXPECT_EQ(fs_login("wrong"), -1);
    ASSERT_GE(fs_login(password.c_str()), 0);
    EXPECT_FAILS_WITH(fs_chpasswd("wrong", "new", "h2"), EACCES);
    ASSERT_GE(fs_chpasswd(password.c_str(), "interim", nullptr), 0);
    EXPECT_EQ(fs_login(password.c_str()), -1);
    ASSERT_GE(fs_login("interim"), 0);
    EXPECT_EQ(get("Photos/cat.jpg"), "meow");
    EXPECT_EQ(fs_chpasswd("interim", "new pass", "second hint"), 1);
    char *prompt = fs_get_prompt();
    EXPECT_STREQ(prompt, "second hint");
    free(prompt);

    fs_umount();
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    EXPECT_FAILS_WITH(fs_login(password.c_str()), EACCES);
    EXPECT_EQ(fs_login("new pass"), 1);
    EXPECT_EQ(get("Photos/cat.jpg"), "meow");
}

// The second store's password is empty, which is a password like any other.
TEST_F(EngineSessionStore, EachMountedStoreUsesItsOwnObjectKey)
{
    ASSERT_EQ(put("mine", "first store"), 0);
    fs_umount();
    TempDir second;
    ASSERT_EQ(fs_mount(second.path().c_str()), 2);
    ASSERT_EQ(fs_mkfs("", ""), 0);
    ASSERT_EQ(put("theirs", "second store"), 0);
    fs_umount();

    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    ASSERT_EQ(fs_login(password.c_str()), 1);
    EXPECT_EQ(get("mine"), "first store");
    fs_umount();
    ASSERT_EQ(fs_mount(second.path().c_str()), 0);
    EXPECT_EQ(fs_login("x"), -1);
    ASSERT_EQ(fs_login(""), 1);
    EXPECT_EQ(get("theirs"), "second store");
}

TEST_F(EngineSessionStore, WrongPasswordChangesNoByteOnTheVolume)
{
    ASSERT_EQ(fs_mkdir("d"), 0);
    ASSERT_EQ(put("d/f", "content"), 0);
    fs_umount();
    auto before = snapshotTree(volume.path());
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    EXPECT_EQ(fs_login("nope"), -1);
    EXPECT_EQ(fs_chpasswd("nope", "x", "y"), -1);
    EXPECT_EQ(fs_mkdir("e"), -1);
    EXPECT_EQ(put("g", "x"), -1);
    EXPECT_EQ(fs_unlink("d/f"), -1);
    fs_umount();
    EXPECT_EQ(snapshotTree(volume.path()), before);
}
