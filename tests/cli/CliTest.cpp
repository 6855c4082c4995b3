// coffervale-cli end to end on real folders.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "CliRunner.h"
#include "ReferenceFormat.h"
#include "ScopedEnv.h"
#include "SmallVolume.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

class CliTest : public CliVolumeTest {
protected:
    void init() { ASSERT_EQ(cli({"init", "--hint", "blue door"}).status, 0); }
    // The vault's root index, read as another program would.
    ref::Index rootIndex() const { return ref::readRootIndex(readFile(store() + "/index"), "GoodPassword1"); }
};

}  // namespace

TEST_F(CliTest, RoundTripOfFilesAndFolders)
{
    init();
    writeFile(tmp / "src/a.txt", "alpha");
    writeFile(tmp / "src/deep/er/b.bin", std::string(3 << 20, 'b') + "end");
    writeFile(tmp / "src/empty", "");
    writeFile(tmp / "single.txt", "single");
    EXPECT_EQ(cli({"put", tmp / "src", tmp / "single.txt"}).status, 0);
    // As in the window: folders first, then files by kind; empty files are not shown.
    EXPECT_EQ(cli({"tree"}).out, "src/\n  deep/\n    er/\n      b.bin\n  a.txt\nsingle.txt\n");
    EXPECT_EQ(cli({"find", "b"}).out, "/src/deep/er/b.bin\n");
    EXPECT_EQ(cli({"find", "e"}).out, "/src/deep/\n/src/deep/er/\n/single.txt\n");
    EXPECT_EQ(cli({"find", "nothing"}).status, 1);
    EXPECT_EQ(cli({"cat", "SRC/A.TXT"}).out, "alpha");
    EXPECT_EQ(cli({"hint"}, {"COFFERVALE_PASSWORD="}).out, "blue door\n");

    EXPECT_EQ(cli({"get", "src", "single.txt", "--to", tmp / "out"}).status, 0);
    EXPECT_TRUE(readFile(tmp / "out/src/deep/er/b.bin") == readFile(tmp / "src/deep/er/b.bin"));
    EXPECT_EQ(readFile(tmp / "out/src/empty"), "");
    EXPECT_EQ(readFile(tmp / "out/single.txt"), "single");
    EXPECT_TRUE(exited(cli({"check"}), 0, "", "3 folders, 4 files"));
}

TEST_F(CliTest, PasswordsAndExitStatus)
{
    init();
    writeFile(tmp / "a.txt", "alpha");
    auto volumeBytes = [&] {
        std::map<std::string, std::string> files;
        for (const auto &entry : fs::recursive_directory_iterator(vol))
            files[entry.path()] = entry.is_regular_file() ? readFile(entry.path()) : "";
        return files;
    };
    const auto before = volumeBytes();
    const std::string bad = "COFFERVALE_PASSWORD=BadPassword1";
    CliResult wrong = cli({"ls"}, {bad});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "coffervale-cli: wrong password\n");
    // Commands that would write change no byte of the volume when the password is wrong.
    EXPECT_EQ(cli({"put", tmp / "a.txt"}, {bad}).status, 1);
    EXPECT_EQ(cli({"passwd"}, {bad, "COFFERVALE_NEW_PASSWORD=ThirdPassword3"}).status, 1);
    EXPECT_EQ(cli({"mkdir", "x"}, {bad}).status, 1);
    EXPECT_EQ(volumeBytes(), before);

    writeFile(tmp / "pwfile", "GoodPassword1\n");
    EXPECT_EQ(runCli({"--volume", vol, "--password-file", tmp / "pwfile", "ls"}).status, 0);
    // The option on the command line wins over the environment.
    EXPECT_EQ(cli({"--password-file", tmp / "pwfile", "ls"}, {bad}).status, 0);
    EXPECT_TRUE(exited(runCli({"--volume", vol, "ls"}), 1, "COFFERVALE_PASSWORD"));

    EXPECT_EQ(cli({"init"}).status, 1);  // already there
    EXPECT_EQ(cli({"frobnicate"}).status, 2);
    EXPECT_EQ(cli({"mv", "one"}).status, 2);
    EXPECT_EQ(cli({"ls", "--bogus"}).status, 2);
    EXPECT_EQ(runCli({"ls"}).status, 2);  // no volume
    EXPECT_TRUE(exited(cli({"put", "--help"}), 0, "", "put LOCAL..."));

    fs::create_directories(tmp / "other");
    EXPECT_EQ(runCli({"--volume", tmp / "other", "init", "--hint", ""}, {"COFFERVALE_PASSWORD=abc"}).status,
              1);
    EXPECT_FALSE(fs::exists(tmp / "other/.TovinCoffervale/index"));

    EXPECT_EQ(cli({"passwd"}, {"COFFERVALE_NEW_PASSWORD=ThirdPassword3"}).status, 0);
    EXPECT_EQ(cli({"hint"}).out, "blue door\n");  // kept when no new hint is given
    pw = {"COFFERVALE_PASSWORD=ThirdPassword3"};
    EXPECT_EQ(cli({"passwd", "--hint", "new hint"}, {"COFFERVALE_NEW_PASSWORD=SecondPassword2"}).status, 0);
    EXPECT_EQ(cli({"ls"}).status, 1);
    EXPECT_EQ(cli({"ls"}, {"COFFERVALE_PASSWORD=SecondPassword2"}).status, 0);
    EXPECT_EQ(cli({"hint"}).out, "new hint\n");
}

