// Vaults no program of ours writes, made by hand: every command ends, says what is wrong,
// keeps the terminal clean and writes nothing outside its target.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "CliRunner.h"
#include "ReferenceFormat.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kPassword = "GoodPassword1";

class HostileVault : public ::testing::Test {
protected:
    TempDir tmp;
    std::string vol = tmp / "vol";
    std::string store = vol + "/.TovinCoffervale";

    void SetUp() override
    {
        fs::create_directories(vol);
        ASSERT_EQ(cli({"init", "--hint", "h"}).status, 0);
    }

    CliResult cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--volume", vol});
        return runCli(args, {"COFFERVALE_PASSWORD=" + kPassword});
    }

    ref::Index root() { return ref::readRootIndex(readFile(store + "/index"), kPassword); }
    void writeRoot(ref::Index idx)
    {
        sortEntries(idx);
        writeFile(store + "/index",
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
            ref::aesCbc(readFile(ref::objectPath(store, e.id)), key, ref::objectIv(e.id), false), false);
    }
    void writeFolder(const ref::Entry &e, ref::Index idx)
    {
        sortEntries(idx);
        const ref::Bytes key = ref::objectKey(root().objectKey, e.id);
        writeFile(ref::objectPath(store, e.id),
                  ref::aesCbc(ref::buildIndex(idx, false), key, ref::objectIv(e.id), true));
    }
    static void sortEntries(ref::Index &idx)
    {
        std::sort(idx.entries.begin(), idx.entries.end(), [](const ref::Entry &a, const ref::Entry &b) {
            return ref::compareNames(a.name, b.name) < 0;
        });
    }
    // A file entry named name, its content stored under the name "carrier".
    void addNamedFile(const std::string &name)
    {
        writeFile(tmp / "carrier", "payload");
        ASSERT_EQ(cli({"put", tmp / "carrier"}).status, 0);
        ref::Index idx = root();
        for (ref::Entry &e : idx.entries)
            if (e.name == "carrier")
                e.name = name;
        writeRoot(idx);
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

    for (const char *command : {"tree", "ls"}) {
        CliResult r = cli({command});
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("folder /a/b/a cannot be read"), std::string::npos) << command << ": " << r.err;
    }
    CliResult tree = cli({"tree"});
    EXPECT_EQ(tree.out, "a/\n  b/\n    a/\n    f.txt\n");
    CliResult check = cli({"check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("/a/b/a/: shares its folder index with another folder"), std::string::npos)
        << check.out;
    fs::create_directories(tmp / "out");
    EXPECT_EQ(cli({"get", "a", "--to", tmp / "out"}).status, 1);
    EXPECT_EQ(cli({"cp", "a", "copy"}).status, 1);

    CliResult rm = cli({"rm", "-r", "a"});
    EXPECT_EQ(rm.status, 1);
    EXPECT_NE(rm.err.find("folder /a/b/a names the index of a folder above it"), std::string::npos) << rm.err;
    EXPECT_NE(cli({"ls"}).out.find("a/"), std::string::npos)
        << "the looping folder took its ancestor with it";

    CliResult repaired = cli({"check", "--repair"});
    EXPECT_EQ(repaired.status, 0) << repaired.out;
    EXPECT_NE(repaired.out.find("removed the entry /a/b/a/"), std::string::npos) << repaired.out;
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
    ref::Index idx = root();
    for (ref::Entry &e : idx.entries)
        if (e.name == "huge")
            e.size = 1ULL << 62;
    writeRoot(idx);
    EXPECT_EQ(cli({"mv", "huge", "renamed"}).status, 0);
    EXPECT_EQ(cli({"rm", "renamed"}).status, 0);
    EXPECT_EQ(cli({"cat", "other"}).out, "other");
}

TEST_F(HostileVault, FifosInTheStoreAreRefusedNotWaitedOn)
{
    writeFile(tmp / "f", "content");
    ASSERT_EQ(cli({"put", tmp / "f"}).status, 0);
    const ref::Entry f = entry(root(), "f");
    const std::string object = ref::objectPath(store, f.id);
    ASSERT_EQ(unlink(object.c_str()), 0);
    ASSERT_EQ(mkfifo(object.c_str(), 0600), 0);
    EXPECT_EQ(cli({"cat", "f"}).status, 1);

    ASSERT_EQ(unlink((store + "/config").c_str()), 0);
    ASSERT_EQ(mkfifo((store + "/config").c_str(), 0600), 0);
    EXPECT_EQ(cli({"hint"}).out, "\n");  // no hint to be read, and no wait for one

    ASSERT_EQ(rename((store + "/index").c_str(), (tmp / "saved-index").c_str()), 0);
    ASSERT_EQ(mkfifo((store + "/index").c_str(), 0600), 0);
    CliResult ls = cli({"ls"});
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.err.find("is damaged"), std::string::npos) << ls.err;
}

