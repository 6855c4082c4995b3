// The session state machine against the real engine: start, account, login, password
// change, hint, logout, used space, format and the removal of the volume.
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "ServiceTestSupport.h"
#include "XXDiskTool.h"

namespace {

class ServiceSession : public ServiceFixture {
protected:
    XXDiskResultObject logout()
    {
        return run([&](const XXDiskResultBlock &b) { manager->logOutComplete(b); });
    }
    XXDiskResultObject change(const std::string &from, const std::string &to, const std::string &hint)
    {
        return run([&](const XXDiskResultBlock &b) { manager->changePasswordWithOld(from, to, hint, b); });
    }
};

}  // namespace

TEST_F(ServiceSession, RegistrationLoginAndLogout)
{
    EXPECT_EQ(logout().successCode(), 0);  // nothing mounted yet
    EXPECT_EQ(start(volume.path()).successCode(), 0);  // no account yet
    EXPECT_TRUE(manager->mountSuccess());
    EXPECT_EQ(manager->currentStoreDirectory(), storeDir());

    EXPECT_EQ(createAccount(password, "my hint").successCode(), 0);
    EXPECT_FALSE(manager->isLogin());  // the login screen comes next
    EXPECT_EQ(manager->acquirePasswordTip(), "my hint");
    EXPECT_EQ(login(password).successCode(), 0);
    EXPECT_TRUE(manager->isLogin());

    EXPECT_EQ(logout().successCode(), 0);
    EXPECT_EQ(logout().successCode(), 0);  // a second one too
    EXPECT_FALSE(manager->isLogin());
    EXPECT_FALSE(manager->mountSuccess());
    EXPECT_EQ(manager->currentDiskPath(), volume.path());
    EXPECT_EQ(fs_store_dir(), nullptr);
    EXPECT_EQ(start(volume.path()).successCode(), 1);  // now the account exists
    EXPECT_TRUE(login(password).isSuccess());
}

TEST_F(ServiceSession, RefusedStartsLeaveTheSessionAsItWas)
{
    expectError(start(""), "1+1", 1, localized("String_103"));
    expectError(start(volume / "missing/deeper"), "1+0", -1, "fs_mount---1");
    // A file in place of the store directory: the engine cannot examine the root index and
    // reports ENOTDIR while keeping its mount, which the start undoes.
    TempDir blocked, other;
    writeFile(blocked / FS_STORE_DIR_NAME, "not a folder");
    const XXDiskResultObject blockedStart = start(blocked.path());
    expectError(blockedStart, "1+0", ENOTDIR, "fs_mount--20");
    EXPECT_EQ(blockedStart.systemErrorNumber(), ENOTDIR);
    EXPECT_TRUE(logged("fs_mount--20"));
    EXPECT_EQ(fs_store_dir(), nullptr);
    EXPECT_FALSE(manager->mountSuccess());
    EXPECT_EQ(manager->currentDiskPath(), "");
    EXPECT_EQ(readFile(blocked / FS_STORE_DIR_NAME), "not a folder");

    EXPECT_EQ(start(volume.path()).successCode(), 0);
    expectError(start(other.path()), "1+0", -1, "fs_mount---1");  // one store at a time
    EXPECT_TRUE(manager->mountSuccess());
    EXPECT_EQ(manager->currentDiskPath(), volume.path());
}

TEST_F(ServiceSession, AccountAndLoginRefusals)
{
    expectError(createAccount(password), "2+1", 1, localized("String_104"));
    expectError(login(password), "3+1", 1, localized("String_104"));
    ASSERT_TRUE(start(volume.path()).isSuccess());
    // No account yet: there is no root index to read, which no password could change.
    expectError(login(password), "3+0", -1, XXDiskResultObject::vaultUnreadableTip(ENOENT));
    EXPECT_EQ(login(password).systemErrorNumber(), ENOENT);
    expectError(createAccount(""), "2+1", 2, localized("String_105"));
    // The engine would read the password only up to the NUL.
    expectError(createAccount(std::string("ab\0cd", 5)), "2+1", 2, localized("String_105"));
    EXPECT_FALSE(std::filesystem::exists(storeDir() + "/index"));

    ASSERT_TRUE(createAccount(password).isSuccess());
    expectError(createAccount("another"), "2+0", -1, "fs_mkfs---1");  // the account exists
    expectError(login(""), "3+1", 2, localized("String_142"));
    const XXDiskResultObject wrong = login("wrong");
    expectError(wrong, "3+0", -1, localized("String_142"));
    EXPECT_EQ(wrong.systemErrorNumber(), EACCES);
    EXPECT_FALSE(manager->isLogin());
    EXPECT_TRUE(logged("fs_login---1"));
    EXPECT_TRUE(login(password).isSuccess());
}

