// The text tables: one file per language, "texts.txt" in "<language>.lproj".
//
// Format, one entry per line:
//     # a comment
//     String_1 = "OK"
//     String_127 = "first part "
//                  "continued"      <- a line that starts with a quote extends the entry above
// Inside quotes: \" \\ \n \t are escapes; everything else, leading and trailing blanks
// included, is taken as written. Files are UTF-8.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace xxtool {

using TextMap = std::unordered_map<std::string, std::string>;

struct TextTableParse {
    TextMap texts;
    // One line per problem ("line 12: ..."); the offending line is skipped, the rest kept,
    // and for a repeated key the first text stands.
    std::vector<std::string> problems;
};

TextTableParse parseTextTable(std::string_view content);

// nullopt when the file cannot be read.
std::optional<TextTableParse> loadTextTableFile(const std::filesystem::path &file);

inline constexpr std::string_view kTextTableFileName = "texts.txt";

}  // namespace xxtool
