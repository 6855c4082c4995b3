// Where backups go (the XDG folders), which names are backups, and the folder swap of a
// restore in both of its forms.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "TempDir.h"
#include "XXBackupFiles.h"
#include "XXBackupFolders.h"

namespace {

// Sets (or unsets, with nullopt) an environment variable for one test.
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

}  // namespace

TEST(ServiceBackupFolders, DocumentsFolderFromTheUserDirsFile)
{
    using xxbackup::documentsFolderFromUserDirs;
    EXPECT_EQ(documentsFolderFromUserDirs("# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n", "/home/u"),
              "/home/u/Papers");
    EXPECT_EQ(documentsFolderFromUserDirs("  XDG_DOCUMENTS_DIR = \"/srv/docs\"", "/home/u"), "/srv/docs");
    EXPECT_EQ(documentsFolderFromUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"", "/home/u"),
              "/home/u/My \"Docs\"");
    EXPECT_EQ(documentsFolderFromUserDirs("XDG_DOCUMENTS_DIR=\"$HOME\"", "/home/u"), "/home/u");
    // The last valid line wins; relative, unquoted, unterminated and other keys are ignored.
    EXPECT_EQ(documentsFolderFromUserDirs("XDG_DOCUMENTS_DIR=\"/a\"\nXDG_DOCUMENTS_DIR=\"/b\"\n", "/h"), "/b");
    EXPECT_EQ(documentsFolderFromUserDirs("XDG_DOCUMENTS_DIR=\"Docs\"", "/h"), "");
    EXPECT_EQ(documentsFolderFromUserDirs("XDG_DOCUMENTS_DIR=/plain", "/h"), "");
    EXPECT_EQ(documentsFolderFromUserDirs("XDG_DOCUMENTS_DIR=\"/open", "/h"), "");
    EXPECT_EQ(documentsFolderFromUserDirs("XDG_DOCUMENTS_DIRX=\"/x\"\nXDG_DOWNLOAD_DIR=\"/d\"", "/h"), "");
}

