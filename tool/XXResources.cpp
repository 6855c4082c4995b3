#include "XXResources.h"

#include "XXExecutablePath.h"

#include <cstdlib>
#include <system_error>

namespace xxtool {
namespace {

bool isDirectory(const std::filesystem::path &p)
{
    std::error_code ec;
    return !p.empty() && std::filesystem::is_directory(p, ec);
}

}  // namespace

std::vector<std::filesystem::path> resourcesSearchPath()
{
    std::vector<std::filesystem::path> candidates;
    if (const char *env = std::getenv("COFFERVALE_RESOURCES"); env && *env)
        candidates.emplace_back(env);
    if (const std::filesystem::path dir = executableFolder(); !dir.empty()) {
        candidates.push_back(dir / "resources");
        candidates.push_back((dir / ".." / "share" / "coffervale" / "resources").lexically_normal());
    }
#ifdef COFFERVALE_SOURCE_RESOURCES
    candidates.emplace_back(COFFERVALE_SOURCE_RESOURCES);
#endif
    return candidates;
}

std::filesystem::path resourcesDirectory()
{
    for (const auto &candidate : resourcesSearchPath()) {
        if (isDirectory(candidate))
            return candidate;
    }
    return {};
}

std::filesystem::path imagePathForName(std::string_view name)
{
    if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..")
        return {};
    const auto dir = resourcesDirectory();
    if (dir.empty())
        return {};
    auto file = dir / "images" / (std::string(name) + ".svg");
    std::error_code ec;
    return std::filesystem::is_regular_file(file, ec) ? file : std::filesystem::path{};
}

}  // namespace xxtool
