// Language choice, text lookup, the table format and where the resources are found.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ToolTestSupport.h"
#include "XXResources.h"
#include "XXTextTable.h"
#include "XXTool.h"

namespace {

// Clears the four variables, then sets the given ones.
void onlyLanguageVariables(tooltest::ScopedEnv &env,
                           std::initializer_list<std::pair<const char *, const char *>> set)
{
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        env.set(name, std::nullopt);
    for (const auto &[name, value] : set)
        env.set(name, std::string(value));
}

}  // namespace

TEST(ToolLanguage, FirstSetVariableDecides)
{
    struct Case {
        std::initializer_list<std::pair<const char *, const char *>> vars;
        const char *expected;
    };
    const Case cases[] = {
        {{}, "en"},
        {{{"LANG", "zh_CN.UTF-8"}}, "zh-Hans"},
        {{{"LANG", "zh_TW.UTF-8"}}, "zh-Hans"},
        {{{"LANG", "de_DE.UTF-8"}}, "en"},
        {{{"LANG", "C"}}, "en"},
        // LANGUAGE is a list; its first non-empty entry counts.
        {{{"LANGUAGE", "zh_HK:en"}, {"LANG", "en_US.UTF-8"}}, "zh-Hans"},
        {{{"LANGUAGE", ":zh"}}, "zh-Hans"},
        {{{"LANGUAGE", "en_GB:zh_CN"}, {"LANG", "zh_CN.UTF-8"}}, "en"},
        {{{"LANGUAGE", ""}, {"LC_ALL", "zh_SG"}}, "zh-Hans"},
        {{{"LC_ALL", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN"}}, "en"},
        {{{"LC_MESSAGES", "zh_CN"}, {"LANG", "en_US"}}, "zh-Hans"},
    };
    for (const auto &c : cases) {
        tooltest::ScopedEnv env;
        onlyLanguageVariables(env, c.vars);
        EXPECT_EQ(XXTool::systemLanguageName(), c.expected)
            << (c.vars.size() ? c.vars.begin()->second : "none");
    }
}

TEST(ToolLookup, KeysTextsMissingKeysAndTheEmptyChoice)
{
    XXTool &tool = XXTool::shareTool();
    tooltest::ScopedLanguage keep("en");
    EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_1"), "OK");
    EXPECT_EQ(tool.acquireLocalizedStringFromKey(std::string("String_152")), "Today");
    EXPECT_EQ(tool.acquireLocalizedStringFromKey(nullptr), "");
    EXPECT_EQ(tool.acquireLocalizedStringFromKey(""), "");
    EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_99999"), "String_99999");
    tool.setLanguageName("zh-Hans");
    EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_1"), "确定");
    // No table for the language: every key shows itself, and nothing outside the resources is read.
    for (const char *language : {"fr", "../en.lproj"}) {
        tool.setLanguageName(language);
        EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_1"), "String_1") << language;
    }

    tooltest::ScopedEnv env;
    onlyLanguageVariables(env, {{"LANG", "zh_CN.UTF-8"}});
    tool.setLanguageName("");
    EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_1"), "确定");
    EXPECT_EQ(tool.languageName(), "zh-Hans");
}

TEST(ToolLookup, SafeWhileAnotherThreadSwitchesLanguage)
{
    XXTool &tool = XXTool::shareTool();
    tooltest::ScopedLanguage keep("en");
    constexpr int kReaders = 4;
    std::atomic<int> running{kReaders};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kReaders; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 3000; ++i) {
                const std::string text = tool.acquireLocalizedStringFromKey("String_152");
                if (text != "Today" && text != "今天")
                    ++wrong;
            }
            --running;
        });
    }
    for (int i = 0; running.load() > 0; ++i) {
        tool.setLanguageName(i % 2 ? "en" : "zh-Hans");
        if (i % 100 == 0)
            tool.reloadTexts();
        std::this_thread::yield();
    }
    for (auto &reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ToolTextTable, ParsesQuotedTextsEscapesAndContinuations)
{
    const auto parsed = xxtool::parseTextTable("\xEF\xBB\xBF# comment\n"
                                               "String_1 = \"OK\"\r\n"
                                               "  String_2=\"  padded \"  \n"
                                               "\n"
                                               "String_3 = \"say \\\"hi\\\"\\n\\\\ \\t\"\n"
                                               "String_4 = \"first \"\n"
                                               "           \"second\"\n"
                                               "String_5 = \"\"\n");
    EXPECT_EQ(parsed.problems, std::vector<std::string>{});
    EXPECT_EQ(parsed.texts,
              (xxtool::TextMap{{"String_1", "OK"},
                               {"String_2", "  padded "},
                               {"String_3", "say \"hi\"\n\\ \t"},
                               {"String_4", "first second"},
                               {"String_5", ""}}));
}

