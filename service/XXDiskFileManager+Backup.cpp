// The backups' listing under the backup root of the current location setting (the copies
// themselves are XXBackupJob's).
#include <filesystem>

#include "XXBackupFolders.h"
#include "XXDiskFileManager.h"

namespace fs = std::filesystem;

namespace {

// Exact, unlike the single-precision size of XXTool, so large backups list their true size.
std::uint64_t folderSizeInBytes(const std::string &path)
{
    std::uint64_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const std::uintmax_t size = it->file_size(sizeError);
            if (!sizeError)
                total += size;
        }
    }
    return total;
}

}  // namespace

std::string XXDiskFileManager::backupRootFolderPath()
{
    return xxbackup::backupRootForLocation(acquireCurrentLocationSetting());
}

XXFileArray XXDiskFileManager::allBackUpFolders()
{
    XXFileArray folders;
    XXFileWrapper root(backupRootFolderPath());
    for (const std::shared_ptr<XXFileWrapper> &child : root.allSubFileArray()) {
        if (!child->isDirectory() || !xxbackup::isBackupFolderName(child->fileName()))
            continue;
        child->setFolderSize(folderSizeInBytes(child->systemPath()));
        folders.push_back(child);
    }
    return folders;
}
