#include "XXDiskTool.h"

#include "XXMonitorLog.h"
#include "XXMountMonitor.h"
#include "XXMountTable.h"
#include "XXExecutablePath.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSlashes(std::string path)
{
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

std::uint64_t fileSystemSize(const std::string &path)
{
    struct statvfs info;
    if (statvfs(path.c_str(), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
}

// At a name boundary: "/media/a/STICK" does not hold "/media/a/STICK2/Coffervale".
bool holdsPath(const std::string &volumePath, const std::string &path)
{
    if (volumePath.empty() || path.compare(0, volumePath.size(), volumePath) != 0)
        return false;
    return path.size() == volumePath.size() || path[volumePath.size()] == '/';
}

bool liesUnder(const std::vector<std::string> &roots, const std::string &path)
{
    for (const std::string &configured : roots) {
        const std::string root = withoutTrailingSlashes(configured) + "/";
        if (path.size() > root.size() && path.compare(0, root.size(), root) == 0)
            return true;
    }
    return false;
}

std::mutex sharedMutex;
std::optional<XXDiskToolOptions> sharedOptions;
XXDiskTool *sharedTool = nullptr;

}  // namespace

XXDiskToolOptions XXDiskToolOptions::fromEnvironment(XXRunLoop &loop)
{
    XXDiskToolOptions options = fromEnvironment();
    options.runLoop = &loop;
    return options;
}

XXDiskToolOptions XXDiskToolOptions::fromEnvironment()
{
    XXDiskToolOptions options;
    if (const char *roots = std::getenv("COFFERVALE_MEDIA_ROOTS")) {
        std::string_view rest = roots;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view root = rest.substr(0, colon);
            if (!root.empty() && root.front() == '/')  // relative roots would depend on the cwd
                options.mediaRoots.emplace_back(root);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    if (const char *volume = std::getenv("COFFERVALE_VOLUME"))
        options.volumeFolder = volume;
    options.appRunPath = XXDiskTool::getAppRunPath();
    return options;
}

XXDiskTool::XXDiskTool(XXDiskToolOptions options)
    : loop_(options.runLoop ? *options.runLoop : throw std::invalid_argument("XXDiskTool needs a run loop")),
      center_(options.notificationCenter ? *options.notificationCenter
                                         : XXNotificationCenter::defaultCenter()),
      options_(std::move(options)), alive_(std::make_shared<XXDiskTool *>(this))
{
    if (!options_.volumeFolder.empty()) {
        std::error_code error;
        const fs::path absolute = fs::absolute(options_.volumeFolder, error);
        volumeFolder_ = withoutTrailingSlashes(fs::weakly_canonical(absolute, error).string());
        if (volumeFolder_.empty())
            volumeFolder_ = "/";
    }
}

XXDiskTool::~XXDiskTool() = default;

void XXDiskTool::installShared(XXRunLoop &loop, const std::string &volumeFolder)
{
    std::lock_guard lock(sharedMutex);
    if (sharedTool || sharedOptions)
        throw std::logic_error("XXDiskTool::installShared called twice or after shareDiskTool");
    sharedOptions = XXDiskToolOptions::fromEnvironment(loop);
    if (!volumeFolder.empty())
        sharedOptions->volumeFolder = volumeFolder;
}

XXDiskTool &XXDiskTool::shareDiskTool()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedTool) {
        if (!sharedOptions)
            throw std::logic_error("XXDiskTool::shareDiskTool called before installShared");
        // Never deleted: the monitor lives as long as the process.
        sharedTool = new XXDiskTool(*sharedOptions);
        sharedTool->registerDiskNotice();
    }
    return *sharedTool;
}

std::string XXDiskTool::getAppRunPath()
{
    return xxtool::executableFolder();
}

std::string XXDiskTool::runVolume(const XXDiskToolOptions &options)
{
    std::ifstream in(options.procRoot + "/self/mountinfo");
    std::ostringstream text;
    text << in.rdbuf();
    std::string found;
    for (const auto &[name, disk] : XXDescribeMountedDisks(XXParseMountInfo(text.str()), options.sysRoot)) {
        if (disk.volumePath.size() > found.size() && holdsPath(disk.volumePath, options.appRunPath) &&
            liesUnder(options.mediaRoots, disk.volumePath))
            found = disk.volumePath;
    }
    return found;
}

void XXDiskTool::registerDiskNotice()
{
    std::call_once(registered_, [this] {
        // Like the platform's own disk session, the disks already there arrive as events from
        // the loop, so a delegate set right after this call still hears about them.
        loop_.post([alive = std::weak_ptr<XXDiskTool *>(alive_)] {
            if (auto tool = alive.lock())
                (*tool)->startOnLoop();
        });
    });
}

void XXDiskTool::startOnLoop()
{
    XXMountMonitor::Handlers handlers;
    handlers.appeared = [this](const XXDiskDescription &disk) {
        XXMonitorLog("______" + disk.describe());
        diskChange(XXDiskChangePresent, disk);
    };
    handlers.disappeared = [this](const XXDiskDescription &disk) {
        XXMonitorLog("______" + disk.describe());
        diskChange(XXDiskChangeGone, disk);
    };
    handlers.changed = [this](const XXDiskDescription &disk) {
        if (delegate_)
            delegate_->diskDidModify(*this, disk);
    };
    mountMonitor_ =
        std::make_unique<XXMountMonitor>(loop_, options_.procRoot, options_.sysRoot, std::move(handlers));
    mountMonitor_->start();
    reportVolumeFolder();
}

void XXDiskTool::reportVolumeFolder()
{
    if (volumeFolder_.empty())
        return;
    std::error_code error;
    if (!fs::is_directory(volumeFolder_, error)) {
        XXMonitorLog("XXDiskTool: volume folder " + volumeFolder_ + " is not a folder; ignored");
        return;
    }
    XXDiskDescription folder;
    folder.mediaBSDName = std::string(folderVolumeBSDName);
    folder.mediaSize = fileSystemSize(volumeFolder_);
    folder.volumePath = volumeFolder_;
    XXMonitorLog("______" + folder.describe());
    diskChange(XXDiskChangePresent, folder);
}

void XXDiskTool::rescanMountTable()
{
    if (mountMonitor_)
        mountMonitor_->rescan();
}

std::optional<XXDiskDictionary> XXDiskTool::loadedDisk() const
{
    std::lock_guard lock(diskDictMutex_);
    return diskDict_;
}

const XXDiskDictionary &XXDiskTool::diskDict()
{
    std::lock_guard lock(diskDictMutex_);
    if (!diskDict_)
        diskDict_.emplace();
    return *diskDict_;
}

void XXDiskTool::setDiskDict(XXDiskDictionary disks)
{
    std::lock_guard lock(diskDictMutex_);
    diskDict_ = std::move(disks);
}

void XXDiskTool::diskChange(int changeType, const XXDiskDescription &disk)
{
    if (!loop_.isLoopThread()) {
        loop_.post([alive = std::weak_ptr<XXDiskTool *>(alive_), changeType, disk] {
            if (auto tool = alive.lock())
                (*tool)->diskChange(changeType, disk);
        });
        return;
    }
    if (!checkDiskType(disk))
        return;
    if (changeType == XXDiskChangeGone) {
        {
            std::lock_guard lock(diskDictMutex_);
            if (!diskDict_)
                diskDict_.emplace();
            diskDict_->erase(disk.mediaBSDName);
        }
        if (delegate_)
            delegate_->diskDidDismiss(*this, disk);
        center_.post(XXDiskDidMoveoutNotification, std::any(disk.volumePath));
    } else if (changeType == XXDiskChangePresent) {
        {
            std::lock_guard lock(diskDictMutex_);
            if (!diskDict_)
                diskDict_.emplace();
            (*diskDict_)[disk.mediaBSDName] = disk;
        }
        if (delegate_)
            delegate_->diskDidAppear(*this, disk);
    }
}

bool XXDiskTool::checkDiskType(const XXDiskDescription &disk) const
{
    if (disk.mediaBSDName.empty())
        return false;
    // The folder the user named is a volume by choice, whatever it sits on.
    if (!volumeFolder_.empty() && disk.volumePath == volumeFolder_)
        return true;
    if (holdsAppRunPath(disk.volumePath))
        return liesUnderMediaRoot(disk.volumePath);
    if (disk.deviceProtocol != "USB")
        return false;
    if (static_cast<double>(disk.mediaSize) / 1000 / 1000 / 1000 < 4.0)
        return false;
    return liesUnderMediaRoot(disk.volumePath);
}

bool XXDiskTool::holdsAppRunPath(const std::string &volumePath) const
{
    return holdsPath(volumePath, options_.appRunPath);
}

bool XXDiskTool::liesUnderMediaRoot(const std::string &path) const
{
    return liesUnder(options_.mediaRoots, path);
}
