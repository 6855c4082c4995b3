// Backups of a real vault, their listing and rotation, the folder copy's results, and
// restores that succeed, are refused, fail half-way or are cancelled.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <tuple>
#include <utility>

#include "ServiceTestSupport.h"
#include "XXBackupFiles.h"
#include "XXBackupFolders.h"

namespace {

namespace fs = std::filesystem;

const std::string kNoVault = "未发现保管库";

// The result block's arguments: success flag, error tip, completion tip.
using Tips = std::tuple<bool, std::string, std::string>;
const Tips kFinished{true, "", ""};

struct CopyOutcome {
    int calls = 0;
    Tips tips;  // the texts built from the result
    int systemErrorNumber = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};
using ProgressHook = std::function<void(std::uint64_t done)>;

std::string randomBytes(size_t size)
{
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
    return bytes;
}

// Sorted names of the folders (or of all entries) in path.
std::vector<std::string> entryNames(const std::string &path, bool foldersOnly = true)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(path, ec))
        if (!foldersOnly || entry.is_directory())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::uint64_t bytesIn(const std::string &folder)
{
    std::uint64_t total = 0;
    for (const auto &file : snapshotTree(folder))
        total += file.second.size();
    return total;
}

class ServiceBackup : public PrivateHomeVaultFixture {
protected:
    const std::string bigContent = randomBytes(7 * 1000 * 1000);

    // Protected folders three levels deep (each its own index object), an empty stored file,
    // a file of three chunks, and hidden and empty entries of the store directory itself.
    void SetUp() override
    {
        PrivateHomeVaultFixture::SetUp();
        for (const char *folder : {"/Docs", "/Docs/Inner", "/Docs/Inner/Deeper"})
            storeMkdir(folder);
        storePut("/Docs/report.pdf", "0123456789");
        storePut("/Docs/empty.txt", "");
        storePut("/Docs/Inner/Deeper/deep.bin", bigContent);
        storePut("/a.png", "abc");
        writeFile(storeDir() + "/.hidden", "not the engine's");
        writeFile(storeDir() + "/.extra/.inner/note", "deep and hidden");
        writeFile(storeDir() + "/.empty", "");
    }

    // Runs a copy with recording blocks; the result must come exactly once, after all progress.
    template <class Operation>
    CopyOutcome collect(const Operation &operation, const ProgressHook &hook)
    {
        CopyOutcome outcome;
        operation(
            [&](std::uint64_t total, std::uint64_t done) {
                EXPECT_EQ(outcome.calls, 0) << "progress after the result";
                outcome.progress.emplace_back(total, done);
                if (hook)
                    hook(done);
            },
            [&](const XXBackupResult &result) {
                ++outcome.calls;
                outcome.tips = {result.success(), result.errorTip(), result.completeTip()};
                outcome.systemErrorNumber = result.systemErrorNumber;
            });
        EXPECT_EQ(outcome.calls, 1);
        return outcome;
    }
    CopyOutcome backup(const ProgressHook &hook = {})
    {
        return collect(std::bind_front(&XXBackupJob::backUpDiskDataProgressBlock, &manager->backupJob()), hook);
    }
    CopyOutcome restore(const std::string &folder, const ProgressHook &hook = {})
    {
        return collect(
            std::bind_front(&XXBackupJob::RestoreDiskDataWithSelectedPath, &manager->backupJob(), folder), hook);
    }
    CopyOutcome copyFolder(const std::string &source, const std::string &destination)
    {
        return collect(
            std::bind_front(&XXBackupJob::copyComputerFolderFile, &manager->backupJob(), source, destination), {});
    }

    // The one backup folder there is.
    std::string onlyBackup()
    {
        const std::vector<std::string> names = entryNames(backupRoot());
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? "" : backupRoot() + "/" + names.front();
    }

    // No leftovers of a restore beside the store.
    void expectOnlyTheStoreOnTheVolume() const
    {
        EXPECT_EQ(entryNames(volume.path(), false), std::vector<std::string>{FS_STORE_DIR_NAME});
    }
};

}  // namespace

