// A password change interrupted at any call leaves one password that opens the vault and
// the hint that belongs to it, before and after logging in, and the next change works.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "StoreFixture.h"
#include "fs.h"

namespace {

const char kOld[] = "old password", kOldHint[] = "old hint";
const char kNew[] = "new password", kNewHint[] = "new hint";

std::string prompt()
{
    char *hint = fs_get_prompt();
    std::string text = hint ? hint : "<none>";
    free(hint);
    return text;
}

void makeVault(const TempDir &volume)
{
    ASSERT_EQ(fs_mount(volume.path().c_str()), 2);
    ASSERT_EQ(fs_mkfs(kOld, kOldHint), 0);
    ASSERT_EQ(fs_mkdir("kept"), 0);
    fs_umount();
}

// Remounts as a new program would and checks the pair; returns the password that holds.
std::string verifyConsistentPair(const TempDir &volume)
{
    EXPECT_EQ(fs_mount(volume.path().c_str()), 0);
    std::string shownBefore = prompt();
    bool oldOpens = fs_login(kOld) >= 0;
    bool newOpens = fs_login(kNew) >= 0;
    EXPECT_NE(oldOpens, newOpens) << "exactly one password must open the vault";
    const char *holds = newOpens ? kNew : kOld;
    const char *hint = newOpens ? kNewHint : kOldHint;
    EXPECT_EQ(shownBefore, hint) << "hint shown before logging in";
    EXPECT_GE(fs_login(holds), 0);
    EXPECT_EQ(prompt(), hint) << "hint after logging in";
    return holds;
}

}  // namespace

TEST(PasswordChangeCrash, EveryCallLeavesAMatchingPasswordAndHint)
{
    unsigned long calls;
    {
        TempDir volume;
        makeVault(volume);
        ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
        io_fault_arm(0, IO_FAULT_NONE, 0);
        ASSERT_GE(fs_chpasswd(kOld, kNew, kNewHint), 0);
        calls = io_fault_calls();
        fs_umount();
    }
    ASSERT_GE(calls, 4u);  // at least the hint's and the root index's writes and renames
    unsigned long points = 0;
    bool sawOld = false, sawNew = false;
    for (unsigned long n = 1; n <= calls + 1; n++) {
        for (int action : {IO_FAULT_EXIT, IO_FAULT_FAIL}) {
            SCOPED_TRACE((action == IO_FAULT_EXIT ? "process ends at call " : "fails at call ") +
                         std::to_string(n));
            TempDir volume;
            makeVault(volume);
            if (action == IO_FAULT_EXIT) {
                pid_t child = fork();
                ASSERT_GE(child, 0);
                if (child == 0) {
                    fs_mount(volume.path().c_str());
                    io_fault_arm(n, IO_FAULT_EXIT, 0);
                    fs_chpasswd(kOld, kNew, kNewHint);
                    _exit(0);
                }
                int status = 0;
                ASSERT_EQ(waitpid(child, &status, 0), child);
                ASSERT_TRUE(WIFEXITED(status));
            } else {
                ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
                io_fault_arm(n, IO_FAULT_FAIL, ENOSPC);
                int r = fs_chpasswd(kOld, kNew, kNewHint);
                io_fault_arm(0, IO_FAULT_NONE, 0);
                fs_umount();
                if (n > calls) {
                    EXPECT_GE(r, 0);
                }
            }
            std::string holds = verifyConsistentPair(volume);
            (holds == kNew ? sawNew : sawOld) = true;
            EXPECT_GE(fs_chpasswd(holds.c_str(), "third password", "third hint"), 0);
            fs_umount();
            ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
            EXPECT_EQ(prompt(), "third hint");
            char *committed = fs_get_config("core.prompt");  // not only shown: committed
            EXPECT_STREQ(committed, "third hint");
            free(committed);
            EXPECT_LT(fs_login(holds.c_str()), 0);
            EXPECT_GE(fs_login("third password"), 0);
            fs_dir *dir = fs_opendir("kept");
            EXPECT_NE(dir, nullptr) << "a folder stored before is gone";
            if (dir)
                fs_closedir(dir);
            fs_umount();
            points++;
            if (HasFailure())
                return;
        }
    }
    // Both outcomes occur, or the test would not tell an ordering fault from a lucky one.
    EXPECT_TRUE(sawOld);
    EXPECT_TRUE(sawNew);
    printf("password change: %lu injection points covered\n", points);
}
