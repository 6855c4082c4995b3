#include "XXExecutablePath.h"

#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string_view>

namespace xxtool {
namespace {

constexpr std::string_view deletedSuffix = " (deleted)";

// An address inside the main program's first loaded segment. dl_iterate_phdr always visits
// the main program first, whichever file the kernel started.
int firstObjectAddress(struct dl_phdr_info *info, size_t, void *data)
{
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            *static_cast<std::uintptr_t *>(data) = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
            break;
        }
    }
    return 1;
}

// The file mapped at address, from /proc/self/maps ("start-end perms offset dev inode path").
std::string fileMappedAt(std::uintptr_t address)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode;
        if (!(fields >> range >> perms >> offset >> device >> inode))
            continue;
        const std::size_t dash = range.find('-');
        if (dash == std::string::npos)
            continue;
        const std::uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
        const std::uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (address < start || address >= end)
            continue;
        std::string path;
        std::getline(fields >> std::ws, path);
        if (path.ends_with(deletedSuffix))
            path.resize(path.size() - deletedSuffix.size());
        return path.starts_with('/') ? path : std::string();
    }
    return {};
}

std::string procSelfExe()
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", target.data(), target.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    if (target.ends_with(deletedSuffix))
        target.resize(target.size() - deletedSuffix.size());
    return target;
}

}  // namespace

std::string executablePath()
{
    std::uintptr_t address = 0;
    dl_iterate_phdr(firstObjectAddress, &address);
    if (address != 0) {
        if (std::string path = fileMappedAt(address); !path.empty())
            return path;
    }
    // /proc/self/exe names the loader when the loader was started, so it is only the fallback.
    return procSelfExe();
}

std::string executableFolder()
{
    const std::string path = executablePath();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace xxtool
