// Backups of a real vault, their listing and rotation, the folder copy's results, and
// restores that succeed, are refused, fail half-way or are cancelled.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "ServiceTestSupport.h"
#include "XXBackupFiles.h"
#include "XXBackupFolders.h"

namespace {

namespace fs = std::filesystem;

const std::string kNoVault = "未发现保管库";

class ScopedEnv {
public:
    ScopedEnv(const char *name, std::optional<std::string> value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char *name_;
    std::optional<std::string> old_;
};

struct CopyOutcome {
    int calls = 0;
    bool success = false;
    std::string errorTip, complateTip;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};

std::string randomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

std::vector<std::string> folderNames(const std::string &path)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(path, ec))
        if (entry.is_directory())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ServiceBackup : public ServiceFixture {
protected:
    TempDir home;
    ScopedEnv homeEnv{"HOME", home.path()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", std::nullopt};
    ScopedEnv dataEnv{"XDG_DATA_HOME", std::nullopt};
    const std::string bigContent = randomBytes(7 * 1000 * 1000, 7);

    void SetUp() override
    {
        ServiceFixture::SetUp();
        openVault();
        fillVault();
    }

    std::string backupRoot() const { return home / "Documents/TovinUSBENC/Backup"; }

    static void put(const std::string &path, const std::string &content)
    {
        auto engine = XXDiskFileManager::lockEngine();
        const int handle = fs_open(path.c_str(), FS_O_WRITE, static_cast<std::uint64_t>(content.size()));
        ASSERT_GE(handle, 0) << path;
        for (size_t offset = 0; offset < content.size(); offset += 1 << 20) {
            const size_t n = std::min<size_t>(1 << 20, content.size() - offset);
            ASSERT_EQ(fs_write(handle, content.data() + offset, static_cast<std::uint32_t>(n)), static_cast<int>(n));
        }
        ASSERT_EQ(fs_close(handle), 0);
    }

    static std::string get(const std::string &path)
    {
        auto engine = XXDiskFileManager::lockEngine();
        const int handle = fs_open(path.c_str(), FS_O_READ);
        if (handle < 0)
            return "<missing>";
        std::string content;
        char buffer[65536];
        int n;
        while ((n = fs_read(handle, buffer, sizeof(buffer))) > 0)
            content.append(buffer, static_cast<size_t>(n));
        fs_close(handle);
        return n < 0 ? "<unreadable>" : content;
    }

    static void makeFolder(const std::string &path)
    {
        auto engine = XXDiskFileManager::lockEngine();
        ASSERT_EQ(fs_mkdir(path.c_str()), 0) << path;
    }

    // Protected folders three levels deep (each its own index object), an empty stored file,
    // a file of three chunks, and hidden and empty entries of the store directory itself.
    void fillVault()
    {
        makeFolder("/Docs");
        put("/Docs/report.pdf", "0123456789");
        put("/Docs/empty.txt", "");
        makeFolder("/Docs/Inner");
        makeFolder("/Docs/Inner/Deeper");
        put("/Docs/Inner/Deeper/deep.bin", bigContent);
        put("/a.png", "abc");
        writeFile(storeDir() + "/.hidden", "not the engine's");
        writeFile(storeDir() + "/.extra/.inner/note", "deep and hidden");
        writeFile(storeDir() + "/.empty", "");
    }

    CopyOutcome collect(const std::function<void(const XXDiskFileManager::BackupProgressBlock &,
                                                 const XXDiskFileManager::BackupResultBlock &)> &operation,
                        const std::function<void(std::uint64_t, std::uint64_t)> &onProgress = {})
    {
        CopyOutcome outcome;
        operation(
            [&](std::uint64_t total, std::uint64_t done) {
                EXPECT_EQ(outcome.calls, 0) << "progress after the result";
                outcome.progress.emplace_back(total, done);
                if (onProgress)
                    onProgress(total, done);
            },
            [&](bool success, const std::string &errorTip, const std::string &complateTip) {
                ++outcome.calls;
                outcome.success = success;
                outcome.errorTip = errorTip;
                outcome.complateTip = complateTip;
            });
        EXPECT_EQ(outcome.calls, 1);
        return outcome;
    }

    CopyOutcome backup(const std::function<void(std::uint64_t, std::uint64_t)> &onProgress = {})
    {
        return collect([&](auto &progress, auto &result) { manager->backUpDiskDataProgressBlock(progress, result); },
                       onProgress);
    }

    CopyOutcome restore(const std::string &folder, const std::function<void(std::uint64_t, std::uint64_t)> &onProgress = {})
    {
        return collect(
            [&](auto &progress, auto &result) { manager->RestoreDiskDataWithSelectedPath(folder, progress, result); },
            onProgress);
    }

    CopyOutcome copyFolder(const std::string &source, const std::string &destination)
    {
        return collect([&](auto &progress, auto &result) {
            manager->copyComputerFolderFile(source, destination, progress, result);
        });
    }

    // The one backup folder there is.
    std::string onlyBackup()
    {
        const std::vector<std::string> names = folderNames(backupRoot());
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? "" : backupRoot() + "/" + names.front();
    }

    static void expectFinished(const CopyOutcome &outcome)
    {
        EXPECT_TRUE(outcome.success);
        EXPECT_EQ(outcome.errorTip, "");
        EXPECT_EQ(outcome.complateTip, "");
    }

    // Leftovers of a restore beside the store.
    std::vector<std::string> volumeEntries() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(volume.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST_F(ServiceBackup, ABackupIsTheStoreFileByFileWithProgress)
{
    const CopyOutcome outcome = backup();
    expectFinished(outcome);
    const std::string folder = onlyBackup();
    EXPECT_TRUE(XXTool::shareTool().stringToDate(fs::path(folder).filename().string()).has_value());
    EXPECT_EQ(snapshotTree(folder), snapshotTree(storeDir()));
    EXPECT_TRUE(fs::exists(folder + "/.extra/.inner/note"));
    EXPECT_EQ(fs::file_size(folder + "/.empty"), 0u);

    std::uint64_t storeBytes = 0;
    for (const auto &file : snapshotTree(storeDir()))
        storeBytes += file.second.size();
    ASSERT_GE(outcome.progress.size(), 4u);
    EXPECT_EQ(outcome.progress.front(), std::make_pair(storeBytes, std::uint64_t{0}));
    EXPECT_EQ(outcome.progress.back().second, storeBytes);
    for (size_t i = 1; i < outcome.progress.size(); ++i) {
        EXPECT_EQ(outcome.progress[i].first, storeBytes);
        EXPECT_GT(outcome.progress[i].second, outcome.progress[i - 1].second);
        EXPECT_LE(outcome.progress[i].second - outcome.progress[i - 1].second, xxbackup::kCopyChunkSize);
    }
}

TEST_F(ServiceBackup, NoStoreDirectoryNoBackup)
{
    ASSERT_TRUE(manager->formatDisk());
    const CopyOutcome outcome = backup();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorTip, kNoVault);
    EXPECT_TRUE(outcome.progress.empty());
    EXPECT_FALSE(fs::exists(backupRoot()));

    manager->logOutComplate(nullptr);
    manager.reset();
    XXDiskFileManager fresh(center);  // never started: no volume at all
    bool called = false;
    fresh.backUpDiskDataProgressBlock({}, [&](bool success, const std::string &errorTip, const std::string &) {
        called = true;
        EXPECT_FALSE(success);
        EXPECT_EQ(errorTip, kNoVault);
    });
    EXPECT_TRUE(called);
    manager.emplace(center);
}

TEST_F(ServiceBackup, TheLocationSettingChoosesTheDataFolder)
{
    ASSERT_TRUE(manager->setCurrentBackupLocation(1));
    expectFinished(backup());
    const std::string dataRoot = home / ".local/share/TovinUSBENC/Backup";
    EXPECT_EQ(manager->backupRootFolderPath(), dataRoot);
    EXPECT_EQ(folderNames(dataRoot).size(), 1u);
    EXPECT_FALSE(fs::exists(backupRoot()));
    ASSERT_EQ(manager->allBackUpFolders().size(), 1u);
    EXPECT_EQ(manager->allBackUpFolders().front()->parentFolderPath(), dataRoot);
}

TEST_F(ServiceBackup, RotationKeepsTheNewestAndNeverTouchesOtherEntries)
{
    ASSERT_TRUE(manager->setMaxBackupFileNum("2"));
    writeFile(backupRoot() + "/2020-01-01 00:00:00/index", "oldest");
    writeFile(backupRoot() + "/2021-06-30 12:00:00/index", "older");
    writeFile(backupRoot() + "/notes/read me", "mine");
    writeFile(backupRoot() + "/2019-01-01 00:00:00", "a file, not a backup");

    expectFinished(backup());
    std::vector<std::string> names = folderNames(backupRoot());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "2021-06-30 12:00:00");
    EXPECT_TRUE(xxbackup::isBackupFolderName(names[1]));
    EXPECT_EQ(names[2], "notes");
    EXPECT_EQ(readFile(backupRoot() + "/notes/read me"), "mine");
    EXPECT_TRUE(fs::is_regular_file(backupRoot() + "/2019-01-01 00:00:00"));

    // Listing: backups only, oldest first, exact sizes.
    const XXFileArray listed = manager->allBackUpFolders();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]->fileName(), "2021-06-30 12:00:00");
    EXPECT_EQ(listed[0]->folderSize(), 5u);
    EXPECT_EQ(listed[1]->fileName(), names[1]);
    std::uint64_t storeBytes = 0;
    for (const auto &file : snapshotTree(storeDir()))
        storeBytes += file.second.size();
    EXPECT_EQ(listed[1]->folderSize(), storeBytes);
}

