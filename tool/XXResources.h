// Where the text tables and images live. The program runs from a removable stick, so the
// resources are found relative to the executable rather than at a fixed install path.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace xxtool {

// The folders tried, in order: $COFFERVALE_RESOURCES (when set and non-empty),
// <executable's folder>/resources, <executable's folder>/../share/coffervale/resources,
// and the source tree's resources folder.
std::vector<std::filesystem::path> resourcesSearchPath();

// The first folder of the search path that exists; empty when none does.
std::filesystem::path resourcesDirectory();

// "<resources>/images/<name>.svg" when that file exists, else empty (a missing image shows
// nothing). Names holding a path separator are refused.
std::filesystem::path imagePathForName(std::string_view name);

}  // namespace xxtool
