#include "XXProtectFileReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"
#include "fs.h"

std::optional<std::string> readProtectFileContent(XXDiskFileManager &, const XXProtectFileWrapper &file,
                                                  std::size_t maxBytes)
{
    if (file.isDirectory() || file.isRootWrapper() || file.isRootContainerWrapper()) {
        errno = EISDIR;
        return std::nullopt;
    }
    // The tree's size is only a hint (the store may have changed); the read below decides.
    if (file.fileSize() > maxBytes) {
        errno = EFBIG;
        return std::nullopt;
    }
    const std::string path = file.fullPath();
    int handle;
    {
        auto engine = XXDiskFileManager::lockEngine();
        handle = fs_open(path.c_str(), FS_O_READ);
    }
    if (handle < 0)
        return std::nullopt;

    std::string content;
    constexpr std::size_t chunk = 1 << 20;
    int failure = 0;
    for (;;) {
        // One byte past the limit tells a file of exactly maxBytes from a longer one.
        const std::size_t want = std::min(chunk, maxBytes - content.size() + 1);
        const std::size_t old = content.size();
        content.resize(old + want);
        int got;
        {
            auto engine = XXDiskFileManager::lockEngine();
            got = fs_read(handle, content.data() + old, static_cast<std::uint32_t>(want));
        }
        if (got < 0) {
            failure = errno;
            content.resize(old);
            break;
        }
        content.resize(old + static_cast<std::size_t>(got));
        if (got == 0)
            break;
        if (content.size() > maxBytes) {
            failure = EFBIG;
            break;
        }
    }
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_close(handle);
    }
    if (failure != 0) {
        errno = failure;
        return std::nullopt;
    }
    return content;
}
