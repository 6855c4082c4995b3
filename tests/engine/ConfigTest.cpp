// The configuration file: reading, key rules and rewriting, cross-checked with git's reader.
#include <sys/stat.h>

#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include "HeldLock.h"
#include "TempDir.h"
#include "config.h"

namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

int collect(const char *name, const char *value, void *data)
{
    static_cast<Values *>(data)->emplace_back(name, value ? value : "<bare>");
    return 0;
}

Values readAll(const std::string &path)
{
    Values out;
    config_from_file(collect, path.c_str(), &out);
    return out;
}

std::string gitGet(const std::string &file, const std::string &key)
{
    std::string cmd = "git config -f '" + file + "' --get '" + key + "' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    pclose(p);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

struct ConfigFile : ::testing::Test {
    TempDir dir;
    std::string path = dir / "config";
};

}  // namespace

using EngineConfig = ConfigFile;

TEST_F(EngineConfig, ReadsSectionsValuesAndEscapes)
{
    writeFile(path,
              "\xEF\xBB\xBF# comment\n[Core]\r\n\tPrompt = x\r\n"
              "[backup \"Sub\\\"Q\"]\n  location=  \"  two  \" and  three #note\n"
              "[auto]\nbackup = a\\tb\\n\\\\\\\"c\nbare\n; done\n"
              "[cont]\nvalue = one\\\ntwo\n");
    EXPECT_EQ(readAll(path), (Values{{"core.prompt", "x"},
                                     {"backup.Sub\"Q.location", "  two   and  three"},
                                     {"auto.backup", "a\tb\n\\\"c"},
                                     {"auto.bare", "<bare>"},
                                     {"cont.value", "onetwo"}}));
}

TEST_F(EngineConfig, SyntaxErrorsEndTheReadQuietly)
{
    for (const char *text : {"[a]\nx = 1\ny = \"\\q\"\nz = 3\n", "[a]\nx = 1\n!oops\nz = 3\n"}) {
        writeFile(path, text);
        EXPECT_EQ(readAll(path), (Values{{"a.x", "1"}})) << text;
    }
    writeFile(path, "[a]\nx = \"open\n");
    EXPECT_TRUE(readAll(path).empty());
    EXPECT_EQ(config_from_file(collect, (dir / "missing").c_str(), nullptr), -1);
}

TEST_F(EngineConfig, KeyRules)
{
    char *key = nullptr;
    size_t baselen = 0;
    ASSERT_EQ(config_parse_key("Backup.Location", &key, &baselen), 0);
    EXPECT_STREQ(key, "backup.location");
    EXPECT_EQ(baselen, 6u);
    free(key);
    ASSERT_EQ(config_parse_key("Sec.Sub Case.Name", &key, &baselen), 0);
    EXPECT_STREQ(key, "sec.Sub Case.name");
    free(key);
    // -2 for a missing section or name, -1 for a character no key may hold there.
    for (const auto &[bad, result] : {std::pair{"nodot", -2}, {".x", -2}, {"x.", -2}, {"a.1x", -1}, {"a_b.x", -1},
                                      {"a.b\nc.x", -1}})
        EXPECT_EQ(config_parse_key(bad, &key, &baselen), result) << bad;
}

TEST_F(EngineConfig, SetWritesTheDocumentedText)
{
    const char *keys[] = {"core.prompt", "backup.location", "auto.backup", "back.number"};
    auto setAll = [&](const std::vector<const char *> &values) {
        for (size_t i = 0; i < values.size(); i++)
            EXPECT_EQ(config_set_in_file(path.c_str(), keys[i], values[i], 0), 0) << keys[i];
    };
    setAll({"blue door", "appData", "no", "3"});
    EXPECT_EQ(readFile(path),
              "[core]\n\tprompt = blue door\n[backup]\n\tlocation = appData\n"
              "[auto]\n\tbackup = no\n[back]\n\tnumber = 3\n");
    EXPECT_EQ(gitGet(path, "back.number"), "3");

    // Values that need quotes or escapes read back as set, by git's reader and ours.
    const std::vector<const char *> odd = {" padded ", "a;b", "line\none\t\"q\" \\", ""};
    setAll(odd);
    EXPECT_EQ(readFile(path),
              "[core]\n\tprompt = \" padded \"\n[backup]\n\tlocation = \"a;b\"\n"
              "[auto]\n\tbackup = line\\none\\t\\\"q\\\" \\\\\n[back]\n\tnumber = \n");
    const Values v = readAll(path);
    ASSERT_EQ(v.size(), 4u);
    for (size_t i = 0; i < odd.size(); i++) {
        EXPECT_EQ(gitGet(path, keys[i]), odd[i]) << keys[i];
        EXPECT_EQ(v[i].second, odd[i]) << keys[i];
    }
}