TEST_F(ServiceBackup, RotationNeverRemovesTheBackupJustMade)
{
    // Made while the clock ran ahead: by name it is newer than the new backup.
    writeFile(backupRoot() + "/2200-01-01 00:00:00/index", "from the future");
    ASSERT_TRUE(manager->setMaxBackupFileNum("1"));
    expectFinished(backup());
    const std::vector<std::string> names = folderNames(backupRoot());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(snapshotTree(backupRoot() + "/" + names[0]), snapshotTree(storeDir()));
}

TEST_F(ServiceBackup, WithAutoBackupOffNothingIsRemoved)
{
    ASSERT_TRUE(manager->setBackupSetting(false));
    ASSERT_TRUE(manager->setMaxBackupFileNum("1"));
    writeFile(backupRoot() + "/2020-01-01 00:00:00/index", "oldest");
    writeFile(backupRoot() + "/2021-06-30 12:00:00/index", "older");
    expectFinished(backup());
    EXPECT_EQ(folderNames(backupRoot()).size(), 3u);
}

TEST_F(ServiceBackup, TwoBackupsInOneSecondTheSecondIsRefused)
{
    ASSERT_TRUE(manager->setMaxBackupFileNum("1"));
    for (int attempt = 0; attempt < 10; ++attempt) {
        expectFinished(backup());
        const std::string first = onlyBackup();
        const CopyOutcome second = backup();
        if (second.success) {  // the clock moved on between the two: try again
            fs::remove_all(backupRoot());
            continue;
        }
        EXPECT_EQ(second.errorTip, localized("String_66"));
        EXPECT_EQ(second.complateTip, "");
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
    const CopyOutcome outcome = backup([&](std::uint64_t, std::uint64_t done) {
        if (done > 0)
            manager->cancelBackup();
    });
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.errorTip, "");
    EXPECT_EQ(outcome.complateTip, localized("String_65"));
    EXPECT_EQ(outcome.progress.size(), 2u);  // the total, then the one chunk before the stop
    // Gone, and a cancelled backup costs no old one.
    EXPECT_EQ(folderNames(backupRoot()), (std::vector<std::string>{"2020-01-01 00:00:00", "2021-01-01 00:00:00"}));
    EXPECT_TRUE(manager->isCancelBackupAndRestore());

    // The next backup starts afresh.
    expectFinished(backup());
    EXPECT_FALSE(manager->isCancelBackupAndRestore());
}

