#include "XXCacheInstance.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "XXPrivateCacheFolder.h"
#include "XXServiceLog.h"
#include "XXTool.h"

namespace fsys = std::filesystem;

namespace xxcache {

namespace {

constexpr const char *kInstancePrefix = "run-";
constexpr const char *kClaimingPrefix = ".new-";
constexpr const char *kLockName = "owner.lock";
constexpr const char *kStampFolder = "stamps";
constexpr const char *kCacheNames[] = {"cacheFolder", "CachePasteFolder"};
// A folder being claimed has its lock within a moment; one without a lock this old is debris.
constexpr auto kClaimGrace = std::chrono::minutes(1);

struct Claim {
    std::string folder;
    int lockFd = -1;
};

std::mutex &claimsMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Claims by application folder: tests move the runtime folder between cases.
std::map<std::string, Claim> &claims()
{
    static std::map<std::string, Claim> all;
    return all;
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool isOwnFolder(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

std::optional<Claim> claimIn(const std::string &application)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string pattern = application + "/" + kClaimingPrefix + "XXXXXX";
        if (!mkdtemp(pattern.data())) {
            XXServiceLogf("cannot make an instance folder: errno %d", errno);
            return std::nullopt;
        }
        const std::string claiming = pattern;
        const std::string lockPath = claiming + "/" + kLockName;
        const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
            XXServiceLogf("cannot lock the instance folder: errno %d", errno);
            if (fd >= 0)
                close(fd);
            removeFolder(claiming);
            return std::nullopt;
        }
        const std::string pid = std::to_string(getpid()) + "\n";
        if (write(fd, pid.data(), pid.size()) < 0)
            XXServiceLogf("cannot note the pid in the lock: errno %d", errno);
        const std::string suffix = claiming.substr(claiming.size() - 6);
        const std::string folder = application + "/" + kInstancePrefix + suffix;
        // Renamed only once locked: a cleaner never sees a run folder without its lock held.
        if (rename(claiming.c_str(), folder.c_str()) == 0)
            return Claim{folder, fd};
        close(fd);
        removeFolder(claiming);
    }
    return std::nullopt;
}

std::string relativeTo(const std::string &instance, const std::string &path)
{
    const std::string prefix = instance + "/";
    return startsWith(path, prefix) ? path.substr(prefix.size()) : path;
}

std::string stampPath(const std::string &instance, const std::string &relative)
{
    return instance + "/" + kStampFolder + "/" + XXTool::md5ForString(relative);
}

}  // namespace

std::string copyState(const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return std::string();
    std::ostringstream line;
    line << st.st_ino << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec << ' ' << st.st_mtim.tv_nsec;
    return line.str();
}

namespace {

// A stamp is the state line, then the copy's path inside the instance folder.
struct Stamp {
    std::string state;
    std::string relative;
};

std::optional<Stamp> readStamp(const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    Stamp stamp;
    if (!in || !std::getline(in, stamp.state))
        return std::nullopt;
    std::ostringstream rest;
    rest << in.rdbuf();
    stamp.relative = rest.str();
    return stamp;
}

std::vector<std::pair<std::string, Stamp>> allStamps(const std::string &instance)
{
    std::vector<std::pair<std::string, Stamp>> stamps;
    std::error_code error;
    for (fsys::directory_iterator it(instance + "/" + kStampFolder, error), end; !error && it != end;
         it.increment(error))
        if (auto stamp = readStamp(it->path().string()))
            stamps.emplace_back(it->path().string(), *stamp);
    return stamps;
}

// Removes what lies below folder except the kept paths and the folders that hold them.
// True when folder itself could go.
bool removeAllBut(const std::string &folder, const std::set<std::string> &kept)
{
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        if (kept.count(folder))
            return false;
        return unlink(folder.c_str()) == 0 || errno == ENOENT;
    }
    bool empty = true;
    std::error_code error;
    std::vector<std::string> children;
    for (fsys::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        children.push_back(it->path().string());
    if (error)
        empty = false;
    for (const std::string &child : children)
        if (!removeAllBut(child, kept))
            empty = false;
    if (!empty)
        return false;
    return rmdir(folder.c_str()) == 0 || errno == ENOENT;
}

std::vector<std::string> clearEndedInstance(const std::string &folder)
{
    std::vector<std::string> kept;
    for (const char *name : kCacheNames) {
        auto changed = removeCacheKeepingChanged(folder, name);
        kept.insert(kept.end(), changed.begin(), changed.end());
    }
    if (kept.empty())
        removeFolder(folder);
    return kept;
}

}  // namespace

