// The shipped text tables, their key list and the images, checked against each other and
// against every key and image name that the program's sources quote.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "XXResources.h"
#include "XXTextTable.h"
#include "XXUtf8.h"

namespace {

const std::filesystem::path kResources = COFFERVALE_TEST_RESOURCES;
const std::filesystem::path kSourceRoot = COFFERVALE_SOURCE_ROOT;

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

xxtool::TextMap loadTable(const std::string& language) {
    const auto parsed = xxtool::loadTextTableFile(kResources / (language + ".lproj") / xxtool::kTextTableFileName);
    if (!parsed) ADD_FAILURE() << "no table for " << language;
    if (parsed) {
        for (const auto& problem : parsed->problems) ADD_FAILURE() << language << ": " << problem;
    }
    return parsed ? parsed->texts : xxtool::TextMap{};
}

std::set<std::string> keysOf(const xxtool::TextMap& table) {
    std::set<std::string> keys;
    for (const auto& entry : table) keys.insert(entry.first);
    return keys;
}

// Every quoted match of pattern in the program's sources (not the tests, which quote
// made-up keys on purpose).
std::set<std::string> quotedInSources(const std::regex& pattern) {
    std::set<std::string> found;
    const std::set<std::string> extensions = {".h", ".hpp", ".c", ".cc", ".cpp", ".ui", ".qml"};
    for (const char* folder : {"engine", "service", "monitor", "app", "cli"}) {
        const auto root = kSourceRoot / folder;
        std::error_code ec;
        if (!std::filesystem::is_directory(root, ec)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
            if (!entry.is_regular_file() || !extensions.count(entry.path().extension().string())) continue;
            const std::string text = readFile(entry.path());
            for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
                found.insert((*it)[1].str());
            }
        }
    }
    return found;
}

bool holdsChinese(const std::string& text) {
    for (char32_t c : xxtool::decodeUtf8(text)) {
        if ((c >= 0x3000 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF)) return true;
    }
    return false;
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size()) {
        pieces.push_back(text.substr(start, at - start));
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

}  // namespace

TEST(ToolTables, BothLanguagesHoldTheSameNonEmptyTexts) {
    const auto english = loadTable("en");
    const auto chinese = loadTable("zh-Hans");
    EXPECT_EQ(keysOf(english), keysOf(chinese));
    EXPECT_GT(english.size(), 100u);
    const std::regex formatMark(R"(%[-+ #0-9.]*(l|ll|q|h)?[@dDiuUxXoOfFeEgGcCsSp])");
    for (const auto* table : {&english, &chinese}) {
        for (const auto& [key, text] : *table) {
            EXPECT_NE(text.find_first_not_of(" \t\n"), std::string::npos) << key << " is empty";
            EXPECT_FALSE(std::regex_search(text, formatMark)) << key << " holds a format mark: " << text;
        }
    }
    for (const auto& [key, text] : chinese) {
        EXPECT_TRUE(holdsChinese(text)) << key << " looks untranslated: " << text;
    }
}

TEST(ToolTables, KeyListDescribesExactlyTheTableKeys) {
    const std::string list = readFile(kResources / "texts-keys.md");
    std::set<std::string> documented;
    const std::regex row(R"(^\| (String_\d+) \|)", std::regex::multiline);
    for (std::sregex_iterator it(list.begin(), list.end(), row), end; it != end; ++it) {
        EXPECT_TRUE(documented.insert((*it)[1].str()).second) << (*it)[1] << " listed twice";
    }
    EXPECT_EQ(documented, keysOf(loadTable("en")));
}

TEST(ToolTables, EveryKeyTheSourcesQuoteHasATextInBothLanguages) {
    const auto quoted = quotedInSources(std::regex(R"re("(String_\d+)")re"));
    EXPECT_FALSE(quoted.empty());  // the tool itself quotes the words for today and yesterday
    const auto english = keysOf(loadTable("en"));
    const auto chinese = keysOf(loadTable("zh-Hans"));
    for (const auto& key : quoted) {
        EXPECT_TRUE(english.count(key)) << key << " missing in en";
        EXPECT_TRUE(chinese.count(key)) << key << " missing in zh-Hans";
    }
}

TEST(ToolTables, EnglishAgreementParagraphsIndentByTheirNumbers) {
    // The agreement screen splits the English text at "|_|" and indents a paragraph by the
    // dots among its first six characters, so an unnumbered paragraph must have none there.
    const auto english = loadTable("en");
    ASSERT_TRUE(english.count("String_127"));
    const auto paragraphs = split(english.at("String_127"), "|_|");
    EXPECT_GT(paragraphs.size(), 5u);
    const std::regex numbered(R"(^\d+\.(\d+\.)? \S.*)");
    for (const auto& paragraph : paragraphs) {
        EXPECT_FALSE(paragraph.empty());
        if (!std::regex_match(paragraph, numbered)) {
            EXPECT_EQ(paragraph.substr(0, 6).find('.'), std::string::npos) << paragraph;
        }
    }
    EXPECT_EQ(loadTable("zh-Hans").at("String_127").find("|_|"), std::string::npos);
}

TEST(ToolImages, EveryNamedImageHasAnSvg) {
    std::set<std::string> names = quotedInSources(std::regex(R"re("(main\d+)")re"));
    for (int n = 37; n <= 50; ++n) names.insert("main" + std::to_string(n));
    names.insert({"main55", "main56"});
    for (const auto& name : names) {
        const auto file = kResources / "images" / (name + ".svg");
        const std::string svg = readFile(file);
        ASSERT_FALSE(svg.empty()) << name << " has no image";
        EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u) << name;
        EXPECT_NE(svg.find("viewBox=\"0 0 64 64\""), std::string::npos) << name;
        EXPECT_NE(svg.find("</svg>"), std::string::npos) << name;
    }
}