TEST_F(ServiceBackup, FolderCopyResults)
{
    TempDir scratch;
    CopyOutcome outcome = copyFolder(scratch / "missing", scratch / "out");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorTip, "");
    EXPECT_EQ(outcome.complateTip, "");

    writeFile(scratch / "taken/keep", "x");
    outcome = copyFolder(storeDir(), scratch / "taken");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorTip, localized("String_66"));
    EXPECT_EQ(snapshotTree(scratch / "taken").size(), 1u);

    // Folders are made only for the files they receive.
    fs::create_directories(scratch / "hollow/a/b");
    expectFinished(copyFolder(scratch / "hollow", scratch / "hollowCopy"));
    EXPECT_FALSE(fs::exists(scratch / "hollowCopy"));

    // Leftover lock files of interrupted writes are not part of a copy.
    writeFile(scratch / "src/config", "c");
    writeFile(scratch / "src/config.lock", "half written");
    writeFile(scratch / "src/ab/cd.lock", "half written");
    expectFinished(copyFolder(scratch / "src", scratch / "srcCopy/"));
    EXPECT_EQ(snapshotTree(scratch / "srcCopy"), (std::vector<std::pair<std::string, std::string>>{{"config", "c"}}));

    // A source entry that cannot be read fails the copy, and nothing of it stays.
    writeFile(scratch / "bad/a", "first");
    ASSERT_EQ(mkfifo((scratch / "bad/b-pipe").c_str(), 0600), 0);
    writeFile(scratch / "bad/c", "after");
    outcome = copyFolder(scratch / "bad", scratch / "badCopy");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorTip, localized("String_81"));
    EXPECT_FALSE(fs::exists(scratch / "badCopy"));
    EXPECT_TRUE(logged("not a regular file"));

    fs::remove(scratch / "bad/b-pipe");
    fs::create_symlink("/etc/hostname", scratch / "bad/b-link");
    EXPECT_FALSE(copyFolder(scratch / "bad", scratch / "badCopy").success);
    EXPECT_FALSE(fs::exists(scratch / "badCopy"));
}

