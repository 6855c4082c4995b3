#include "XXTimeoutSettings.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "XXDiskFileManager.h"
#include "XXServiceLog.h"
#include "fs.h"

namespace {

// Entry names are written as given but read lowercased (the configuration syntax folds them).
struct Key {
    const char *write;
    const char *read;
};
constexpr Key kIdleLockMinutes = {"coffervale.idleLockMinutes", "coffervale.idlelockminutes"};
constexpr Key kLockOnScreenLock = {"coffervale.lockOnScreenLock", "coffervale.lockonscreenlock"};

std::optional<std::string> readValue(const Key &key)
{
    auto engine = XXDiskFileManager::lockEngine();
    char *value = fs_get_config(key.read);
    if (!value)
        return std::nullopt;
    std::string text = value;
    std::free(value);
    return text;
}

// The engine does not report whether a set worked; reading it back does.
bool writeValue(const Key &key, const std::string &value, int &err)
{
    auto engine = XXDiskFileManager::lockEngine();
    errno = 0;
    fs_set_config(key.write, value.c_str());
    const int setErr = errno;
    if (readValue(key) == value)
        return true;
    err = setErr;
    XXServiceLogf("setting %s was not stored (errno %d)", key.write, setErr);
    return false;
}

std::optional<int> minutesOf(const std::string &text)
{
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int minutes = std::stoi(text);
    if (minutes > XXTimeoutValues::maxIdleLockMinutes)
        return std::nullopt;
    return minutes;
}

}  // namespace

namespace xxtimeout {

XXTimeoutValues readTimeoutSettings()
{
    XXTimeoutValues values;
    if (const auto text = readValue(kIdleLockMinutes))
        values.idleLockMinutes = minutesOf(*text).value_or(XXTimeoutValues::defaultIdleLockMinutes);
    if (const auto text = readValue(kLockOnScreenLock))
        values.lockOnScreenLock = *text != "no";
    return values;
}

bool writeTimeoutSettings(const XXTimeoutValues &values, int *systemErrorNumber)
{
    if (systemErrorNumber)
        *systemErrorNumber = 0;
    if (values.idleLockMinutes < 0 || values.idleLockMinutes > XXTimeoutValues::maxIdleLockMinutes)
        return false;
    int err = 0;
    const bool minutesStored = writeValue(kIdleLockMinutes, std::to_string(values.idleLockMinutes), err);
    const bool lockStored = writeValue(kLockOnScreenLock, values.lockOnScreenLock ? "yes" : "no", err);
    if (systemErrorNumber)
        *systemErrorNumber = err;
    return minutesStored && lockStored;
}

}  // namespace xxtimeout