// A vault the volume cannot give back is not a wrong password, and trying changes nothing.
TEST_F(CliTest, AnUnreadableVaultIsReportedAsSuch)
{
    init();
    const std::string index = store() + "/index";
    const std::string whole = readFile(index);
    writeFile(index, whole.substr(0, 20));  // cut short
    CliResult cut = cli({"ls"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err,
              "coffervale-cli: the vault on " + vol +
                  " is damaged: its index is not one any password could open (this is not a wrong "
                  "password; restore a backup)\n");
    EXPECT_EQ(readFile(index), whole.substr(0, 20));

    writeFile(index, whole);
    // A full volume: the new root index cannot be written, so the old password stays.
    ASSERT_EQ(symlink("/dev/full", (index + ".lock").c_str()), 0);
    CliResult full = cli({"passwd", "--hint", "new"}, {"COFFERVALE_NEW_PASSWORD=OtherPassword2"});
    fs::remove(index + ".lock");
    EXPECT_TRUE(exited(full, 1, "the password was not changed"));
    EXPECT_TRUE(exited(full, 1, strerror(ENOSPC)));
    EXPECT_EQ(full.err.find("wrong password"), std::string::npos) << full.err;
    EXPECT_EQ(readFile(index), whole);
    EXPECT_EQ(cli({"ls"}).status, 0);
    EXPECT_EQ(cli({"hint"}).out, "blue door\n");
}

TEST_F(CliTest, ChangesAndClashes)
{
    init();
    writeFile(tmp / "f.txt", "one");
    ASSERT_EQ(cli({"mkdir", "Docs"}).status, 0);
    ASSERT_EQ(cli({"put", tmp / "f.txt", "--to", "Docs"}).status, 0);
    writeFile(tmp / "f.txt", "two");
    EXPECT_EQ(cli({"put", tmp / "f.txt", "--to", "Docs"}).status, 1);
    EXPECT_EQ(cli({"cat", "Docs/f.txt"}).out, "one");

    EXPECT_EQ(cli({"mkdir", "Docs"}).status, 1);
    EXPECT_EQ(cli({"mkdir", "Other"}).status, 0);
    EXPECT_EQ(cli({"mv", "Docs/f.txt", "Other"}).status, 0);
    EXPECT_EQ(cli({"mv", "Other", "Other/inside"}).status, 1);
    EXPECT_TRUE(exited(cli({"ls", "Other"}), 0, "", "f.txt"));
    EXPECT_EQ(cli({"rm", "Other"}).status, 1);
    EXPECT_EQ(cli({"rm", "-r", "Other", "Docs"}).status, 0);
    EXPECT_EQ(cli({"tree"}).out, "");
    EXPECT_EQ(cli({"rm", "missing"}).status, 1);

    EXPECT_EQ(cli({"settings"}, {"COFFERVALE_PASSWORD="}).out,
              "location  document\nauto      yes\nnumber    5\nfix       diskArea\n");
    EXPECT_EQ(cli({"settings", "set", "location", "appData"}).status, 0);
    EXPECT_EQ(cli({"settings", "set", "auto", "no"}).status, 0);
    EXPECT_EQ(cli({"settings", "set", "number", "0"}).status, 1);
    EXPECT_EQ(cli({"settings", "set", "fix", "sideways"}).status, 2);
    EXPECT_EQ(cli({"settings", "set", "location", "appData"}, {"COFFERVALE_PASSWORD=Wrong1234"}).status, 1);
    EXPECT_EQ(cli({"settings"}).out, "location  appData\nauto      no\nnumber    5\nfix       diskArea\n");

    EXPECT_EQ(cli({"config", "set", "back.number", "3"}).status, 0);
    EXPECT_EQ(cli({"config", "get", "back.number"}, {"COFFERVALE_PASSWORD="}).out, "3\n");
    EXPECT_EQ(cli({"config", "get", "fix.location"}).status, 1);
    EXPECT_EQ(cli({"config", "set", "nodot", "3"}).status, 1);
}

namespace {

// Backups go below HOME, which the child inherits from this process.
class CliBackupTest : public CliTest {
protected:
    std::string home = tmp / "home";
    std::string root = home + "/Documents/TovinUSBENC/Backup";
    ScopedEnv environment;

    void SetUp() override
    {
        CliTest::SetUp();
        environment.set("HOME", home);
        environment.set("XDG_CONFIG_HOME", std::nullopt);
        environment.set("XDG_DATA_HOME", std::nullopt);
    }

    // The names that backups lists.
    std::vector<std::string> listed()
    {
        CliResult r = cli({"backups"}, {"COFFERVALE_PASSWORD="});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> names;
        const std::regex line(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)  +\d+(\.\d)? [KMG]?i?B)");
        std::istringstream lines(r.out);
        for (std::string text; std::getline(lines, text);) {
            std::smatch m;
            EXPECT_TRUE(std::regex_match(text, m, line)) << text;
            names.push_back(m.size() > 1 ? m[1].str() : text);
        }
        return names;
    }
};

}  // namespace

