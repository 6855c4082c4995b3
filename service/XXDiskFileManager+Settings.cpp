// The backup settings, kept in the store's configuration file so they travel with the volume.
#include <cerrno>
#include <cstdlib>

#include "XXDiskFileManager.h"
#include "XXServiceLog.h"
#include "XXServiceText.h"
#include "fs.h"

namespace {

constexpr const char *kBackupLocationKey = "backup.location";
constexpr const char *kAutoBackupKey = "auto.backup";
constexpr const char *kBackupNumberKey = "back.number";
constexpr const char *kFixLocationKey = "fix.location";

constexpr std::int64_t kDefaultBackupNumber = 5;

// A choice of 0 or 1 as its stored text; any other choice is stored as "".
std::string choiceText(std::int64_t choice, const char *zero, const char *one)
{
    return choice == 0 ? zero : choice == 1 ? one : "";
}

}  // namespace

std::optional<std::string> XXDiskFileManager::readConfigValue(const char *key)
{
    auto engine = lockEngine();
    char *value = fs_get_config(key);
    if (!value)
        return std::nullopt;
    std::string text = value;
    std::free(value);
    return text;
}

bool XXDiskFileManager::writeConfigValue(const char *key, const std::string &value)
{
    auto engine = lockEngine();
    // The engine does not say whether the write worked; reading it back does, and errno,
    // cleared before, names the call that failed (0 when none left a number, as when no
    // store is mounted).
    errno = 0;
    fs_set_config(key, value.c_str());
    const int err = errno;
    const bool stored = readConfigValue(key) == value;
    lastSettingSystemErrorNumber_.store(stored ? 0 : err);
    if (!stored)
        XXServiceLogf("setting %s was not stored (errno %d)", key, err);
    return stored;
}

std::int64_t XXDiskFileManager::acquireCurrentLocationSetting()
{
    const std::optional<std::string> text = readConfigValue(kBackupLocationKey);
    if (!text || text->empty())
        return 0;
    return *text == "document" ? 0 : 1;
}

bool XXDiskFileManager::setCurrentBackupLocation(std::int64_t choice)
{
    return writeConfigValue(kBackupLocationKey, choiceText(choice, "document", "appData"));
}

bool XXDiskFileManager::isTurnOnAutoBackUp()
{
    const std::optional<std::string> text = readConfigValue(kAutoBackupKey);
    if (!text || text->empty())
        return true;
    return *text == "yes";
}

bool XXDiskFileManager::setBackupSetting(bool turnOn)
{
    return writeConfigValue(kAutoBackupKey, turnOn ? "yes" : "no");
}

std::int64_t XXDiskFileManager::maxBackupFileNumber()
{
    const std::optional<std::string> text = readConfigValue(kBackupNumberKey);
    if (!text || text->empty())
        return kDefaultBackupNumber;
    // Rotation removes every backup beyond this number; a damaged text must not make it
    // remove them all.
    const std::int64_t number = xxservice::integerValue(*text);
    return number < 1 ? 1 : number;
}

bool XXDiskFileManager::setMaxBackupFileNum(const std::string &number)
{
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
        xxservice::integerValue(number) < 1)
        return false;
    return writeConfigValue(kBackupNumberKey, number);
}

std::int64_t XXDiskFileManager::acquireCurrentFixAppLocationSetting()
{
    const std::optional<std::string> text = readConfigValue(kFixLocationKey);
    if (!text || text->empty())
        return 0;
    return *text == "diskArea" ? 0 : 1;
}

bool XXDiskFileManager::setCurrentFixAppLocation(std::int64_t choice)
{
    return writeConfigValue(kFixLocationKey, choiceText(choice, "diskArea", "appArea"));
}