TEST_F(ServiceBackup, ABackupIsTheStoreFileByFileWithProgress)
{
    const CopyOutcome outcome = backup();
    EXPECT_EQ(outcome.tips, kFinished);
    const std::string folder = onlyBackup();
    EXPECT_TRUE(xxbackup::isBackupFolderName(fs::path(folder).filename().string()));
    EXPECT_EQ(snapshotTree(folder), snapshotTree(storeDir()));

    const std::uint64_t total = bytesIn(storeDir());
    ASSERT_GE(outcome.progress.size(), 4u);
    EXPECT_EQ(outcome.progress.front(), std::make_pair(total, std::uint64_t{0}));
    EXPECT_EQ(outcome.progress.back().second, total);
    // One report per chunk read; the empty files add none.
    for (size_t i = 1; i < outcome.progress.size(); ++i) {
        EXPECT_EQ(outcome.progress[i].first, total);
        EXPECT_GT(outcome.progress[i].second, outcome.progress[i - 1].second);
        EXPECT_LE(outcome.progress[i].second - outcome.progress[i - 1].second, xxbackup::kCopyChunkSize);
    }
}

TEST_F(ServiceBackup, TheLocationSettingChoosesTheDataFolder)
{
    ASSERT_TRUE(manager->setCurrentBackupLocation(1));
    EXPECT_EQ(backup().tips, kFinished);
    const std::string dataRoot = home / ".local/share/TovinUSBENC/Backup";
    EXPECT_EQ(entryNames(dataRoot).size(), 1u);
    EXPECT_FALSE(fs::exists(backupRoot()));
    const XXFileArray listed = manager->allBackUpFolders();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.front()->parentFolderPath(), dataRoot);
}