TEST_F(CliBackupTest, BackupListAndRestore)
{
    init();
    writeFile(tmp / "src/a.txt", "alpha");
    writeFile(tmp / "src/deep/b.bin", std::string(5 << 20, 'b'));
    ASSERT_EQ(cli({"put", tmp / "src"}).status, 0);
    CliResult none = cli({"backups"}, {"COFFERVALE_PASSWORD="});
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("No backups in " + root), std::string::npos) << none.err;

    ASSERT_TRUE(exited(cli({"backup"}), 0, "Backed up the vault to " + root + "/"));
    const std::vector<std::string> names = listed();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(snapshotTree(root + "/" + names[0]), snapshotTree(store()));

    // Changed after the backup: password, hint and content.
    ASSERT_EQ(cli({"passwd", "--hint", "later"}, {"COFFERVALE_NEW_PASSWORD=LaterPassword2"}).status, 0);
    pw = {"COFFERVALE_PASSWORD=LaterPassword2"};
    ASSERT_EQ(cli({"rm", "src/a.txt"}).status, 0);

    const auto changed = snapshotTree(vol);
    EXPECT_EQ(cli({"restore", names[0]}, {"COFFERVALE_PASSWORD=GoodPassword1"}).status,
              1);  // not its password now
    EXPECT_EQ(cli({"restore", "2001-01-01 00:00:00"}).status, 1);
    EXPECT_EQ(cli({"restore"}).status, 2);
    EXPECT_EQ(cli({"backup", "extra"}).status, 2);
    // A dated folder that holds no vault is refused and changes nothing.
    writeFile(root + "/2001-01-01 00:00:00/config", "[core]\n");
    EXPECT_TRUE(exited(cli({"restore", "2001-01-01 00:00:00"}), 1, "holds no vault"));
    EXPECT_EQ(snapshotTree(vol), changed);

    ASSERT_TRUE(exited(cli({"restore", names[0]}), 0));
    EXPECT_EQ(cli({"ls"}).status, 1);
    pw = {"COFFERVALE_PASSWORD=GoodPassword1"};
    EXPECT_EQ(cli({"hint"}).out, "blue door\n");
    EXPECT_EQ(cli({"cat", "src/a.txt"}).out, "alpha");
    EXPECT_EQ(cli({"check"}).status, 0);
}

TEST_F(CliBackupTest, RestoreOntoAVolumeWithoutAVault)
{
    init();
    writeFile(tmp / "a.txt", "alpha");
    ASSERT_EQ(cli({"put", tmp / "a.txt"}).status, 0);
    ASSERT_EQ(cli({"backup"}).status, 0);
    const std::vector<std::string> names = listed();
    ASSERT_EQ(names.size(), 1u);
    fs::remove_all(store());
    // Nothing to protect, so no password is asked for.
    ASSERT_TRUE(exited(cli({"restore", names[0]}, {"COFFERVALE_PASSWORD="}), 0));
    EXPECT_EQ(cli({"cat", "a.txt"}).out, "alpha");
}

