// Vaults no program of ours writes, made by hand: every command ends, says what is wrong,
// keeps the terminal clean and writes nothing outside its target.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "CliRunner.h"
#include "ReferenceFormat.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kPassword = "GoodPassword1";

class HostileVault : public CliVolumeTest {
protected:
    void SetUp() override
    {
        CliVolumeTest::SetUp();
        ASSERT_EQ(cli({"init", "--hint", "h"}).status, 0);
    }

    ref::Index root() { return ref::readRootIndex(readFile(store() + "/index"), kPassword); }
    void writeRoot(ref::Index idx)
    {
        sortEntries(idx);
        writeFile(store() + "/index",
                  ref::aesCbc(ref::buildIndex(idx, true), ref::rootKey(kPassword), ref::rootIv(), true));
    }
    const ref::Entry &entry(const ref::Index &idx, const std::string &name)
    {
        for (const ref::Entry &e : idx.entries)
            if (e.name == name)
                return e;
        throw std::runtime_error("no entry " + name);
    }
    ref::Index folder(const ref::Entry &e)
    {
        const ref::Bytes key = ref::objectKey(root().objectKey, e.id);
        return ref::parseIndex(
            ref::aesCbc(readFile(ref::objectPath(store(), e.id)), key, ref::objectIv(e.id), false), false);
    }
    void writeFolder(const ref::Entry &e, ref::Index idx)
    {
        sortEntries(idx);
        const ref::Bytes key = ref::objectKey(root().objectKey, e.id);
        writeFile(ref::objectPath(store(), e.id),
                  ref::aesCbc(ref::buildIndex(idx, false), key, ref::objectIv(e.id), true));
    }
    static void sortEntries(ref::Index &idx)
    {
        std::sort(idx.entries.begin(), idx.entries.end(), [](const ref::Entry &a, const ref::Entry &b) {
            return ref::compareNames(a.name, b.name) < 0;
        });
    }
    // Changes the root's entry named name as no program of ours would.
    void editEntry(const std::string &name, const std::function<void(ref::Entry &)> &edit)
    {
        ref::Index idx = root();
        for (ref::Entry &e : idx.entries)
            if (e.name == name)
                edit(e);
        writeRoot(idx);
    }
    // A file entry named name, its content stored under the name "carrier".
    void addNamedFile(const std::string &name)
    {
        writeFile(tmp / "carrier", "payload");
        ASSERT_EQ(cli({"put", tmp / "carrier"}).status, 0);
        editEntry("carrier", [&](ref::Entry &e) { e.name = name; });
    }
    // levels folders named name, each in the one before, the first in the root; the root's
    // entry leaf, when named, moves into the deepest. Returns the deepest folder's path.
    std::string plantChain(const std::string &name, size_t levels, const std::string &leaf = "")
    {
        std::string path;
        std::vector<ref::Entry> chain(levels);
        for (size_t level = 0; level < levels; level++) {
            path += (level ? "/" : "") + name;
            chain[level].name = name + "/";
            chain[level].id = ref::objectId("dirc", 0, path);
        }
        ref::Index top = root();
        for (size_t level = levels; level-- > 0;) {
            ref::Index inside;
            if (level + 1 < levels || !leaf.empty())
                inside.entries.push_back(level + 1 < levels ? chain[level + 1] : entry(top, leaf));
            writeFolder(chain[level], inside);
        }
        std::erase_if(top.entries, [&](const ref::Entry &e) { return e.name == leaf; });
        top.entries.push_back(chain[0]);
        writeRoot(top);
        return path;
    }
};

}  // namespace

