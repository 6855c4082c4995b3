#include "XXWriteBack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <vector>

#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"
#include "XXServiceLog.h"
#include "XXServiceText.h"
#include "XXTool.h"
#include "XXTransferNames.h"
#include "XXTransferTypes.h"
#include "fs.h"

namespace {

XXDiskResultObject failed(int systemError)
{
    return XXDiskResultObject::engineRefused(XXEngineCall::writeBack, 0, systemError);
}

// A hidden name no entry of the folder has, as the store compares names.
std::optional<std::string> freeTemporaryName(const std::string &folderPath, const std::string &name)
{
    xxtransfer::XXFoldedNames taken;
    fs_dir *dir = fs_opendir(folderPath.c_str());
    if (!dir)
        return std::nullopt;
    while (const fs_dirent *record = fs_readdir(dir))
        taken.add(record->name, record->type == FS_DT_DIR);
    fs_closedir(dir);
    for (int number = 0; number < 1000; ++number) {
        std::string candidate = "." + name + ".saving" + std::to_string(number);
        if (candidate.size() > 255)
            candidate = ".saving" + std::to_string(number) + "." + std::to_string(getpid());
        if (!taken.hasAny(candidate))
            return candidate;
    }
    return std::nullopt;
}

// Stores the computer file at source as a new store file; a partial one is removed again.
int storeCopy(int source, std::uint64_t size, const std::string &target)
{
    int handle;
    {
        auto engine = XXDiskFileManager::lockEngine();
        handle = fs_open(target.c_str(), FS_O_WRITE, size);
    }
    if (handle < 0)
        return errno;
    std::vector<char> buffer(XXTransferChunkSize);
    std::uint64_t done = 0;
    int failure = 0;
    while (done < size && failure == 0) {
        const ssize_t got = read(source, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // Shorter than it was at the start: an editor is still writing it.
            failure = got < 0 ? errno : EIO;
            break;
        }
        const std::uint64_t take = std::min<std::uint64_t>(static_cast<std::uint64_t>(got), size - done);
        auto engine = XXDiskFileManager::lockEngine();
        if (fs_write(handle, buffer.data(), static_cast<std::uint32_t>(take)) != static_cast<int>(take))
            failure = errno != 0 ? errno : EIO;
        done += take;
    }
    auto engine = XXDiskFileManager::lockEngine();
    if (fs_close(handle) != 0 && failure == 0)
        failure = errno != 0 ? errno : EIO;
    if (failure != 0)
        fs_unlink(target.c_str());
    return failure;
}

}  // namespace

XXDiskResultObject writeBackChangedCopy(XXDiskFileManager &manager,
                                        const std::shared_ptr<XXProtectFileWrapper> &entry,
                                        const std::string &changedCopyPath)
{
    if (!entry || entry->isDirectory() || entry->isRootWrapper() || entry->isRootContainerWrapper())
        return failed(EINVAL);
    if (!manager.mountSuccess() || !manager.isLogin())
        return failed(EBADF);

    const int source = open(changedCopyPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (source < 0) {
        const int error = errno;
        XXServiceLogf("writeBackOpenFailed_%d", error);
        return failed(error);
    }
    struct stat st {};
    if (fstat(source, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
        close(source);
        return failed(error);
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);

    const std::string folder = entry->parentFolderPath();
    const std::string path = entry->fullPath();
    std::optional<std::string> temporary;
    {
        auto engine = XXDiskFileManager::lockEngine();
        temporary = freeTemporaryName(folder, entry->fileName());
    }
    if (!temporary) {
        close(source);
        return failed(errno != 0 ? errno : EEXIST);
    }
    const std::string temporaryPath = xxservice::joinFullPath(folder, *temporary);
    const int storeError = storeCopy(source, size, temporaryPath);
    close(source);
    if (storeError != 0) {
        XXServiceLogf("writeBackStoreFailed_%d", storeError);
        return failed(storeError);
    }

    // Held across both steps so no other call sees the folder between them.
    auto engine = XXDiskFileManager::lockEngine();
    if (fs_unlink(path.c_str()) != 0) {
        const int error = errno;
        XXServiceLogf("writeBackRemoveFailed_%d", error);
        fs_unlink(temporaryPath.c_str());
        return failed(error);
    }
    if (fs_rename(temporaryPath.c_str(), path.c_str()) != 0) {
        const int error = errno;
        XXServiceLogf("writeBackRenameFailed_%d_%s", error, XXServiceLogEscaped(temporaryPath).c_str());
        return failed(error);
    }
    entry->setFileSize(size);
    entry->setCreateDateString(XXTool::changeTimeStringWith(static_cast<std::int64_t>(time(nullptr))));
    return XXDiskResultObject::success();
}
