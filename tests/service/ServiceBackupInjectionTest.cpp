// Backup and restore with every counted call in turn failing or ending the process: the
// vault stays whole (the old one or the restored one, never a mix), no listed backup is a
// partial one, and the next backup or restore works.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "ServiceTestSupport.h"
#include "fs.h"

namespace {

using Snapshot = std::vector<std::pair<std::string, std::string>>;
using Contents = std::map<std::string, std::string>;

class ServiceBackupInjection : public PrivateHomeVaultFixture {
protected:
    void SetUp() override
    {
        PrivateHomeVaultFixture::SetUp();
        storeMkdir("/Docs");
        storePut("/Docs/a.txt", "alpha");
        storePut("/top.bin", std::string(70000, 't') + "end");
    }

    // Every file of the vault as the engine reads it back ("<unreadable>" for one it cannot).
    static void readVault(const std::string &folder, Contents &out)
    {
        const auto names = storeList(folder);
        if (!names)
            out[folder + "/"] = "<unlistable>";
        for (const std::string &name : names.value_or(std::vector<std::string>{})) {
            const std::string path = folder + "/" + name;
            if (name.back() == '/')
                readVault(path.substr(0, path.size() - 1), out);
            else
                out[path] = storeGet(path).value_or("<unreadable>");
        }
    }
    static Contents vaultContents()
    {
        Contents contents;
        readVault("", contents);
        return contents;
    }

    bool backUp()
    {
        bool ok = false;
        manager->backupJob().backUpDiskDataProgressBlock(
            nullptr,
            [&](const XXBackupResult &result) { ok = result.outcome == XXBackupOutcome::finished; });
        return ok;
    }
    bool restore(const std::string &folder)
    {
        bool ok = false;
        manager->backupJob().RestoreDiskDataWithSelectedPath(
            folder, nullptr,
            [&](const XXBackupResult &result) { ok = result.outcome == XXBackupOutcome::finished; });
        return ok;
    }

    // Runs operation with call n failing (fail) or ending a forked child (!fail).
    void inject(unsigned long n, bool fail, const std::function<void()> &operation)
    {
        if (fail) {
            fs_fault_arm(n, FS_FAULT_FAIL, n % 2 ? ENOSPC : EIO);
            operation();
            fs_fault_arm(0, FS_FAULT_NONE, 0);
            return;
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(30);
            fs_fault_arm(n, FS_FAULT_EXIT, 0);
            operation();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
    }

    // A new program on the volume, logged in, as after a crash.
    void startAgain()
    {
        manager->logOutComplete(nullptr);
        manager.emplace(center);
        ASSERT_TRUE(start(volume.path()).isSuccess());
        ASSERT_TRUE(login(password).isSuccess());
    }

    void expectCheckClean()
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_repair([](const char *, void *) {}, nullptr);
        std::vector<std::string> problems;
        EXPECT_EQ(
            fs_check([](const fs_check_problem *p,
                        void *ctx) { static_cast<std::vector<std::string> *>(ctx)->push_back(p->text); },
                     &problems, nullptr),
            0)
            << (problems.empty() ? "" : problems[0]);
    }

    unsigned long countCalls(const std::function<void()> &operation)
    {
        fs_fault_arm(0, FS_FAULT_NONE, 0);
        operation();
        return fs_fault_calls();
    }
};

TEST_F(ServiceBackupInjection, ABackupIsCompleteOrAbsent)
{
    const Snapshot store = snapshotTree(storeDir());
    unsigned long calls = countCalls([&] { ASSERT_TRUE(backUp()); });
    ASSERT_GE(calls, 3 * store.size());  // open, write and flush each file at least
    unsigned long points = 0;
    for (unsigned long n = 1; n <= calls; n++) {
        for (bool fail : {true, false}) {
            SCOPED_TRACE((fail ? "fails at call " : "ends at call ") + std::to_string(n));
            std::filesystem::remove_all(backupRoot());
            inject(n, fail, [&] { backUp(); });
            EXPECT_EQ(snapshotTree(storeDir()), store);
            const XXFileArray listed = manager->allBackUpFolders();
            for (const auto &backup : listed)
                EXPECT_EQ(snapshotTree(backup->systemPath()), store) << "a partial backup is listed";
            if (listed.empty()) {
                EXPECT_TRUE(backUp()) << "the next backup fails";
            }
            ASSERT_EQ(manager->allBackUpFolders().size(), 1u);
            for (const auto &entry : std::filesystem::directory_iterator(backupRoot()))
                EXPECT_EQ(entry.path().filename(), manager->allBackUpFolders().front()->fileName())
                    << "an unfinished backup was left";
            points++;
            if (HasFailure())
                return;
        }
    }
    printf("backup: %lu injection points covered\n", points);
}

TEST_F(ServiceBackupInjection, ARestoreLeavesTheOldVaultOrTheRestoredOneAndNeverAMix)
{
    ASSERT_TRUE(backUp());
    const std::string backup = manager->allBackUpFolders().front()->systemPath();
    const Snapshot backupFiles = snapshotTree(backup);
    const Contents backedUp = vaultContents();
    auto changeVault = [&] {
        storePut("/later.txt", "after the backup");
        storePut("/Docs/a.txt", "changed alpha");
    };
    changeVault();
    const Contents changed = vaultContents();
    ASSERT_NE(changed, backedUp);
    const unsigned long calls = countCalls([&] { ASSERT_TRUE(restore(backup)); });
    unsigned long points = 0;
    for (unsigned long n = 1; n <= calls; n++) {
        for (bool fail : {true, false}) {
            SCOPED_TRACE((fail ? "fails at call " : "ends at call ") + std::to_string(n));
            startAgain();
            changeVault();
            inject(n, fail, [&] { restore(backup); });
            startAgain();
            const Contents now = vaultContents();
            EXPECT_TRUE(now == changed || now == backedUp) << "the vault is a mix";
            EXPECT_EQ(snapshotTree(backup), backupFiles) << "the backup itself changed";
            expectCheckClean();
            EXPECT_TRUE(restore(backup)) << "the next restore fails";
            startAgain();
            EXPECT_EQ(vaultContents(), backedUp);
            points++;
            if (HasFailure())
                return;
        }
    }
    printf("restore: %lu injection points covered\n", points);
}

}  // namespace
