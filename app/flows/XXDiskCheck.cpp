#include "XXDiskCheck.h"

#include "XXDiskFileManager.h"
#include "XXDiskTool.h"
#include "XXServiceLog.h"

namespace {

// A volume holds the program when the program's folder is the volume or lies below it; a
// bare text search would take "/media/a/STICK" for the program's volume in
// "/media/a/STICK2/Coffervale".
bool holdsPath(const std::string &volume, const std::string &path)
{
    if (volume.empty() || path.compare(0, volume.size(), volume) != 0)
        return false;
    return path.size() == volume.size() || volume.back() == '/' || path[volume.size()] == '/';
}

}  // namespace

XXVolumeSource &XXVolumeSource::current()
{
    static XXVolumeSource source{
        [] { return XXDiskTool::shareDiskTool().loadedDisk(); },
        [] { return XXDiskTool::getAppRunPath(); },
        [](XXDiskToolDelegate *delegate) { XXDiskTool::shareDiskTool().setDiskToolDelegate(delegate); },
    };
    return source;
}

std::optional<std::string> chooseVolume(const XXDiskDictionary &disks, const std::string &appRunPath)
{
    std::optional<std::string> chosen;
    for (const auto &[name, disk] : disks) {
        XXServiceLog("volume examined: " + XXServiceLogEscaped(disk.volumePath));
        chosen = disk.volumePath;
        if (!appRunPath.empty() && holdsPath(disk.volumePath, appRunPath))
            break;
    }
    return chosen;
}

XXDiskCheckOutcome runDiskCheck()
{
    XXDiskCheckOutcome outcome;
    const XXVolumeSource &source = XXVolumeSource::current();
    const auto disks = source.loadedDisk ? source.loadedDisk() : std::nullopt;
    const auto volume =
        disks ? chooseVolume(*disks, source.appRunPath ? source.appRunPath() : "") : std::nullopt;
    if (!volume)
        return outcome;
    outcome.volumePath = *volume;
    XXDiskFileManager::shareDiskFileManager().startManagerWithDiskPath(
        *volume, [&outcome](const XXDiskResultObject &result) { outcome.result = result; });
    outcome.kind = outcome.result.isSuccess() ? XXDiskCheckOutcome::opened : XXDiskCheckOutcome::failed;
    return outcome;
}
