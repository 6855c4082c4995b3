// UTF-8 decoding for the rules that count characters rather than bytes.
#pragma once

#include <string>
#include <string_view>

namespace xxtool {

// Every malformed byte becomes one U+FFFD, so a bad byte still counts as a character and
// can never be mistaken for an allowed one.
std::u32string decodeUtf8(std::string_view text);

// Rejects overlong forms, surrogates and values above U+10FFFF as well as truncated sequences.
bool isValidUtf8(std::string_view text);

void appendUtf8(std::string &out, char32_t codePoint);

}  // namespace xxtool