// put, get, cp and mv run through the service's pipelines: conflicts are answered by
// --on-conflict or on the terminal, failures by --on-error; nothing is ever replaced.
TEST_F(CliTest, ConflictsAreAnsweredByOptionOrOnTheTerminal)
{
    init();
    writeFile(tmp / "f.txt", "first");
    writeFile(tmp / "g.txt", "gee");
    ASSERT_EQ(cli({"put", tmp / "f.txt", tmp / "g.txt"}).status, 0);
    writeFile(tmp / "f.txt", "second");

    EXPECT_TRUE(exited(cli({"put", tmp / "f.txt"}), 1, "f.txt: is already in the vault; nothing replaced"));
    EXPECT_TRUE(exited(cli({"put", tmp / "f.txt", "--on-conflict=skip"}), 0));
    EXPECT_EQ(cli({"put", tmp / "f.txt", "--on-conflict", "rename"}).status, 0);
    EXPECT_EQ(cli({"cat", "f.txt"}).out, "first");
    EXPECT_EQ(cli({"cat", "f(0).txt"}).out, "second");

    // Asked: r renames this one; c (or the end of the input) cancels.
    EXPECT_TRUE(exited(cli({"put", tmp / "f.txt", "--on-conflict=ask"}, {}, "r\n"), 0,
                       "[r]ename to a free name, [s]kip or [c]ancel"));
    EXPECT_EQ(cli({"cat", "f(1).txt"}).out, "second");
    EXPECT_TRUE(exited(cli({"put", tmp / "f.txt", "--on-conflict=ask"}, {}, "c\n"), 1, "cancelled"));
    EXPECT_EQ(cli({"put", tmp / "f.txt", "--on-conflict=ask"}).status, 1);

    // Apply to all: one question for both conflicts; an unknown answer is asked again.
    CliResult all = cli({"put", tmp / "f.txt", tmp / "g.txt", "--on-conflict=ask"}, {}, "x\nR\n");
    EXPECT_EQ(all.status, 0) << all.err;
    size_t questions = 0;
    for (size_t at = all.err.find("[r]ename"); at != std::string::npos; at = all.err.find("[r]ename", at + 1))
        questions++;
    EXPECT_EQ(questions, 2u);  // the unknown answer, then R
    EXPECT_EQ(cli({"cat", "f(2).txt"}).out, "second");
    EXPECT_EQ(cli({"cat", "g(0).txt"}).out, "gee");

    // get never replaces a file on this computer either.
    writeFile(tmp / "out/f.txt", "mine");
    EXPECT_EQ(cli({"get", "f.txt", "--to", tmp / "out"}).status, 1);
    EXPECT_EQ(cli({"get", "F.TXT", "--to", tmp / "out", "--on-conflict=rename"}).status, 0);
    EXPECT_EQ(readFile(tmp / "out/f.txt"), "mine");
    EXPECT_EQ(readFile(tmp / "out/f(0).txt"), "first");
    EXPECT_EQ(cli({"put", tmp / "f.txt", "--on-conflict=overwrite"}).status, 2);
}

TEST_F(CliTest, FailuresAreSkippedOrStopTheTransfer)
{
    init();
    writeFile(tmp / "good.txt", "good");
    const CliResult skipped = cli({"put", tmp / "missing.txt", tmp / "good.txt"});
    EXPECT_TRUE(exited(skipped, 1, "missing.txt: could not be stored"));
    EXPECT_TRUE(exited(skipped, 1, "reading " + (tmp / "missing.txt") + " failed: No such file or directory"));
    EXPECT_EQ(cli({"cat", "good.txt"}).out, "good");

    ASSERT_EQ(cli({"rm", "good.txt"}).status, 0);
    EXPECT_TRUE(exited(cli({"put", tmp / "missing.txt", tmp / "good.txt", "--on-error=stop"}), 1,
                       "stopped at the first failure"));
    EXPECT_EQ(cli({"cat", "good.txt"}).status, 1);

    EXPECT_TRUE(exited(cli({"put", tmp / "missing.txt", tmp / "good.txt", "--on-error=ask"}, {}, "s\n"), 1,
                       "[s]kip it or [c]ancel"));
    EXPECT_EQ(cli({"cat", "good.txt"}).out, "good");
}