TEST_F(ServiceBackup, RestoreBringsBackPasswordHintAndContent)
{
    expectFinished(backup());
    const std::string folder = onlyBackup();

    bool changed = false;
    manager->changePasswordWithOld(password, "another-Pass1", "new hint",
                                   [&](const XXDiskResultObjct &r) { changed = r.isSuccess(); });
    ASSERT_TRUE(changed);
    put("/added.txt", "after the backup");
    {
        auto engine = XXDiskFileManager::lockEngine();
        ASSERT_EQ(fs_unlink("/Docs/report.pdf"), 0);
    }

    const CopyOutcome outcome = restore(folder);
    expectFinished(outcome);
    EXPECT_EQ(outcome.progress.back().second, outcome.progress.front().first);
    EXPECT_EQ(snapshotTree(storeDir()), snapshotTree(folder));
    EXPECT_EQ(volumeEntries(), std::vector<std::string>{FS_STORE_DIR_NAME});

    // Mounted afresh, not logged in: the restored store has its own password.
    EXPECT_TRUE(manager->mountSucess());
    EXPECT_FALSE(manager->isLogin());
    EXPECT_EQ(manager->acquirePasswordTip(), "the usual");
    EXPECT_FALSE(login("another-Pass1").isSuccess());
    ASSERT_TRUE(login(password).isSuccess());
    EXPECT_EQ(get("/Docs/report.pdf"), "0123456789");
    EXPECT_EQ(get("/Docs/Inner/Deeper/deep.bin"), bigContent);
    EXPECT_EQ(get("/added.txt"), "<missing>");
}

TEST_F(ServiceBackup, RestoreRefusesWhatIsNoBackupWithoutTouchingTheStore)
{
    const auto before = snapshotTree(storeDir());
    TempDir scratch;
    writeFile(scratch / "notAVault/config", "[core]\n");
    CopyOutcome outcome = restore(scratch / "notAVault");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorTip, kNoVault);
    EXPECT_TRUE(outcome.progress.empty());

    outcome = restore(scratch / "missing");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorTip, "");

    EXPECT_EQ(snapshotTree(storeDir()), before);
    EXPECT_TRUE(manager->isLogin());
    EXPECT_EQ(get("/a.png"), "abc");
}

TEST_F(ServiceBackup, ARestoreFailingHalfWayKeepsTheOldStore)
{
    expectFinished(backup());
    const std::string folder = onlyBackup();
    put("/added.txt", "after the backup");
    const auto before = snapshotTree(storeDir());

    // The root index is copied last; once the copy is under way it becomes unreadable.
    bool broken = false;
    const CopyOutcome outcome = restore(folder, [&](std::uint64_t, std::uint64_t done) {
        if (done > 0 && !broken) {
            broken = true;
            fs::remove(folder + "/index");
            fs::create_directory(folder + "/index");
        }
    });
    ASSERT_TRUE(broken);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorTip, localized("String_81"));
    EXPECT_EQ(snapshotTree(storeDir()), before);
    EXPECT_EQ(volumeEntries(), std::vector<std::string>{FS_STORE_DIR_NAME});
    // Not even the session noticed.
    EXPECT_TRUE(manager->isLogin());
    EXPECT_EQ(get("/added.txt"), "after the backup");
    EXPECT_EQ(get("/Docs/Inner/Deeper/deep.bin"), bigContent);
}

TEST_F(ServiceBackup, ACancelledRestoreKeepsTheOldStore)
{
    expectFinished(backup());
    const std::string folder = onlyBackup();
    put("/added.txt", "after the backup");
    const auto before = snapshotTree(storeDir());
    const CopyOutcome outcome = restore(folder, [&](std::uint64_t, std::uint64_t done) {
        if (done > 0)
            manager->cancelRestore();
    });
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.complateTip, localized("String_65"));
    EXPECT_EQ(snapshotTree(storeDir()), before);
    EXPECT_EQ(volumeEntries(), std::vector<std::string>{FS_STORE_DIR_NAME});
    EXPECT_TRUE(manager->isLogin());
}

TEST_F(ServiceBackup, ARestoreAfterAnInterruptedOneStartsFromAWholeStore)
{
    expectFinished(backup());
    const std::string folder = onlyBackup();
    put("/added.txt", "after the backup");
    manager->logOutComplate(nullptr);

    // Cut between the two renames of a swap: the store aside, a staged copy beside it.
    fs::rename(storeDir(), storeDir() + ".replaced");
    writeFile(storeDir() + ".restoring/index", "half a copy");

    expectFinished(restore(folder));
    EXPECT_EQ(volumeEntries(), std::vector<std::string>{FS_STORE_DIR_NAME});
    EXPECT_EQ(snapshotTree(storeDir()), snapshotTree(folder));
    EXPECT_FALSE(manager->mountSucess());  // it was not mounted, and is not now
}