TEST_F(HostileVault, MissingFolderIndexFailsListingAndExport)
{
    ASSERT_EQ(cli({"mkdir", "Docs"}).status, 0);
    writeFile(tmp / "a.txt", "a");
    ASSERT_EQ(cli({"put", tmp / "a.txt", "--to", "Docs"}).status, 0);
    const ref::Entry docs = entry(root(), "Docs/");
    ASSERT_EQ(unlink(ref::objectPath(store, docs.id).c_str()), 0);

    CliResult ls = cli({"ls", "Docs"});
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.err.find("/Docs"), std::string::npos) << ls.err;
    EXPECT_EQ(cli({"ls"}).status, 1);

    fs::create_directories(tmp / "out");
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
    addNamedFile("..");
    addNamedFile("../x");
    addNamedFile("a/b");
    addNamedFile("..\\y");
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
    CliResult check = cli({"check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("unsafe name"), std::string::npos) << check.out;
}

TEST_F(HostileVault, RepairCleansWhatACrashLeft)
{
    writeFile(tmp / "keep", "keep me");
    ASSERT_EQ(cli({"put", tmp / "keep"}).status, 0);
    writeFile(store + "/config.lock", "half");
    writeFile(store + "/index.lock", "half");
    writeFile(store + "/ab/" + std::string(38, '0'), "orphan");
    CliResult repaired = cli({"check", "--repair"});
    EXPECT_EQ(repaired.status, 0) << repaired.out;
    EXPECT_NE(repaired.out.find("repaired: removed the leftover lock file"), std::string::npos)
        << repaired.out;
    EXPECT_NE(repaired.out.find("repaired: removed the orphaned object file"), std::string::npos);
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
    const std::string object = ref::objectPath(store, entry(root(), "doc.txt").id);
    const std::string whole = readFile(object);
    writeFile(object, whole.substr(0, whole.size() / 2 / 16 * 16));
    ref::Index idx = root();
    for (ref::Entry &e : idx.entries)
        if (e.name == "doc.txt")
            e.flags |= 0x1000;  // the mark the write leaves until its close
    writeRoot(idx);
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
    std::string path;
    std::vector<ref::Entry> chain;
    for (int level = 0; level < kLevels; level++) {
        path += (level ? "/" : "") + std::string("d");
        ref::Entry e;
        e.name = "d/";
        e.flags = 2;
        e.id = ref::objectId("dirc", 0, path);
        chain.push_back(e);
    }
    writeFile(tmp / "leaf.txt", "at the bottom");
    ASSERT_EQ(cli({"put", tmp / "leaf.txt"}).status, 0);
    ref::Entry leaf = entry(root(), "leaf.txt");
    for (int level = kLevels - 1; level >= 0; level--) {
        ref::Index inside;
        inside.entries.push_back(level + 1 < kLevels ? chain[level + 1] : leaf);
        writeFolder(chain[level], inside);
    }
    ref::Index top = root();
    top.entries.erase(std::remove_if(top.entries.begin(), top.entries.end(),
                                     [](const ref::Entry &e) { return e.name == "leaf.txt"; }),
                      top.entries.end());
    top.entries.push_back(chain[0]);
    writeRoot(top);

    CliResult tree = cli({"tree"});
    EXPECT_EQ(tree.status, 0) << tree.err.substr(0, 300);
    EXPECT_EQ(std::count(tree.out.begin(), tree.out.end(), '\n'), kLevels + 1);
    EXPECT_EQ(cli({"find", "leaf"}).out, "/" + path + "/leaf.txt\n");
    EXPECT_EQ(cli({"check"}).status, 0);
    fs::create_directories(tmp / "out");
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
    const std::string object = ref::objectPath(store, entry(root(), "minutes.txt").id);
    std::string bytes = readFile(object);
    bytes[bytes.size() - 5000] ^= 0x40;
    writeFile(object, bytes);

    CliResult repaired = cli({"check", "--repair"});
    EXPECT_EQ(repaired.status, 1);
    EXPECT_EQ(repaired.out.find("repaired:"), std::string::npos) << repaired.out;
    EXPECT_NE(repaired.out.find("problem: /minutes.txt"), std::string::npos) << repaired.out;
    EXPECT_NE(repaired.out.find("get --salvage"), std::string::npos) << repaired.out;
    EXPECT_NE(cli({"ls"}).out.find("minutes.txt"), std::string::npos);
    EXPECT_TRUE(fs::exists(object));

    fs::create_directories(tmp / "out");
    EXPECT_EQ(cli({"get", "minutes.txt", "--to", tmp / "out"}).status, 1);
    EXPECT_FALSE(fs::exists(tmp / "out/minutes.txt"));
    CliResult salvaged = cli({"get", "--salvage", "minutes.txt", "--to", tmp / "out"});
    EXPECT_EQ(salvaged.status, 1);
    EXPECT_NE(salvaged.err.find("/minutes.txt: damaged in the vault; what could be read is in"),
              std::string::npos)
        << salvaged.err;
    EXPECT_NE(salvaged.err.find("  bytes "), std::string::npos) << salvaged.err;
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
    std::vector<ref::Entry> chain(45);
    std::string path;
    for (size_t level = 0; level < chain.size(); level++) {
        path += (level ? "/" : "") + d;
        chain[level].name = d + "/";
        chain[level].id = ref::objectId("dirc", 0, path);
    }
    for (size_t level = chain.size(); level-- > 0;) {
        ref::Index inside;
        if (level + 1 < chain.size())
            inside.entries.push_back(chain[level + 1]);
        writeFolder(chain[level], inside);
    }
    ref::Index top = root();
    top.entries.push_back(chain[0]);
    writeRoot(top);
    CliResult check = cli({"check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("its path is longer than the vault allows (4141 bytes, at most 4096)"),
              std::string::npos)
        << check.out.substr(0, 300);
    EXPECT_EQ(check.out.find("problem:", check.out.find("problem:") + 1), std::string::npos) << "reported once";
    CliResult ls = cli({"ls", d});
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.err.find("its path is longer than the 4096 bytes a vault may hold"), std::string::npos)
        << ls.err.substr(0, 300);
}