// A vault the volume cannot give back whole is reported as such, not as a wrong password,
// and nothing of it is changed by the attempt.
TEST_F(ServiceSession, AnUnreadableVaultIsNotAWrongPassword)
{
    openVault();
    const std::string index = storeDir() + "/index";
    const std::string whole = readFile(index);
    manager->logOutComplete(nullptr);
    ASSERT_EQ(start(volume.path()).successCode(), 1);

    writeFile(index, whole.substr(0, 20));  // cut short, as by a pulled stick
    XXDiskResultObject refused = login(password);
    expectError(refused, "3+0", -1, XXDiskResultObject::vaultUnreadableTip(EBADMSG));
    EXPECT_EQ(refused.systemErrorNumber(), EBADMSG);
    EXPECT_EQ(refused.errorTips(), localized("String_179") + " " + localized("String_186"));
    EXPECT_TRUE(logged("fs_login---1 errno 74"));
    EXPECT_FALSE(manager->isLogin());
    EXPECT_EQ(readFile(index), whole.substr(0, 20));

    std::filesystem::remove(index);
    refused = login(password);
    EXPECT_EQ(refused.systemErrorNumber(), ENOENT);
    EXPECT_EQ(refused.errorTips(), localized("String_179") + " " + localized("String_181"));

    writeFile(index, whole);
    ASSERT_TRUE(login(password).isSuccess());

    // The new root index cannot be written (a full volume): the old one, and its password, stay.
    ASSERT_EQ(symlink("/dev/full", (index + ".lock").c_str()), 0);
    const XXDiskResultObject unchanged = change(password, "new-one", "new hint");
    expectError(unchanged, "4+0", 0, localized("String_180") + " " + localized("String_184"));
    EXPECT_EQ(unchanged.systemErrorNumber(), ENOSPC);
    std::filesystem::remove(index + ".lock");
    EXPECT_EQ(readFile(index), whole);
    EXPECT_EQ(manager->acquirePasswordTip(), "the usual");
    EXPECT_FALSE(login("new-one").isSuccess());
    EXPECT_TRUE(login(password).isSuccess());

    // Folder creation keeps its code text as tip and carries the number as well.
    auto create = [&](const std::string &name) {
        return run([&](const XXDiskResultBlock &b) { manager->createDirInFolderPath("/", name, b); });
    };
    ASSERT_TRUE(create("Twice").isSuccess());
    const XXDiskResultObject again = create("TWICE");
    expectError(again, "6+0", -1, "fs_mkdir---1");
    EXPECT_EQ(again.systemErrorNumber(), EEXIST);
}

TEST_F(ServiceSession, PasswordChangeAndHint)
{
    expectError(change(password, "new-one", ""), "4+1", 1, localized("String_104"));
    EXPECT_EQ(manager->acquirePasswordTip(), "");  // nothing mounted
    openVault();
    expectError(change("", "new-one", ""), "4+1", 2, localized("String_105"));
    expectError(change(password, "", ""), "4+1", 3, localized("String_105"));
    expectError(change("wrong", "new-one", "x"), "4+0", 0, localized("String_156"));
    EXPECT_EQ(manager->acquirePasswordTip(), "the usual");

    EXPECT_EQ(change(password, "new-one", "new hint").successCode(), 0);
    EXPECT_TRUE(manager->isLogin());
    EXPECT_EQ(manager->acquirePasswordTip(), "new hint");
    expectError(login(password), "3+0", -1, localized("String_142"));
    EXPECT_TRUE(login("new-one").isSuccess());

    // An empty hint clears it; a store without any hint entry reads as "".
    ASSERT_TRUE(change("new-one", "third", "").isSuccess());
    EXPECT_EQ(manager->acquirePasswordTip(), "");
    std::filesystem::remove(storeDir() + "/config");
    EXPECT_EQ(manager->acquirePasswordTip(), "");
}

TEST_F(ServiceSession, UsedSpaceLine)
{
    const std::string &zero = XXDiskFileManager::diskUsedStateZeroString();
    EXPECT_EQ(manager->diskUsedStateString(), "已使用: 0%     剩余容量: 0GB/0GB");
    const std::string used = localized("String_149");
    const std::string free = localized("String_150");
    EXPECT_EQ(XXDiskFileManager::diskUsedStateStringForSpace(16000000000ull, 4000000000ull),
              used + ": 75.00%     " + free + ": 3.73GB");
    EXPECT_EQ(XXDiskFileManager::diskUsedStateStringForSpace(0, 0), zero);

    const std::string stick = volume / "stick";
    std::filesystem::create_directory(stick);
    ASSERT_TRUE(start(stick).isSuccess());
    const std::regex line(used + ": [0-9]+\\.[0-9]{2}%     " + free + ": [0-9]+\\.[0-9]{2}GB");
    EXPECT_TRUE(std::regex_match(manager->diskUsedStateString(), line)) << manager->diskUsedStateString();
    std::filesystem::rename(stick, volume / "gone");  // the volume goes away while mounted
    EXPECT_EQ(manager->diskUsedStateString(), zero);
}