std::optional<std::string> instanceFolder()
{
    const std::string application = applicationFolderPath();
    if (application.empty())
        return std::nullopt;
    std::lock_guard<std::mutex> lock(claimsMutex());
    // Made private again at every use: someone may have opened it up meanwhile.
    if (!privateApplicationFolder())
        return std::nullopt;
    if (auto found = claims().find(application); found != claims().end() && isOwnFolder(found->second.folder))
        return makePrivateFolder(found->second.folder) ? std::optional<std::string>(found->second.folder)
                                                       : std::nullopt;
    std::optional<Claim> claim = claimIn(application);
    if (!claim)
        return std::nullopt;
    if (auto old = claims().find(application); old != claims().end() && old->second.lockFd >= 0)
        close(old->second.lockFd);
    claims()[application] = *claim;
    return claim->folder;
}

std::optional<std::string> claimedInstanceFolder()
{
    const std::string application = applicationFolderPath();
    std::lock_guard<std::mutex> lock(claimsMutex());
    if (auto found = claims().find(application); found != claims().end())
        return found->second.folder;
    return std::nullopt;
}

bool recordStamp(const std::string &instance, const std::string &copyPath, const std::string &state)
{
    if (state.empty() || !makePrivateFolder(instance + "/" + kStampFolder))
        return false;
    const std::string relative = relativeTo(instance, copyPath);
    const std::string file = stampPath(instance, relative);
    const std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << state << '\n' << relative;
        if (!out.flush())
            return false;
    }
    return rename(temporary.c_str(), file.c_str()) == 0;
}

bool changedSinceStamp(const std::string &instance, const std::string &copyPath)
{
    const std::optional<Stamp> stamp = readStamp(stampPath(instance, relativeTo(instance, copyPath)));
    if (!stamp)
        return false;
    const std::string now = copyState(copyPath);
    return !now.empty() && now != stamp->state;
}

std::vector<std::string> removeCacheKeepingChanged(const std::string &instance, const std::string &name)
{
    const std::string cache = instance + "/" + name;
    std::vector<std::string> kept;
    std::set<std::string> keep;
    for (const auto &[file, stamp] : allStamps(instance)) {
        if (!startsWith(stamp.relative, name + "/"))
            continue;
        const std::string copy = instance + "/" + stamp.relative;
        if (changedSinceStamp(instance, copy)) {
            kept.push_back(copy);
            keep.insert(copy);
        } else {
            unlink(file.c_str());
        }
    }
    removeAllBut(cache, keep);
    return kept;
}

std::vector<std::string> removeLeftoversOfEndedRuns()
{
    const std::string application = applicationFolderPath();
    std::vector<std::string> kept;
    if (application.empty() || !isOwnFolder(application))
        return kept;
    const std::optional<std::string> own = claimedInstanceFolder();
    std::error_code error;
    std::vector<fsys::directory_entry> entries;
    for (fsys::directory_iterator it(application, error), end; !error && it != end; it.increment(error))
        entries.push_back(*it);
    for (const fsys::directory_entry &entry : entries) {
        const std::string name = entry.path().filename().string();
        const std::string folder = entry.path().string();
        const bool instance = startsWith(name, kInstancePrefix);
        const bool claiming = startsWith(name, kClaimingPrefix);
        if (name == kCacheNames[0] || name == kCacheNames[1]) {
            // An earlier version's caches, shared by all its runs and emptied at each start.
            auto changed = removeCacheKeepingChanged(application, name);
            kept.insert(kept.end(), changed.begin(), changed.end());
            continue;
        }
        if ((!instance && !claiming) || (own && folder == *own) || !isOwnFolder(folder))
            continue;
        const std::string lockPath = folder + "/" + kLockName;
        const int fd = open(lockPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            struct stat st {};
            const bool young = lstat(folder.c_str(), &st) == 0 &&
                std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(st.st_mtime) <
                    kClaimGrace;
            if (errno == ENOENT && !(claiming && young)) {
                auto changed = clearEndedInstance(folder);
                kept.insert(kept.end(), changed.begin(), changed.end());
            }
            continue;
        }
        // Held while clearing: the run is over, and nobody takes over its folder.
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            auto changed = clearEndedInstance(folder);
            kept.insert(kept.end(), changed.begin(), changed.end());
        }
        close(fd);
    }
    for (const std::string &path : kept)
        XXServiceLogf("a changed copy that is not in the vault is kept: %s", XXServiceLogEscaped(path).c_str());
    return kept;
}

void releaseInstanceFolder()
{
    const std::string application = applicationFolderPath();
    std::lock_guard<std::mutex> lock(claimsMutex());
    auto found = claims().find(application);
    if (found == claims().end())
        return;
    const Claim claim = found->second;
    claims().erase(found);
    if (isOwnFolder(claim.folder))
        clearEndedInstance(claim.folder);
    if (claim.lockFd >= 0)
        close(claim.lockFd);
}

}  // namespace xxcache
