#include "XXTextTable.h"

#include <fstream>
#include <sstream>

#include "XXUtf8.h"

namespace xxtool {
namespace {

bool isKeyCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '.' || c == '-';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Reads a quoted text starting at s[0] == '"'. Fails on a missing closing quote, an
// unknown escape or anything but blanks after the closing quote.
bool readQuoted(std::string_view s, std::string &out, std::string &error)
{
    std::size_t i = 1;
    for (; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] != '\\') {
            out.push_back(s[i]);
            continue;
        }
        if (++i == s.size())
            break;
        switch (s[i]) {
        case '"':
            out.push_back('"');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        default:
            error = "unknown escape \\" + std::string(1, s[i]);
            return false;
        }
    }
    if (i >= s.size()) {
        error = "missing closing quote";
        return false;
    }
    if (!trimmed(s.substr(i + 1)).empty()) {
        error = "text after the closing quote";
        return false;
    }
    return true;
}

}  // namespace

TextTableParse parseTextTable(std::string_view content)
{
    TextTableParse result;
    if (content.substr(0, 3) == "\xEF\xBB\xBF")
        content.remove_prefix(3);

    std::string *continued = nullptr;  // text of the entry the next quoted line extends
    std::size_t lineNumber = 0;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        const std::string_view raw = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        ++lineNumber;

        const std::string_view line = trimmed(raw);
        const auto problem = [&](const std::string &what) {
            result.problems.push_back("line " + std::to_string(lineNumber) + ": " + what);
        };
        if (line.empty() || line.front() == '#') {
            continued = nullptr;
            continue;
        }
        if (!isValidUtf8(line)) {
            problem("not valid UTF-8");
            continued = nullptr;
            continue;
        }
        std::string text;
        std::string error;
        if (line.front() == '"') {
            if (!continued) {
                problem("quoted text without a key above it");
            } else if (readQuoted(line, text, error)) {
                continued->append(text);
            } else {
                problem(error);
            }
            continue;
        }

        continued = nullptr;
        std::size_t keyEnd = 0;
        while (keyEnd < line.size() && isKeyCharacter(line[keyEnd]))
            ++keyEnd;
        const std::string key(line.substr(0, keyEnd));
        std::string_view rest = trimmed(line.substr(keyEnd));
        if (key.empty() || rest.empty() || rest.front() != '=') {
            problem("expected: KEY = \"text\"");
            continue;
        }
        rest = trimmed(rest.substr(1));
        if (rest.empty() || rest.front() != '"') {
            problem("the text of " + key + " must be quoted");
            continue;
        }
        if (!readQuoted(rest, text, error)) {
            problem(key + ": " + error);
            continue;
        }
        auto [it, inserted] = result.texts.emplace(key, std::move(text));
        if (!inserted) {
            problem("repeated key " + key);
            continue;
        }
        continued = &it->second;
    }
    return result;
}

std::optional<TextTableParse> loadTextTableFile(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return parseTextTable(content.str());
}

}  // namespace xxtool