TEST_F(CliTest, CopyMoveAndRemoveInsideTheVault)
{
    init();
    writeFile(tmp / "src/a.txt", "alpha");
    writeFile(tmp / "src/empty", "");
    writeFile(tmp / "src/.hidden", "left out");
    writeFile(tmp / "b.txt", "bee");
    ASSERT_EQ(cli({"put", tmp / "src", tmp / "b.txt"}).status, 0);
    EXPECT_EQ(cli({"cat", "src/.hidden"}).status, 1);
    ASSERT_EQ(cli({"mkdir", "Dest"}).status, 0);

    EXPECT_EQ(cli({"cp", "src", "b.txt", "Dest"}).status, 0);
    EXPECT_EQ(cli({"cat", "Dest/src/a.txt"}).out, "alpha");
    EXPECT_EQ(cli({"cat", "Dest/src/empty"}).status, 0);  // empty files travel too
    EXPECT_EQ(cli({"cat", "src/a.txt"}).out, "alpha");
    EXPECT_TRUE(exited(cli({"cp", "Dest", "Dest/src"}), 1, "Dest: a folder cannot go into itself; skipped"));
    EXPECT_EQ(cli({"cp", "src", "Dest"}).status, 1);  // already there
    EXPECT_EQ(cli({"cp", "src", "Dest", "--on-conflict=rename"}).status, 0);
    EXPECT_EQ(cli({"cat", "Dest/src(0)/a.txt"}).out, "alpha");

    // mv into a folder moves; mv to a new name renames where the entry lies.
    EXPECT_EQ(cli({"mv", "src", "b.txt", "Dest/src(0)"}).status, 0);
    EXPECT_EQ(cli({"tree"}).out,
              "Dest/\n  src/\n    a.txt\n  src(0)/\n    src/\n      a.txt\n    a.txt\n    b.txt\n  b.txt\n");
    EXPECT_EQ(cli({"cat", "Dest/src(0)/src/empty"}).status, 0);
    EXPECT_EQ(cli({"mv", "Dest/b.txt", "Dest/c.txt"}).status, 0);
    EXPECT_EQ(cli({"cat", "Dest/c.txt"}).out, "bee");
    EXPECT_EQ(cli({"mv", "Dest/c.txt", "Nowhere/d.txt", "Dest"}).status, 1);

    // rm -r removes what the store holds, empty files included; rm alone only empty folders.
    EXPECT_EQ(cli({"rm", "Dest"}).status, 1);
    EXPECT_EQ(cli({"rm", "-r", "Dest"}).status, 0);
    EXPECT_EQ(cli({"tree"}).out, "");
    EXPECT_TRUE(exited(cli({"check"}), 0, "", "0 folders, 0 files"));
}

// mkdir and mv to a new name go through the service, whose name rules are stricter than the
// store's; a rename stays in its folder.
TEST_F(CliTest, MkdirAndRenameFollowTheServiceRules)
{
    init();
    writeFile(tmp / "report.pdf", "pdf");
    writeFile(tmp / "README", "read me");
    writeFile(tmp / "empty", "");
    ASSERT_EQ(cli({"put", tmp / "report.pdf", tmp / "README", tmp / "empty"}).status, 0);

    EXPECT_TRUE(exited(cli({"mkdir", "a:b"}), 1, "a:b: Invalid name"));
    EXPECT_EQ(cli({"mkdir", "Missing/x"}).status, 1);
    EXPECT_EQ(cli({"mkdir", "/"}).status, 1);
    ASSERT_EQ(cli({"mkdir", "Docs/"}).status, 0);
    ASSERT_EQ(cli({"mkdir", "/Docs/Old"}).status, 0);
    EXPECT_EQ(cli({"mkdir", "DOCS"}).status, 1);

    // A file keeps its extension when the new name has none; an empty file renames too.
    EXPECT_EQ(cli({"mv", "report.pdf", "summary"}).status, 0);
    EXPECT_EQ(cli({"cat", "summary.pdf"}).out, "pdf");
    EXPECT_EQ(cli({"mv", "README", "READ"}).status, 0);
    EXPECT_EQ(cli({"cat", "READ"}).out, "read me");
    EXPECT_EQ(cli({"mv", "empty", "vacant"}).status, 0);
    EXPECT_EQ(cli({"cat", "vacant"}).status, 0);
    EXPECT_EQ(cli({"mv", "Docs", "Papers"}).status, 0);
    EXPECT_TRUE(exited(cli({"ls", "Papers"}), 0, "", "Old/"));

    // Refused without a change: a name the service does not allow, a name taken (also in
    // another case), and a new name in another folder.
    EXPECT_EQ(cli({"mv", "READ", "x:y"}).status, 1);
    EXPECT_TRUE(exited(cli({"mv", "READ", "SUMMARY.PDF"}), 1, "already in the vault"));
    EXPECT_TRUE(exited(cli({"mv", "READ", "Papers/READ2"}), 1, "must stay in the folder"));
    EXPECT_EQ(cli({"mv", "missing", "other"}).status, 1);
    EXPECT_EQ(cli({"tree"}).out, "Papers/\n  Old/\nsummary.pdf\nREAD\n");
    EXPECT_EQ(cli({"check"}).status, 0);
}