TEST_F(HostileVault, FolderCycleIsReportedNotFollowedAndRepaired)
{
    // Short names: only the folder ids can tell the walk it went round.
    ASSERT_EQ(cli({"mkdir", "a"}).status, 0);
    ASSERT_EQ(cli({"mkdir", "a/b"}).status, 0);
    writeFile(tmp / "f.txt", "in b");
    ASSERT_EQ(cli({"put", tmp / "f.txt", "--to", "a/b"}).status, 0);
    const ref::Entry aEntry = entry(root(), "a/");
    const ref::Entry bEntry = entry(folder(aEntry), "b/");
    ref::Index inB = folder(bEntry);
    inB.entries.push_back(aEntry);  // b names a again: a two-folder cycle
    writeFolder(bEntry, inB);

    for (const char *command : {"tree", "ls"})
        EXPECT_TRUE(exited(cli({command}), 1, "folder /a/b/a cannot be read")) << command;
    EXPECT_EQ(cli({"tree"}).out, "a/\n  b/\n    a/\n    f.txt\n");
    EXPECT_TRUE(exited(cli({"check"}), 1, "", "/a/b/a/: shares its folder index with another folder"));
    EXPECT_EQ(cli({"get", "a", "--to", tmp / "out"}).status, 1);
    EXPECT_EQ(cli({"cp", "a", "copy"}).status, 1);

    EXPECT_TRUE(exited(cli({"rm", "-r", "a"}), 1, "folder /a/b/a names the index of a folder above it"));
    EXPECT_NE(cli({"ls"}).out.find("a/"), std::string::npos)
        << "the looping folder took its ancestor with it";

    EXPECT_TRUE(exited(cli({"check", "--repair"}), 0, "", "removed the entry /a/b/a/"));
    EXPECT_EQ(cli({"check"}).status, 0);
    EXPECT_EQ(cli({"rm", "-r", "a"}).status, 0);
    EXPECT_EQ(cli({"ls"}).out, "");
    EXPECT_EQ(cli({"check"}).status, 0);
}

TEST_F(HostileVault, AbsurdSizeIsRemovedAndMovedAtOnce)
{
    writeFile(tmp / "huge", "small really");
    writeFile(tmp / "other", "other");
    ASSERT_EQ(cli({"put", tmp / "huge", tmp / "other"}).status, 0);
    editEntry("huge", [](ref::Entry &e) { e.size = 1ULL << 62; });
    EXPECT_EQ(cli({"mv", "huge", "renamed"}).status, 0);
    EXPECT_EQ(cli({"rm", "renamed"}).status, 0);
    EXPECT_EQ(cli({"cat", "other"}).out, "other");
}

TEST_F(HostileVault, FifosInTheStoreAreRefusedNotWaitedOn)
{
    writeFile(tmp / "f", "content");
    ASSERT_EQ(cli({"put", tmp / "f"}).status, 0);
    const ref::Entry f = entry(root(), "f");
    const std::string object = ref::objectPath(store(), f.id);
    ASSERT_EQ(unlink(object.c_str()), 0);
    ASSERT_EQ(mkfifo(object.c_str(), 0600), 0);
    EXPECT_EQ(cli({"cat", "f"}).status, 1);

    ASSERT_EQ(unlink((store() + "/config").c_str()), 0);
    ASSERT_EQ(mkfifo((store() + "/config").c_str(), 0600), 0);
    EXPECT_EQ(cli({"hint"}).out, "\n");  // no hint to be read, and no wait for one

    ASSERT_EQ(rename((store() + "/index").c_str(), (tmp / "saved-index").c_str()), 0);
    ASSERT_EQ(mkfifo((store() + "/index").c_str(), 0600), 0);
    EXPECT_TRUE(exited(cli({"ls"}), 1, "is damaged"));
}

TEST_F(HostileVault, MissingFolderIndexFailsListingAndExport)
{
    ASSERT_EQ(cli({"mkdir", "Docs"}).status, 0);
    writeFile(tmp / "a.txt", "a");
    ASSERT_EQ(cli({"put", tmp / "a.txt", "--to", "Docs"}).status, 0);
    const ref::Entry docs = entry(root(), "Docs/");
    ASSERT_EQ(unlink(ref::objectPath(store(), docs.id).c_str()), 0);

    EXPECT_TRUE(exited(cli({"ls", "Docs"}), 1, "/Docs"));
    EXPECT_EQ(cli({"ls"}).status, 1);
    EXPECT_EQ(cli({"get", "Docs", "--to", tmp / "out"}).status, 1);
    EXPECT_FALSE(fs::exists(tmp / "out/Docs")) << "a damaged folder was written as an empty one";

    EXPECT_EQ(cli({"rm", "-r", "Docs"}).status, 0);  // a broken folder can still be removed
    EXPECT_EQ(cli({"check", "--repair"}).status, 0);
}

TEST_F(HostileVault, ControlCharactersInNamesAreEscaped)
{
    addNamedFile("evil\x1b[2J\nforged line");
    for (const char *command : {"ls", "tree"}) {
        CliResult r = cli({command});
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << command;
        EXPECT_NE(r.out.find("evil\\x1b[2J\\nforged line"), std::string::npos) << command << ": " << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << command;
    }
    CliResult find = cli({"find", "evil"});
    EXPECT_EQ(find.out, "/evil\\x1b[2J\\nforged line\n");
}