TEST(ToolTextTable, ReportsBadLinesAndKeepsTheRest)
{
    const auto parsed =
        xxtool::parseTextTable("String_1 = \"one\"\n"
                               "String_1 = \"again\"\n"  // repeated key: the first text stands
                               "String_2 = unquoted\n"
                               "String_3 = \"open\n"
                               "String_4 = \"x\" trailing\n"
                               "String_5 = \"bad \\q escape\"\n"
                               "\"orphan\"\n"
                               "just words\n"
                               "String_6 = \"\xC3\x28\"\n"
                               "String_7 = \"fine\"\n");
    EXPECT_EQ(parsed.problems.size(), 8u);
    EXPECT_EQ(parsed.texts, (xxtool::TextMap{{"String_1", "one"}, {"String_7", "fine"}}));
    EXPECT_NE(parsed.problems.front().find("line 2"), std::string::npos);
}

TEST(ToolResourcesLookup, SearchOrderAndEnvironmentOverride)
{
    TempDir dir;
    tooltest::ScopedEnv env;
    env.set("COFFERVALE_RESOURCES", dir.path());
    const std::filesystem::path exeDir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(xxtool::resourcesSearchPath(),
              (std::vector<std::filesystem::path>{
                  dir.path(), exeDir / "resources",
                  (exeDir / "../share/coffervale/resources").lexically_normal(), COFFERVALE_TEST_RESOURCES}));
    EXPECT_EQ(xxtool::resourcesDirectory(), dir.path());

    // A folder that does not exist is passed over.
    env.set("COFFERVALE_RESOURCES", dir / "missing");
    EXPECT_EQ(xxtool::resourcesSearchPath().front(), dir / "missing");
    EXPECT_NE(xxtool::resourcesDirectory(), dir / "missing");
    env.set("COFFERVALE_RESOURCES", std::nullopt);
    EXPECT_EQ(xxtool::resourcesSearchPath().size(), 3u);
}

TEST(ToolResourcesLookup, TablesAndImagesComeFromTheChosenFolder)
{
    TempDir dir;
    writeFile(dir / "en.lproj/texts.txt", "String_1 = \"Custom OK\"\n");
    writeFile(dir / "images/main37.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>\n");
    XXTool &tool = XXTool::shareTool();
    tooltest::ScopedLanguage english("en");
    {
        tooltest::ScopedEnv env;
        env.set("COFFERVALE_RESOURCES", dir.path());
        tool.reloadTexts();
        EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_1"), "Custom OK");
        EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_44"), "String_44");
        EXPECT_EQ(xxtool::imagePathForName("main37"), dir / "images/main37.svg");
        EXPECT_TRUE(xxtool::imagePathForName("main38").empty());
        EXPECT_TRUE(xxtool::imagePathForName("../images/main37").empty());
    }
    tool.reloadTexts();
    EXPECT_EQ(tool.acquireLocalizedStringFromKey("String_1"), "OK");
}