TEST(ServiceBackupFolders, BackupRootFollowsTheLocationAndTheEnvironment)
{
    TempDir home;
    ScopedEnv homeEnv("HOME", home.path());
    ScopedEnv configEnv("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv dataEnv("XDG_DATA_HOME", std::nullopt);

    EXPECT_EQ(xxbackup::backupRootForLocation(0), home.path() + "/Documents/TovinUSBENC/Backup");
    EXPECT_EQ(xxbackup::backupRootForLocation(1), home.path() + "/.local/share/TovinUSBENC/Backup");
    // Any other location reads back as the data folder, as the setting's getter gives it.
    EXPECT_EQ(xxbackup::backupRootForLocation(7), xxbackup::backupRootForLocation(1));

    writeFile(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(xxbackup::userDocumentsFolder(), home.path() + "/Dokumente");
    {
        ScopedEnv elsewhere("XDG_CONFIG_HOME", home / "cfg");
        EXPECT_EQ(xxbackup::userDocumentsFolder(), home.path() + "/Documents");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", home / "data");
        EXPECT_EQ(xxbackup::backupRootForLocation(1), home.path() + "/data/TovinUSBENC/Backup");
    }
    {
        ScopedEnv relative("XDG_DATA_HOME", "data");
        EXPECT_EQ(xxbackup::userDataFolder(), home.path() + "/.local/share");
    }
}

TEST(ServiceBackupFolders, OnlyRealDatesNameBackups)
{
    EXPECT_TRUE(xxbackup::isBackupFolderName("2026-12-05 16:20:31"));
    EXPECT_FALSE(xxbackup::isBackupFolderName("notes"));
    EXPECT_FALSE(xxbackup::isBackupFolderName("2026-02-30 10:00:00"));
    EXPECT_FALSE(xxbackup::isBackupFolderName("2026-12-05 16:20:31 copy"));
    EXPECT_FALSE(xxbackup::isBackupFolderName(""));
    EXPECT_TRUE(xxbackup::isBackupFolderName("2261-12-31 23:59:59"));
    EXPECT_FALSE(xxbackup::isBackupFolderName("2999-01-01 00:00:00"));
}

class ServiceBackupSwap : public ::testing::TestWithParam<bool> {
protected:
    TempDir volume;
    std::string target = volume / "store";
    std::string replacement = volume / "store.new";
    std::string aside = volume / "store.old";
};

TEST_P(ServiceBackupSwap, ReplacesAndReturnsWhereTheOldFolderLies)
{
    writeFile(target + "/index", "old");
    writeFile(replacement + "/index", "new");
    writeFile(replacement + "/ab/cdef", "object");
    const std::optional<std::string> previous = xxbackup::replaceFolder(replacement, target, aside, GetParam());
    ASSERT_TRUE(previous.has_value());
    EXPECT_EQ(readFile(target + "/index"), "new");
    EXPECT_EQ(readFile(target + "/ab/cdef"), "object");
    EXPECT_EQ(readFile(*previous + "/index"), "old");
    EXPECT_FALSE(std::filesystem::exists(GetParam() ? aside : replacement));
}

TEST_P(ServiceBackupSwap, AMissingTargetIsSimplyFilled)
{
    writeFile(replacement + "/index", "new");
    EXPECT_EQ(xxbackup::replaceFolder(replacement, target, aside, GetParam()), std::string());
    EXPECT_EQ(readFile(target + "/index"), "new");
    EXPECT_FALSE(std::filesystem::exists(replacement));
}

TEST_P(ServiceBackupSwap, AFailedSwapLeavesTheTargetInPlace)
{
    writeFile(target + "/index", "old");
    // Nothing to swap in: neither form may lose or move the target.
    EXPECT_FALSE(xxbackup::replaceFolder(replacement, target, aside, GetParam()).has_value());
    EXPECT_EQ(readFile(target + "/index"), "old");
    EXPECT_FALSE(std::filesystem::exists(aside));

    // The aside name taken by a non-empty folder: the first rename of the fallback fails.
    writeFile(replacement + "/index", "new");
    writeFile(aside + "/busy", "x");
    if (!GetParam()) {
        EXPECT_FALSE(xxbackup::replaceFolder(replacement, target, aside, false).has_value());
        EXPECT_EQ(readFile(target + "/index"), "old");
        EXPECT_EQ(readFile(replacement + "/index"), "new");
    }
}

INSTANTIATE_TEST_SUITE_P(ExchangeAndFallback, ServiceBackupSwap, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Exchange" : "TwoRenames"; });

TEST(ServiceBackupFiles, ChunkedCopyReportsEveryReadAndRefusesNonFiles)
{
    TempDir dir;
    const std::string content(7 * 1000 * 1000, 'x');
    writeFile(dir / "big", content);
    std::vector<char> buffer(xxbackup::kCopyChunkSize);
    std::vector<std::uint64_t> reads;
    auto record = [&](std::uint64_t n) {
        reads.push_back(n);
        return true;
    };
    EXPECT_EQ(xxbackup::copyFileInChunks(dir / "big", dir / "copy", buffer, record),
              xxbackup::FileCopyOutcome::copied);
    EXPECT_EQ(readFile(dir / "copy"), content);
    EXPECT_EQ(reads, (std::vector<std::uint64_t>{3145728, 3145728, 708544, 0}));

    // The destination is never overwritten.
    EXPECT_EQ(xxbackup::copyFileInChunks(dir / "big", dir / "copy", buffer, record),
              xxbackup::FileCopyOutcome::failed);

    std::filesystem::create_symlink(dir / "big", dir / "link");
    EXPECT_EQ(xxbackup::copyFileInChunks(dir / "link", dir / "fromLink", buffer, record),
              xxbackup::FileCopyOutcome::failed);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(xxbackup::copyFileInChunks(dir / "pipe", dir / "fromPipe", buffer, record),
              xxbackup::FileCopyOutcome::failed);

    int calls = 0;
    EXPECT_EQ(xxbackup::copyFileInChunks(dir / "big", dir / "stopped", buffer,
                                         [&](std::uint64_t) { return ++calls < 2; }),
              xxbackup::FileCopyOutcome::cancelled);
    EXPECT_EQ(calls, 2);
}
