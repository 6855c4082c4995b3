// Text rules the service shares: reading numbers the way its stored texts are written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xxservice {

// Leading blanks skipped, an optional sign, then digits up to the first other character;
// 0 when there are none. Values beyond the 64-bit range are clamped to it.
std::int64_t integerValue(std::string_view text);

// text cut at every occurrence of separator (which must not be empty); n separators give
// n + 1 pieces, empty ones included.
std::vector<std::string> splitText(std::string_view text, std::string_view separator);

// The full-path rule of the service: parent, "/", name, joined directly when the parent is
// exactly "/".
std::string joinFullPath(std::string_view parentPath, std::string_view name);

}  // namespace xxservice