// An ext4 stick that keeps half of its blocks for the system: free space is what the person
// can write, not what the file system has unused.
TEST_F(ServiceSession, FreeSpaceLeavesOutTheSystemsReservedBlocks)
{
    TempDir dir;
    const std::string image = dir / "stick.img", mountPoint = dir / "stick";
    std::filesystem::create_directory(mountPoint);
    const std::string make = "mkfs.ext4 -q -F -m 50 '" + image + "' 16M >/dev/null 2>&1";
    const std::string mount = "mount -o loop '" + image + "' '" + mountPoint + "' >/dev/null 2>&1";
    if (geteuid() != 0 || std::system(make.c_str()) != 0 || std::system(mount.c_str()) != 0)
        GTEST_SKIP() << "needs root, mkfs.ext4 and a loop device";
    struct Unmount {
        std::string path;
        ~Unmount() { std::system(("umount '" + path + "'").c_str()); }
    } unmount{mountPoint};

    ASSERT_TRUE(start(mountPoint).isSuccess());
    struct statvfs stats {};
    ASSERT_EQ(statvfs(mountPoint.c_str(), &stats), 0);
    ASSERT_LT(stats.f_bavail * 3 / 2, stats.f_bfree) << "the reserve was not made";
    EXPECT_EQ(manager->diskUsedStateString(),
              XXDiskFileManager::diskUsedStateStringForSpace(std::uint64_t(stats.f_blocks) * stats.f_frsize,
                                                             std::uint64_t(stats.f_bavail) * stats.f_frsize));
    logout();
}

TEST_F(ServiceSession, FormatRemovesOnlyTheStoreDirectory)
{
    EXPECT_FALSE(manager->formatDisk());  // no current volume
    writeFile(volume / "keep.txt", "mine");
    openVault();
    EXPECT_TRUE(manager->formatDisk());
    EXPECT_FALSE(std::filesystem::exists(storeDir()));
    EXPECT_EQ(readFile(volume / "keep.txt"), "mine");
    EXPECT_TRUE(manager->mountSuccess());  // the screens quit next
    EXPECT_FALSE(manager->formatDisk());  // nothing left to remove
}

TEST_F(ServiceSession, OnlyTheRemovalOfTheCurrentVolumeEndsTheProcess)
{
    int terminations = 0;
    manager->setTerminationHandler([&] { ++terminations; });
    center.post(XXDiskDidMoveoutNotification, volume.path());  // no current volume yet
    openVault();
    center.post(XXDiskDidMoveoutNotification, volume.path() + "-other");
    center.post(XXDiskDidMoveoutNotification, 42);  // not a path
    center.post("SomethingElse", volume.path());
    EXPECT_EQ(terminations, 0);
    EXPECT_TRUE(manager->isLogin());

    center.post(XXDiskDidMoveoutNotification, volume.path() + "/");
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(manager->isLogin());
    EXPECT_FALSE(manager->mountSuccess());
    EXPECT_EQ(fs_store_dir(), nullptr);
}

TEST_F(ServiceSession, TheSharedInstanceObservesTheDefaultCenter)
{
    manager->logOutComplete(nullptr);  // the engine is one per process
    XXDiskFileManager &shared = XXDiskFileManager::shareDiskFileManager();

    std::atomic<int> terminations{0};
    shared.setTerminationHandler([&] { ++terminations; });
    std::optional<XXDiskResultObject> started;
    shared.startManagerWithDiskPath(volume.path(), [&](const XXDiskResultObject &r) { started.emplace(r); });
    ASSERT_TRUE(started && started->isSuccess());
    XXNotificationCenter::defaultCenter().post(XXDiskDidMoveoutNotification, volume.path());
    EXPECT_EQ(terminations.load(), 1);
    EXPECT_FALSE(shared.mountSuccess());
    shared.setTerminationHandler(nullptr);
}

TEST_F(ServiceSession, EngineCallsFromManyThreadsAreSerialised)
{
    openVault();
    // The engine's configuration writes refuse to run side by side (a second writer finds
    // the first one's lock file), so unserialised calls would fail some of these.
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; i++) {
                refused += !manager->setBackupSetting((i + t) % 2 == 0);
                refused += manager->acquirePasswordTip() != "the usual";
                refused += !login(password).isSuccess();
            }
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(refused.load(), 0);
}
