// The shipped text tables, their key list and the images, checked against each other and
// against every key and image name that the program's sources quote.
#include <gtest/gtest.h>

#include <ranges>
#include <regex>
#include <set>

#include "TempDir.h"
#include "XXTextTable.h"
#include "XXUtf8.h"

namespace {

const std::filesystem::path kResources = COFFERVALE_TEST_RESOURCES;
const std::filesystem::path kSourceRoot = COFFERVALE_SOURCE_ROOT;

xxtool::TextMap loadTable(const std::string &language)
{
    const auto parsed =
        xxtool::loadTextTableFile(kResources / (language + ".lproj") / xxtool::kTextTableFileName);
    if (!parsed) {
        ADD_FAILURE() << "no table for " << language;
        return {};
    }
    for (const auto &problem : parsed->problems)
        ADD_FAILURE() << language << ": " << problem;
    return parsed->texts;
}

std::set<std::string> keysOf(const xxtool::TextMap &table)
{
    const auto keys = std::views::keys(table);
    return {keys.begin(), keys.end()};
}

// Every match of the pattern's first group in the text, in order.
std::vector<std::string> matches(const std::string &text, const std::regex &pattern)
{
    std::vector<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        found.push_back((*it)[1]);
    return found;
}

// Every quoted match in the program's sources (not the tests, which quote made-up keys on purpose).
std::set<std::string> quotedInSources(const std::regex &pattern)
{
    std::set<std::string> found;
    const std::set<std::string> extensions = {".h", ".hpp", ".c", ".cc", ".cpp", ".ui", ".qml"};
    for (const char *folder : {"engine", "tool", "service", "monitor", "app", "cli"}) {
        std::error_code ec;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(kSourceRoot / folder, ec)) {
            if (!entry.is_regular_file() || !extensions.count(entry.path().extension().string()))
                continue;
            for (auto &match : matches(readFile(entry.path()), pattern))
                found.insert(std::move(match));
        }
    }
    return found;
}

bool holdsChinese(const std::string &text)
{
    for (char32_t c : xxtool::decodeUtf8(text)) {
        if ((c >= 0x3000 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF))
            return true;
    }
    return false;
}

}  // namespace

TEST(ToolTables, BothLanguagesTheKeyListAndTheSourcesAgree)
{
    const auto english = loadTable("en");
    const auto chinese = loadTable("zh-Hans");
    const auto keys = keysOf(english);
    EXPECT_EQ(keys, keysOf(chinese));
    EXPECT_GT(keys.size(), 100u);
    const std::regex listRow(R"(^\| (String_\d+) \|)", std::regex::multiline);
    const auto listed = matches(readFile(kResources / "texts-keys.md"), listRow);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), keys);
    EXPECT_EQ(listed.size(), keys.size()) << "a key is listed twice";
    // The tool itself quotes the words for today and yesterday, so the set is never empty.
    const auto quoted = quotedInSources(std::regex(R"re("(String_\d+)")re"));
    EXPECT_TRUE(quoted.count("String_152"));
    for (const auto &key : quoted)
        EXPECT_TRUE(keys.count(key)) << key << " has no text";

    const std::regex formatMark(R"(%[-+ #0-9.]*(l|ll|q|h)?[@dDiuUxXoOfFeEgGcCsSp])");
    for (const auto *table : {&english, &chinese}) {
        for (const auto &[key, text] : *table) {
            EXPECT_NE(text.find_first_not_of(" \t\n"), std::string::npos) << key << " is empty";
            EXPECT_FALSE(std::regex_search(text, formatMark)) << key << " holds a format mark: " << text;
        }
    }
    for (const auto &[key, text] : chinese)
        EXPECT_TRUE(holdsChinese(text)) << key << " looks untranslated: " << text;
}

TEST(ToolTables, EnglishAgreementParagraphsIndentByTheirNumbers)
{
    // The agreement screen splits the English text at "|_|" and indents a paragraph by the
    // dots among its first six characters, so an unnumbered paragraph must have none there.
    const std::string agreement = loadTable("en")["String_127"] + "|_|";
    const std::regex numbered(R"(^\d+\.(\d+\.)? \S.*)");
    int paragraphs = 0;
    for (std::size_t start = 0, end; (end = agreement.find("|_|", start)) != std::string::npos;
         start = end + 3) {
        const std::string paragraph = agreement.substr(start, end - start);
        ++paragraphs;
        EXPECT_FALSE(paragraph.empty());
        if (!std::regex_match(paragraph, numbered)) {
            EXPECT_EQ(paragraph.substr(0, 6).find('.'), std::string::npos) << paragraph;
        }
    }
    EXPECT_GT(paragraphs, 5);
    EXPECT_EQ(loadTable("zh-Hans")["String_127"].find("|_|"), std::string::npos);
}

TEST(ToolImages, EveryNamedImageHasAnSvg)
{
    std::set<std::string> names = quotedInSources(std::regex(R"re("(main\d+)")re"));
    for (int n = 37; n <= 50; ++n)
        names.insert("main" + std::to_string(n));
    names.insert({"main55", "main56"});
    for (const auto &name : names) {
        const std::string svg = readFile(kResources / "images" / (name + ".svg"));
        ASSERT_FALSE(svg.empty()) << name << " has no image";
        EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u) << name;
        EXPECT_NE(svg.find("viewBox=\"0 0 64 64\""), std::string::npos) << name;
        EXPECT_NE(svg.find("</svg>"), std::string::npos) << name;
    }
}
