#include "XXPasswordRules.h"

#include <algorithm>
#include <string>

#include "XXUtf8.h"

namespace xxtool {
namespace {

constexpr std::size_t kMinimumLength = 6;
constexpr std::size_t kMaximumLength = 32;

// The body of the character class, written exactly as the password pattern has it, so the
// set can be compared with that pattern character by character. Repeated characters are
// harmless. "\[" and "\]" are the escaped brackets; "-" between two characters is a range.
constexpr std::string_view kSpecialClass =
    "`~!@#$%^&*()+=|{}':;',\\[\\].<>/?~！@#￥%……&*（）——+|{}【】‘；：”“’。，、？";
constexpr std::string_view kLetterDigitClass = "a-zA-Z0-9";

std::vector<char32_t> parseCharacterClass(std::string_view body)
{
    const std::u32string chars = decodeUtf8(body);
    std::vector<char32_t> set;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        char32_t c = chars[i];
        if (c == U'\\' && i + 1 < chars.size()) {
            set.push_back(chars[++i]);
        } else if (i + 2 < chars.size() && chars[i + 1] == U'-') {
            for (char32_t r = c; r <= chars[i + 2]; ++r)
                set.push_back(r);
            i += 2;
        } else {
            set.push_back(c);
        }
    }
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    return set;
}

bool contains(const std::vector<char32_t> &set, char32_t c)
{
    return std::binary_search(set.begin(), set.end(), c);
}

bool isAsciiDigit(char32_t c)
{
    return c >= U'0' && c <= U'9';
}
bool isAsciiLower(char32_t c)
{
    return c >= U'a' && c <= U'z';
}
bool isAsciiUpper(char32_t c)
{
    return c >= U'A' && c <= U'Z';
}

}  // namespace

const std::vector<char32_t> &passwordAllowedCharacters()
{
    static const std::vector<char32_t> set =
        parseCharacterClass(std::string(kLetterDigitClass) + std::string(kSpecialClass));
    return set;
}

const std::vector<char32_t> &passwordSpecialCharacters()
{
    static const std::vector<char32_t> set = parseCharacterClass(kSpecialClass);
    return set;
}

int checkPassword(std::string_view password)
{
    const std::u32string chars = decodeUtf8(password);
    if (chars.size() < kMinimumLength)
        return 1;
    if (chars.size() > kMaximumLength)
        return 2;
    const auto &allowed = passwordAllowedCharacters();
    const bool allAllowed =
        std::all_of(chars.begin(), chars.end(), [&](char32_t c) { return contains(allowed, c); });
    return allAllowed ? 0 : 3;
}

int passwordLevel(std::string_view password)
{
    if (checkPassword(password) != 0)
        return 0;
    const std::u32string chars = decodeUtf8(password);
    const auto all = [&](auto predicate) { return std::all_of(chars.begin(), chars.end(), predicate); };
    const auto any = [&](auto predicate) { return std::any_of(chars.begin(), chars.end(), predicate); };
    if (all(isAsciiDigit) || all(isAsciiLower) || all(isAsciiUpper))
        return 1;
    const auto &special = passwordSpecialCharacters();
    const bool hasSpecial = any([&](char32_t c) { return contains(special, c); });
    if (any(isAsciiUpper) && any(isAsciiLower) && any(isAsciiDigit) && hasSpecial)
        return 3;
    return 2;
}

}  // namespace xxtool
