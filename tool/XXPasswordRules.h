// Password check and strength, counted in Unicode characters: the full-width punctuation of
// the allowed set is one character each, although it takes three bytes in UTF-8.
#pragma once

#include <string_view>
#include <vector>

namespace xxtool {

// The characters a password may contain, sorted, built once from the character class.
const std::vector<char32_t> &passwordAllowedCharacters();

// The punctuation of the allowed set (everything but ASCII letters and digits).
const std::vector<char32_t> &passwordSpecialCharacters();

// 0 valid, 1 shorter than 6, 2 longer than 32, 3 right length but a character outside the set.
int checkPassword(std::string_view password);

// 1 weak, 2 medium, 3 strong for a valid password; 0 for any other text.
int passwordLevel(std::string_view password);

}  // namespace xxtool
