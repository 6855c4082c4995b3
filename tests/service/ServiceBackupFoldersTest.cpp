// Where backups go (the XDG folders), which names are backups, the chunked file copy, and
// the folder swap of a restore in both of its forms.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "ScopedEnv.h"
#include "TempDir.h"
#include "XXBackupFiles.h"
#include "XXBackupFolders.h"

TEST(ServiceBackupFolders, DocumentsFolderFromTheUserDirsFile)
{
    const std::pair<const char *, const char *> rows[] = {
        {"# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n", "/home/u/Papers"},
        {"  XDG_DOCUMENTS_DIR = \"/srv/docs\"", "/srv/docs"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"", "/home/u/My \"Docs\""},
        {"XDG_DOCUMENTS_DIR=\"$HOME\"", "/home/u"},
        // The last valid line wins; relative, unquoted, unterminated and other keys are ignored.
        {"XDG_DOCUMENTS_DIR=\"/a\"\nXDG_DOCUMENTS_DIR=\"/b\"\n", "/b"},
        {"XDG_DOCUMENTS_DIR=\"Docs\"", ""},
        {"XDG_DOCUMENTS_DIR=/plain", ""},
        {"XDG_DOCUMENTS_DIR=\"/open", ""},
        {"XDG_DOCUMENTS_DIRX=\"/x\"\nXDG_DOWNLOAD_DIR=\"/d\"", ""},
    };
    for (const auto &[text, expected] : rows)
        EXPECT_EQ(xxbackup::documentsFolderFromUserDirs(text, "/home/u"), expected) << text;
}

TEST(ServiceBackupFolders, BackupRootFollowsTheLocationAndTheEnvironment)
{
    TempDir home;
    ScopedEnv env;
    env.set("HOME", home.path());
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("XDG_DATA_HOME", std::nullopt);

    EXPECT_EQ(xxbackup::backupRootForLocation(0), home / "Documents/TovinUSBENC/Backup");
    EXPECT_EQ(xxbackup::backupRootForLocation(1), home / ".local/share/TovinUSBENC/Backup");
    // Any other location reads back as the data folder, as the setting's getter gives it.
    EXPECT_EQ(xxbackup::backupRootForLocation(7), xxbackup::backupRootForLocation(1));

    writeFile(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(xxbackup::userDocumentsFolder(), home / "Dokumente");
    env.set("XDG_CONFIG_HOME", home / "cfg");
    EXPECT_EQ(xxbackup::userDocumentsFolder(), home / "Documents");
    env.set("XDG_DATA_HOME", home / "data");
    EXPECT_EQ(xxbackup::backupRootForLocation(1), home / "data/TovinUSBENC/Backup");
    env.set("XDG_DATA_HOME", "data");  // not absolute: ignored
    EXPECT_EQ(xxbackup::userDataFolder(), home / ".local/share");
}

TEST(ServiceBackupFolders, OnlyRealDatesNameBackups)
{
    // The clock's time points end in 2262.
    for (const char *name : {"2026-12-05 16:20:31", "2261-12-31 23:59:59"})
        EXPECT_TRUE(xxbackup::isBackupFolderName(name)) << name;
    for (const char *name :
         {"", "notes", "2026-02-30 10:00:00", "2026-12-05 16:20:31 copy", "2999-01-01 00:00:00"})
        EXPECT_FALSE(xxbackup::isBackupFolderName(name)) << name;
}

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
    using xxbackup::copyFileInChunks;
    using Outcome = xxbackup::FileCopyOutcome;
    EXPECT_EQ(copyFileInChunks(dir / "big", dir / "copy", buffer, record), Outcome::copied);
    EXPECT_EQ(readFile(dir / "copy"), content);
    EXPECT_EQ(reads, (std::vector<std::uint64_t>{3145728, 3145728, 708544, 0}));

    // The destination is never overwritten, and a link or a pipe is no file to copy.
    std::filesystem::create_symlink(dir / "big", dir / "link");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    const std::pair<const char *, const char *> refused[] = {
        {"big", "copy"}, {"link", "new1"}, {"pipe", "new2"}};
    for (const auto &[source, destination] : refused)
        EXPECT_EQ(copyFileInChunks(dir / source, dir / destination, buffer, record), Outcome::failed)
            << source;
    EXPECT_EQ(readFile(dir / "copy"), content);
}

class ServiceBackupSwap : public ::testing::TestWithParam<bool> {
protected:
    TempDir volume;
    std::string target = volume / "store";
    std::string replacement = volume / "store.new";
    std::string aside = volume / "store.old";

    std::optional<std::string> swap()
    {
        return xxbackup::replaceFolder(replacement, target, aside, GetParam());
    }
};

TEST_P(ServiceBackupSwap, FillsReplacesOrLeavesTheTargetWhole)
{
    // A missing target is simply filled.
    writeFile(replacement + "/index", "first");
    EXPECT_EQ(swap(), std::string());
    EXPECT_EQ(readFile(target + "/index"), "first");
    EXPECT_FALSE(std::filesystem::exists(replacement));

    // Nothing to swap in: neither form may lose or move the target.
    EXPECT_FALSE(swap().has_value());
    EXPECT_EQ(readFile(target + "/index"), "first");
    EXPECT_FALSE(std::filesystem::exists(aside));

    writeFile(replacement + "/index", "new");
    writeFile(replacement + "/ab/cdef", "object");
    const std::optional<std::string> previous = swap();
    ASSERT_TRUE(previous.has_value());
    EXPECT_EQ(snapshotTree(target),
              (std::vector<std::pair<std::string, std::string>>{{"ab/cdef", "object"}, {"index", "new"}}));
    EXPECT_EQ(readFile(*previous + "/index"), "first");
    EXPECT_FALSE(std::filesystem::exists(GetParam() ? aside : replacement));

    // The aside name still taken by the previous folder: the first rename of the fallback
    // fails, and both folders stay where they were.
    if (!GetParam()) {
        writeFile(replacement + "/index", "newer");
        EXPECT_FALSE(swap().has_value());
        EXPECT_EQ(readFile(target + "/index"), "new");
        EXPECT_EQ(readFile(replacement + "/index"), "newer");
    }
}

INSTANTIATE_TEST_SUITE_P(ExchangeAndFallback, ServiceBackupSwap, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Exchange" : "TwoRenames"; });