TEST_F(HostileVault, NamesThatClimbOrSplitAreNeitherShownNorExported)
{
    for (const char *name : {"..", "../x", "a/b", "..\\y"})
        addNamedFile(name);
    writeFile(tmp / "ok.txt", "fine");
    ASSERT_EQ(cli({"put", tmp / "ok.txt"}).status, 0);
    CliResult ls = cli({"ls"});
    EXPECT_EQ(ls.out.find(".."), std::string::npos) << ls.out;
    EXPECT_EQ(ls.out.find("a/b"), std::string::npos) << ls.out;
    fs::create_directories(tmp / "out/inner");
    EXPECT_EQ(cli({"get", "/", "--to", tmp / "out/inner"}).status, 1);
    // Only the good file is written, and only inside the target.
    EXPECT_EQ(readFile(tmp / "out/inner/ok.txt"), "fine");
    size_t files = 0;
    for (auto &e : fs::recursive_directory_iterator(tmp / "out"))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1u);
    EXPECT_TRUE(exited(cli({"check"}), 1, "", "unsafe name"));
}

TEST_F(HostileVault, RepairCleansWhatACrashLeft)
{
    writeFile(tmp / "keep", "keep me");
    ASSERT_EQ(cli({"put", tmp / "keep"}).status, 0);
    writeFile(store() + "/config.lock", "half");
    writeFile(store() + "/index.lock", "half");
    writeFile(store() + "/ab/" + std::string(38, '0'), "orphan");
    const CliResult repaired = cli({"check", "--repair"});
    EXPECT_TRUE(exited(repaired, 0, "", "repaired: removed the leftover lock file"));
    EXPECT_TRUE(exited(repaired, 0, "", "repaired: removed the orphaned object file"));
    EXPECT_EQ(cli({"check"}).status, 0);
    EXPECT_EQ(cli({"cat", "keep"}).out, "keep me");
    EXPECT_EQ(cli({"settings", "set", "number", "4"}).status, 0);
}

TEST_F(HostileVault, AnUnfinishedFileIsReplacedByTheNextPut)
{
    writeFile(tmp / "doc.txt", std::string(300000, 'd'));
    writeFile(tmp / "kept.txt", "kept");
    ASSERT_EQ(cli({"put", tmp / "doc.txt", tmp / "kept.txt"}).status, 0);
    // As a pulled stick leaves it: the entry is there, its content cut short.
    const std::string object = ref::objectPath(store(), entry(root(), "doc.txt").id);
    const std::string whole = readFile(object);
    writeFile(object, whole.substr(0, whole.size() / 2 / 16 * 16));
    editEntry("doc.txt", [](ref::Entry &e) { e.flags |= 0x1000; });  // left by the write until its close
    EXPECT_NE(cli({"ls"}).out.find("unfinished  "), std::string::npos);

    CliResult again = cli({"put", tmp / "doc.txt", tmp / "kept.txt"});
    EXPECT_EQ(again.status, 1) << again.err;  // kept.txt is a real clash and is refused
    EXPECT_EQ(cli({"cat", "doc.txt"}).out, std::string(300000, 'd'));
    EXPECT_EQ(cli({"cat", "kept.txt"}).out, "kept");
    EXPECT_EQ(cli({"check"}).status, 0);
}

TEST_F(HostileVault, DeepChainListsExportsAndRemoves)
{
    // As deep as a script might nest folders: every command walks the chain whole, by folder
    // ids, and ends (how fast is measured by hand, not here).
    constexpr int kLevels = 400;
    writeFile(tmp / "leaf.txt", "at the bottom");
    ASSERT_EQ(cli({"put", tmp / "leaf.txt"}).status, 0);
    const std::string path = plantChain("d", kLevels, "leaf.txt");

    CliResult tree = cli({"tree"});
    EXPECT_EQ(tree.status, 0) << tree.err.substr(0, 300);
    EXPECT_EQ(std::count(tree.out.begin(), tree.out.end(), '\n'), kLevels + 1);
    EXPECT_EQ(cli({"find", "leaf"}).out, "/" + path + "/leaf.txt\n");
    EXPECT_EQ(cli({"check"}).status, 0);
    EXPECT_EQ(cli({"get", "d", "--to", tmp / "out"}).status, 0);
    EXPECT_EQ(readFile(tmp / ("out/" + path + "/leaf.txt")), "at the bottom");
    EXPECT_EQ(cli({"rm", "-r", "d"}).status, 0);
    EXPECT_EQ(cli({"ls"}).out, "");
    EXPECT_EQ(cli({"check"}).status, 0);
}