TEST_F(ServiceBackup, RotationRemovesOnlyTheOldestBackupsBeyondTheMaximum)
{
    const std::string made = "<the new backup>";
    struct Row {
        const char *what;
        bool autoBackup;
        const char *maximum;
        std::vector<std::string> before, after;
    };
    const Row rows[] = {
        {"auto on",
         true,
         "2",
         {"2020-01-01 00:00:00", "2021-06-30 12:00:00"},
         {"2021-06-30 12:00:00", made, "notes"}},
        {"auto off",
         false,
         "1",
         {"2020-01-01 00:00:00", "2021-06-30 12:00:00"},
         {"2020-01-01 00:00:00", "2021-06-30 12:00:00", made, "notes"}},
        // Made while the clock ran ahead: by name it is newer than the new backup, which stays.
        {"clock ahead", true, "1", {"2200-01-01 00:00:00"}, {made, "2200-01-01 00:00:00", "notes"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(backupRoot());
        ASSERT_TRUE(manager->setBackupSetting(row.autoBackup));
        ASSERT_TRUE(manager->setMaxBackupFileNum(row.maximum));
        for (const std::string &name : row.before)
            writeFile(backupRoot() + "/" + name + "/index", name);
        // Neither a folder of another name nor a file named like a date is a backup.
        writeFile(backupRoot() + "/notes/read me", "mine");
        writeFile(backupRoot() + "/2019-01-01 00:00:00", "a file, not a backup");

        ASSERT_EQ(backup().tips, kFinished);
        std::vector<std::string> names = entryNames(backupRoot());
        for (std::string &name : names)
            if (xxbackup::isBackupFolderName(name) &&
                std::count(row.before.begin(), row.before.end(), name) == 0)
                name = made;
        EXPECT_EQ(names, row.after);
        EXPECT_EQ(readFile(backupRoot() + "/notes/read me"), "mine");
        EXPECT_TRUE(fs::is_regular_file(backupRoot() + "/2019-01-01 00:00:00"));
    }

    // Listing: the backups of the last row only, in name order, with exact sizes.
    const XXFileArray listed = manager->allBackUpFolders();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(xxbackup::isBackupFolderName(listed[0]->fileName()));
    EXPECT_EQ(listed[0]->folderSize(), bytesIn(storeDir()));
    EXPECT_EQ(listed[1]->fileName(), "2200-01-01 00:00:00");
    EXPECT_EQ(listed[1]->folderSize(), 19u);
}

TEST_F(ServiceBackup, TwoBackupsInOneSecondTheSecondIsRefused)
{
    ASSERT_TRUE(manager->setMaxBackupFileNum("1"));
    for (int attempt = 0; attempt < 10; ++attempt) {
        ASSERT_EQ(backup().tips, kFinished);
        const std::string first = onlyBackup();
        const CopyOutcome second = backup();
        if (std::get<0>(second.tips)) {  // the clock moved on between the two: try again
            fs::remove_all(backupRoot());
            continue;
        }
        EXPECT_EQ(second.tips, Tips(false, localized("String_66"), ""));
        // The refused copy neither touched the first backup nor rotated anything.
        EXPECT_EQ(onlyBackup(), first);
        EXPECT_EQ(snapshotTree(first), snapshotTree(storeDir()));
        return;
    }
    FAIL() << "no two backups within one second";
}

TEST_F(ServiceBackup, ACancelledBackupLeavesNoFolder)
{
    // More than the maximum kept: a rotation after the cancel would show.
    writeFile(backupRoot() + "/2020-01-01 00:00:00/index", "kept");
    writeFile(backupRoot() + "/2021-01-01 00:00:00/index", "kept");
    ASSERT_TRUE(manager->setMaxBackupFileNum("1"));
    const CopyOutcome outcome = backup([&](std::uint64_t done) {
        if (done > 0)
            manager->backupJob().cancel();
    });
    EXPECT_EQ(outcome.tips, Tips(true, "", localized("String_65")));
    EXPECT_EQ(outcome.progress.size(), 2u);  // the total, then the one chunk before the stop
    EXPECT_EQ(entryNames(backupRoot()),
              (std::vector<std::string>{"2020-01-01 00:00:00", "2021-01-01 00:00:00"}));
    EXPECT_TRUE(manager->backupJob().isCancel());

    // The next backup starts afresh.
    EXPECT_EQ(backup().tips, kFinished);
    EXPECT_FALSE(manager->backupJob().isCancel());
}

TEST_F(ServiceBackup, FolderCopyResults)
{
    TempDir scratch;
    EXPECT_EQ(copyFolder(scratch / "missing", scratch / "out").tips, Tips(false, "", ""));

    // Folders are made only for the files they receive.
    fs::create_directories(scratch / "hollow/a/b");
    EXPECT_EQ(copyFolder(scratch / "hollow", scratch / "hollowCopy").tips, kFinished);
    EXPECT_FALSE(fs::exists(scratch / "hollowCopy"));

    // Leftover lock files of interrupted writes are not part of a copy; "srcCopy/" names srcCopy.
    writeFile(scratch / "src/config", "c");
    writeFile(scratch / "src/config.lock", "half written");
    writeFile(scratch / "src/ab/cd.lock", "half written");
    EXPECT_EQ(copyFolder(scratch / "src", scratch / "srcCopy/").tips, kFinished);
    EXPECT_EQ(snapshotTree(scratch / "srcCopy"),
              (std::vector<std::pair<std::string, std::string>>{{"config", "c"}}));

    // A source entry that cannot be read fails the copy, and nothing of it stays.
    writeFile(scratch / "bad/a", "first");
    ASSERT_EQ(mkfifo((scratch / "bad/b-pipe").c_str(), 0600), 0);
    writeFile(scratch / "bad/c", "after");
    EXPECT_EQ(copyFolder(scratch / "bad", scratch / "badCopy").tips, Tips(false, localized("String_81"), ""));
    EXPECT_FALSE(fs::exists(scratch / "badCopy"));
    EXPECT_TRUE(logged("not a regular file"));
}

TEST_F(ServiceBackup, RestoreBringsBackPasswordHintAndContent)
{
    ASSERT_EQ(backup().tips, kFinished);
    const std::string folder = onlyBackup();
    ASSERT_TRUE(run([&](auto &block) {
                    manager->changePasswordWithOld(password, "another-Pass1", "new hint", block);
                }).isSuccess());
    storePut("/added.txt", "after the backup");
    {
        auto engine = XXDiskFileManager::lockEngine();
        ASSERT_EQ(fs_unlink("/Docs/report.pdf"), 0);
    }

    const CopyOutcome outcome = restore(folder);
    EXPECT_EQ(outcome.tips, kFinished);
    EXPECT_EQ(outcome.progress.back().second, outcome.progress.front().first);
    EXPECT_EQ(snapshotTree(storeDir()), snapshotTree(folder));
    expectOnlyTheStoreOnTheVolume();

    // Mounted afresh, not logged in: the restored store has its own password.
    EXPECT_TRUE(manager->mountSuccess());
    EXPECT_FALSE(manager->isLogin());
    EXPECT_EQ(manager->acquirePasswordTip(), "the usual");
    EXPECT_FALSE(login("another-Pass1").isSuccess());
    ASSERT_TRUE(login(password).isSuccess());
    EXPECT_EQ(storeGet("/Docs/report.pdf"), "0123456789");
    EXPECT_EQ(storeGet("/Docs/Inner/Deeper/deep.bin"), bigContent);
    EXPECT_FALSE(storeGet("/added.txt"));
}

TEST_F(ServiceBackup, WithoutAStoreOrABackupNothingIsTouched)
{
    const auto before = snapshotTree(storeDir());
    TempDir scratch;
    writeFile(scratch / "notAVault/config", "[core]\n");
    CopyOutcome outcome = restore(scratch / "notAVault");
    EXPECT_EQ(outcome.tips, Tips(false, kNoVault, ""));
    EXPECT_TRUE(outcome.progress.empty());
    EXPECT_EQ(restore(scratch / "missing").tips, Tips(false, "", ""));
    EXPECT_EQ(snapshotTree(storeDir()), before);
    EXPECT_TRUE(manager->isLogin());
    EXPECT_EQ(storeGet("/a.png"), "abc");

    ASSERT_TRUE(manager->formatDisk());
    outcome = backup();
    EXPECT_EQ(outcome.tips, Tips(false, kNoVault, ""));
    EXPECT_TRUE(outcome.progress.empty());
    EXPECT_FALSE(fs::exists(backupRoot()));

    // A manager never started has no volume, and so no folder to restore into.
    manager->logOutComplete(nullptr);
    manager.emplace(center);
    EXPECT_EQ(backup().tips, Tips(false, kNoVault, ""));
    writeFile(scratch / "backup/index", "a root index");
    EXPECT_EQ(restore(scratch / "backup").tips, Tips(false, kNoVault, ""));
}

TEST_F(ServiceBackup, ARestoreCancelledOrFailingHalfWayKeepsTheOldStore)
{
    ASSERT_EQ(backup().tips, kFinished);
    const std::string folder = onlyBackup();
    storePut("/added.txt", "after the backup");
    const auto before = snapshotTree(storeDir());
    const struct {
        const char *what;
        std::function<void()> afterFirstChunk;
        Tips tips;
        int systemErrorNumber;
    } rows[] = {
        {"cancelled", [&] { manager->backupJob().cancel(); }, {true, "", localized("String_65")}, 0},
        // The root index is copied last; once the copy is under way it becomes unreadable.
        {"failing",
         [&] {
             fs::remove(folder + "/index");
             fs::create_directory(folder + "/index");
         },
         {false, localized("String_81"), ""},
         EINVAL},  // not a regular file
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        bool acted = false;
        const CopyOutcome outcome = restore(folder, [&](std::uint64_t done) {
            if (done > 0 && !std::exchange(acted, true))
                row.afterFirstChunk();
        });
        EXPECT_TRUE(acted);
        EXPECT_EQ(outcome.tips, row.tips);
        EXPECT_EQ(outcome.systemErrorNumber, row.systemErrorNumber);
        EXPECT_EQ(snapshotTree(storeDir()), before);
        expectOnlyTheStoreOnTheVolume();
        // Not even the session noticed.
        EXPECT_TRUE(manager->isLogin());
        EXPECT_EQ(storeGet("/added.txt"), "after the backup");
    }
    EXPECT_EQ(storeGet("/Docs/Inner/Deeper/deep.bin"), bigContent);
}

TEST_F(ServiceBackup, ARestoreAfterAnInterruptedOneStartsFromAWholeStore)
{
    ASSERT_EQ(backup().tips, kFinished);
    const std::string folder = onlyBackup();
    storePut("/added.txt", "after the backup");
    manager->logOutComplete(nullptr);

    // Cut between the two renames of a swap: the store aside, a staged copy beside it.
    fs::rename(storeDir(), storeDir() + ".replaced");
    writeFile(storeDir() + ".restoring/index", "half a copy");

    EXPECT_EQ(restore(folder).tips, kFinished);
    expectOnlyTheStoreOnTheVolume();
    EXPECT_EQ(snapshotTree(storeDir()), snapshotTree(folder));
    EXPECT_FALSE(manager->mountSuccess());  // it was not mounted, and is not now
}
