// The display groups both file models sort into: folders, then video, music, text, picture,
// archive and everything else.
#pragma once

#include <cstdint>
#include <string>

namespace xxservice {

inline constexpr int kSortGroupCount = 7;

// 0 for folders (and any entry of type 0), 1 video, 2 music, 3 text, 4 picture, 5 archive,
// 6 anything else.
int sortGroupOf(bool isDirectory, std::int64_t fileType);

// The icon name for a file type code: "main45" to "main50" by type; type 0 has no fixed
// icon and gives "".
std::string iconNameForFileType(std::int64_t fileType);

}  // namespace xxservice