// A file damaged after it was stored (one byte changed near the end of its object) is no
// interrupted write: repair leaves it, check names it, and get --salvage writes out what still
// reads, saying which bytes are lost or in doubt.
TEST_F(HostileVault, RepairKeepsADamagedFileAndSalvageWritesWhatReads)
{
    std::string text;
    for (int i = 0; text.size() < 3000000; i++)
        text += "line " + std::to_string(i * 7919 % 100003) + " of the minutes\n";
    writeFile(tmp / "minutes.txt", text);
    ASSERT_EQ(cli({"put", tmp / "minutes.txt"}).status, 0);
    const std::string object = ref::objectPath(store(), entry(root(), "minutes.txt").id);
    std::string bytes = readFile(object);
    bytes[bytes.size() - 5000] ^= 0x40;
    writeFile(object, bytes);

    const CliResult repaired = cli({"check", "--repair"});
    EXPECT_TRUE(exited(repaired, 1, "", "problem: /minutes.txt"));
    EXPECT_TRUE(exited(repaired, 1, "", "get --salvage"));
    EXPECT_EQ(repaired.out.find("repaired:"), std::string::npos) << repaired.out;
    EXPECT_NE(cli({"ls"}).out.find("minutes.txt"), std::string::npos);
    EXPECT_TRUE(fs::exists(object));

    EXPECT_EQ(cli({"get", "minutes.txt", "--to", tmp / "out"}).status, 1);
    EXPECT_FALSE(fs::exists(tmp / "out/minutes.txt"));
    const CliResult salvaged = cli({"get", "--salvage", "minutes.txt", "--to", tmp / "out"});
    EXPECT_TRUE(exited(salvaged, 1, "/minutes.txt: damaged in the vault; what could be read is in"));
    EXPECT_TRUE(exited(salvaged, 1, "  bytes "));
    const std::string copy = readFile(tmp / "out/minutes.txt");
    ASSERT_EQ(copy.size(), text.size());
    EXPECT_EQ(copy.substr(0, 2 << 20), text.substr(0, 2 << 20)) << "the blocks before the damage";
}

// Sixteen names of 255 bytes fill the path limit: every command walks such a vault to its
// end and none makes a longer path; a vault another program made deeper is reported by check,
// and the listing says why it stops.
TEST_F(HostileVault, WritersAndWalkersAgreeOnThePathLimit)
{
    const std::string n(255, 'n');
    std::string deepest;
    for (int level = 0; level < 16; level++) {
        deepest += "/" + n;
        ASSERT_EQ(cli({"mkdir", deepest}).status, 0) << level;
    }
    EXPECT_TRUE(exited(cli({"mkdir", deepest + "/x"}), 1, "too long for the vault"));
    writeFile(tmp / "x", "x");
    EXPECT_TRUE(exited(cli({"put", tmp / "x", "--to", deepest}), 1, "too long for the vault"));
    EXPECT_TRUE(exited(cli({"ls", deepest}), 0));
    CliResult tree = cli({"tree"});
    EXPECT_EQ(tree.status, 0) << tree.err.substr(0, 300);
    EXPECT_EQ(std::count(tree.out.begin(), tree.out.end(), '\n'), 16);
    ASSERT_EQ(cli({"mkdir", "/a"}).status, 0);
    EXPECT_TRUE(exited(cli({"mv", n, "a"}), 1, "too long for the vault"));
    EXPECT_TRUE(exited(cli({"ls", deepest}), 0)) << "the source of a failed move stays";
    EXPECT_TRUE(exited(cli({"check"}), 0));
    EXPECT_TRUE(exited(cli({"rm", "-r", n}), 0));
    EXPECT_EQ(cli({"ls"}).out.find(n), std::string::npos);

    // 45 levels of 100-byte names: past the limit at level 41, 4,141 bytes.
    const std::string d(100, 'd');
    plantChain(d, 45);
    const CliResult check = cli({"check"});
    EXPECT_TRUE(
        exited(check, 1, "", "its path is longer than the vault allows (4141 bytes, at most 4096)"));
    EXPECT_EQ(check.out.find("problem:", check.out.find("problem:") + 1), std::string::npos) << "reported once";
    EXPECT_TRUE(exited(cli({"ls", d}), 1, "its path is longer than the 4096 bytes a vault may hold"));
}