// A stick full to its last block: removing from it never leaves an entry whose object is gone,
// and many small files of one folder go together, as no one of them frees enough alone.
TEST_F(CliTest, RemovingFromAFullStickLeavesNoEntryWithoutItsObject)
{
    SmallVolume small("size=2m");
    if (!small.mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root): " << strerror(errno);
    vol = small.path();
    init();
    std::vector<std::string> removed;
    for (int i = 0; i < 200; i++) {
        writeFile(tmp / ("many/file-" + std::to_string(i)), std::string(1000, (char)('a' + i % 26)));
        if (i < 8)
            removed.push_back("many/file-" + std::to_string(i));
    }
    ASSERT_TRUE(exited(cli({"put", tmp / "many"}), 0));
    small.fillUp();
    std::vector<std::string> rm = {"rm"};
    rm.insert(rm.end(), removed.begin(), removed.end());
    EXPECT_TRUE(exited(cli(rm), 0));
    EXPECT_TRUE(exited(cli({"check"}), 0, "", "192 files")) << "an entry lost its object";
    EXPECT_EQ(cli({"cat", "many/file-8"}).out, std::string(1000, 'i'));
    EXPECT_TRUE(exited(cli({"rm", "-r", "many"}), 0));
    EXPECT_TRUE(exited(cli({"check"}), 0, "", "0 files"));
}

// On a full stick every failure says what failed, on which file and why, in words, and each
// item only its own reasons; the service's log lines (the design's texts) stay in the log.
TEST_F(CliTest, FailuresNameTheirCauseAndTheirFiles)
{
    SmallVolume small("size=1m");
    if (!small.mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root): " << strerror(errno);
    vol = small.path();
    init();
    writeFile(tmp / "kept.txt", "kept");
    ASSERT_TRUE(exited(cli({"put", tmp / "kept.txt"}), 0));
    small.fillUp();
    auto noInternalTexts = [](const CliResult &r) {
        return r.err.find("fs_") == std::string::npos && r.err.find("\xe5\x88\x9b\xe5\xbb\xba") == std::string::npos &&
            r.err.find("\xe6\x96\x87\xe4\xbb\xb6") == std::string::npos;
    };

    CliResult mkdir = cli({"mkdir", "New"});
    EXPECT_TRUE(exited(mkdir, 1, "New: the folder could not be made: the drive is full"));
    EXPECT_TRUE(noInternalTexts(mkdir)) << mkdir.err;

    writeFile(tmp / "R/S/deep.txt", "deep");
    CliResult folder = cli({"put", tmp / "R"});
    EXPECT_TRUE(exited(folder, 1, "could not be made in the vault: the drive is full")) << folder.err;
    EXPECT_TRUE(noInternalTexts(folder)) << folder.err;

    writeFile(tmp / "a1", std::string(200000, 'a'));
    writeFile(tmp / "a2", std::string(200000, 'b'));
    CliResult two = cli({"put", tmp / "a1", tmp / "a2"});
    EXPECT_TRUE(exited(two, 1, "the drive is full"));
    const size_t second = two.err.find("a2: could not be stored");
    ASSERT_NE(second, std::string::npos) << two.err;
    EXPECT_EQ(two.err.find("/a1", second), std::string::npos) << "the first item's reasons again:\n" << two.err;
    EXPECT_TRUE(noInternalTexts(two)) << two.err;

    const ref::Index idx = rootIndex();
    for (const ref::Entry &e : idx.entries)
        if (e.name == "kept.txt")
            fs::remove(ref::objectPath(store(), e.id));
    CliResult get = cli({"get", "kept.txt", "--to", tmp / "out"});
    EXPECT_TRUE(exited(get, 1, "/kept.txt does not read back whole from the vault")) << get.err;
    EXPECT_TRUE(noInternalTexts(get)) << get.err;
}