TEST_F(EngineConfig, SetKeepsOtherLinesByteForByte)
{
    std::string original = "# my settings\n\n[core]\n    prompt = old ; note\n  other = 1\n\n[Backup]\n";
    writeFile(path, original);
    chmod(path.c_str(), 0640);
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.prompt", "new", 0), 0);
    EXPECT_EQ(readFile(path), "# my settings\n\n[core]\n\tprompt = new\n  other = 1\n\n[Backup]\n");
    struct stat st;
    stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Into an existing section: after its last entry, or after the header when empty.
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.extra", "e", 0), 0);
    EXPECT_EQ(config_set_in_file(path.c_str(), "backup.location", "appData", 0), 0);
    EXPECT_EQ(readFile(path),
              "# my settings\n\n[core]\n\tprompt = new\n  other = 1\n\textra = e\n\n"
              "[Backup]\n\tlocation = appData\n");
    EXPECT_EQ(gitGet(path, "backup.location"), "appData");

    // A file that does not end in a newline gets one before a new section.
    writeFile(path, "[a]\nx = 1");
    EXPECT_EQ(config_set_in_file(path.c_str(), "b.y", "2", 0), 0);
    EXPECT_EQ(readFile(path), "[a]\nx = 1\n[b]\n\ty = 2\n");
}

TEST_F(EngineConfig, SubsectionsAreMatchedWithTheirCase)
{
    writeFile(path, "[s \"Sub\"]\n\tk = 1\n");
    EXPECT_EQ(config_set_in_file(path.c_str(), "s.sub.k", "2", 0), 0);
    EXPECT_EQ(config_set_in_file(path.c_str(), "s.Sub.k", "3", 0), 0);
    EXPECT_EQ(readFile(path), "[s \"Sub\"]\n\tk = 3\n[s \"sub\"]\n\tk = 2\n");
    EXPECT_EQ(config_set_in_file(path.c_str(), "q.A\"b\\c.k", "v", 0), 0);
    EXPECT_EQ(gitGet(path, "q.A\"b\\c.k"), "v");
}

TEST_F(EngineConfig, DuplicatesLocksAndBadKeys)
{
    writeFile(path, "[core]\n\tprompt = a\n\tprompt = b\n");
    EXPECT_EQ(readAll(path).back().second, "b");
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.prompt", "c", 0), 5);
    EXPECT_EQ(readFile(path), "[core]\n\tprompt = a\n\tprompt = b\n");
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.prompt", "c", 1), 0);
    EXPECT_EQ(readFile(path), "[core]\n\tprompt = c\n");

    // A lock whose holder lives refuses; one left by a dead process is taken over.
    HeldLock holder(path + ".lock", "held");
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.prompt", "d", 0), -1);
    EXPECT_EQ(readFile(path), "[core]\n\tprompt = c\n");
    EXPECT_EQ(readFile(path + ".lock"), "held");
    holder.release();
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.prompt", "d", 0), 0);
    EXPECT_EQ(readFile(path), "[core]\n\tprompt = d\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
    writeFile(path, "[core]\n\tprompt = c\n");

    EXPECT_EQ(config_set_in_file(path.c_str(), "nodot", "x", 0), 2);
    EXPECT_EQ(config_set_in_file(path.c_str(), "a.9", "x", 0), 1);
    EXPECT_EQ(readFile(path), "[core]\n\tprompt = c\n");
}

// A setting that reports success is the one readers get; otherwise the file stays as it was.
TEST_F(EngineConfig, SetRefusesWhatReadersWouldNotSee)
{
    // Readers stop at the error, so an entry added after it would be lost.
    const std::string broken = "[a]\nx = 1\n!oops\n";
    writeFile(path, broken);
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.prompt", "hint", 0), FS_CONFIG_READ_FAILED);
    EXPECT_EQ(readFile(path), broken);

    // A final line continuation would swallow an appended section header.
    const std::string continued = "[a]\nx = one\\\n";
    writeFile(path, continued);
    EXPECT_EQ(config_set_in_file(path.c_str(), "core.prompt", "hint", 0), FS_CONFIG_WRITE_FAILED);
    EXPECT_EQ(readFile(path), continued);
    EXPECT_FALSE(std::filesystem::exists(path + ".lock"));

    writeFile(path, "[a]\nx = one\n");
    ASSERT_EQ(config_set_in_file(path.c_str(), "core.prompt", "hint", 0), FS_CONFIG_OK);
    EXPECT_EQ(readAll(path), (Values{{"a.x", "one"}, {"core.prompt", "hint"}}));
}
