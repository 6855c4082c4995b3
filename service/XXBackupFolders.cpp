#include "XXBackupFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "XXTool.h"

namespace xxbackup {

namespace {

constexpr std::string_view kAppFolderName = "TovinUSBENC";
constexpr std::string_view kBackupFolderName = "Backup";

std::string environmentValue(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool isAbsolute(std::string_view path)
{
    return !path.empty() && path.front() == '/';
}

// The text between the double quotes of a dirs-file value, with its backslash escapes
// undone; "" when the value is not quoted as the file format demands.
std::string unquoted(std::string_view value)
{
    if (value.size() < 2 || value.front() != '"')
        return "";
    std::string text;
    for (size_t i = 1; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"')
            return text;
        if (c == '\\' && i + 1 < value.size())
            text += value[++i];
        else
            text += c;
    }
    return "";  // no closing quote
}

std::string_view trimmedLeft(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

}  // namespace

std::string homeFolder()
{
    std::string home = environmentValue("HOME");
    if (!home.empty())
        return home;
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "";
}

std::string documentsFolderFromUserDirs(std::string_view text, const std::string &home)
{
    constexpr std::string_view key = "XDG_DOCUMENTS_DIR";
    std::string found;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = trimmedLeft(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.substr(0, key.size()) != key)
            continue;
        line = trimmedLeft(line.substr(key.size()));
        if (line.empty() || line.front() != '=')
            continue;
        const std::string path = unquoted(trimmedLeft(line.substr(1)));
        // The file's own rule: "$HOME/..." or an absolute path; the last setting wins.
        if (path == "$HOME" || path.rfind("$HOME/", 0) == 0)
            found = home.empty() ? "" : home + path.substr(5);
        else if (isAbsolute(path))
            found = path;
    }
    return found;
}

std::string userDocumentsFolder()
{
    const std::string home = homeFolder();
    std::string configHome = environmentValue("XDG_CONFIG_HOME");
    if (!isAbsolute(configHome))
        configHome = home.empty() ? "" : home + "/.config";
    if (!configHome.empty()) {
        std::ifstream in(configHome + "/user-dirs.dirs", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (std::string documents = documentsFolderFromUserDirs(text, home); !documents.empty())
            return documents;
    }
    return home + "/Documents";
}

std::string userDataFolder()
{
    const std::string dataHome = environmentValue("XDG_DATA_HOME");
    if (isAbsolute(dataHome))
        return dataHome;
    return homeFolder() + "/.local/share";
}

std::string backupRootForLocation(std::int64_t location)
{
    const std::string base = location == 0 ? userDocumentsFolder() : userDataFolder();
    return base + "/" + std::string(kAppFolderName) + "/" + std::string(kBackupFolderName);
}

bool isBackupFolderName(std::string_view name)
{
    // The tool's time points (nanoseconds since 1970) end in 2262; a later year, which only
    // a hand-made folder can carry, would overflow them.
    if (name.size() >= 4 && name.substr(0, 4) > "2261")
        return false;
    return XXTool::shareTool().stringToDate(name).has_value();
}

}  // namespace xxbackup
