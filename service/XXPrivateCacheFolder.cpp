#include "XXPrivateCacheFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "XXServiceLog.h"

namespace xxcache {

namespace {

constexpr const char *kApplicationFolderName = "TovinUSBENC";

// A variable naming an absolute path; relative values are to be ignored.
std::optional<std::string> absoluteFromEnvironment(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || value[0] != '/')
        return std::nullopt;
    return std::string(value);
}

std::string homeFolder()
{
    if (std::optional<std::string> home = absoluteFromEnvironment("HOME"))
        return *home;
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return entry->pw_dir;
    return std::string();
}

bool isUsableRuntimeFolder(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

std::string applicationFolderPath()
{
    if (std::optional<std::string> runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR");
        runtime && isUsableRuntimeFolder(*runtime))
        return *runtime + "/" + kApplicationFolderName;
    std::optional<std::string> cache = absoluteFromEnvironment("XDG_CACHE_HOME");
    if (!cache) {
        const std::string home = homeFolder();
        if (home.empty())
            return std::string();
        cache = home + "/.cache";
    }
    return *cache + "/" + kApplicationFolderName;
}

bool makePrivateFolder(const std::string &path)
{
    if (mkdir(path.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST) {
        XXServiceLogf("cannot create the private folder %s: errno %d", XXServiceLogEscaped(path).c_str(),
                      errno);
        return false;
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        XXServiceLogf("not using %s: not a folder of this user", XXServiceLogEscaped(path).c_str());
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) {
        XXServiceLogf("cannot make %s private: errno %d", XXServiceLogEscaped(path).c_str(), errno);
        return false;
    }
    return true;
}

std::optional<std::string> privateApplicationFolder()
{
    const std::string application = applicationFolderPath();
    if (application.empty())
        return std::nullopt;
    // The cache home may not exist yet; what is made there for us is ours alone.
    const std::filesystem::path parent = std::filesystem::path(application).parent_path();
    std::error_code ec;
    if (!std::filesystem::exists(parent, ec)) {
        std::filesystem::create_directories(parent, ec);
        if (!ec)
            chmod(parent.c_str(), 0700);
    }
    if (!makePrivateFolder(application))
        return std::nullopt;
    return application;
}

std::optional<std::string> privateFolder(const std::string &name)
{
    const std::optional<std::string> application = privateApplicationFolder();
    if (!application)
        return std::nullopt;
    const std::string folder = *application + "/" + name;
    if (!makePrivateFolder(folder))
        return std::nullopt;
    return folder;
}

bool removeFolder(const std::string &path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) {
        XXServiceLogf("cannot remove %s: %s", XXServiceLogEscaped(path).c_str(), ec.message().c_str());
        return false;
    }
    return true;
}

}  // namespace xxcache
