// settings: the four backup settings kept in the vault's configuration file.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "Commands.h"
#include "Vault.h"
#include "XXDiskFileManager.h"

namespace cli {

static const char *const kSettingsUsage =
    "settings | settings set location document|appData | settings set auto yes|no | "
    "settings set number N | settings set fix diskArea|appArea";

static int parseChoice(const std::string &value, const char *zero, const char *one)
{
    if (value == zero)
        return 0;
    if (value == one)
        return 1;
    throw UsageError(std::string("the value must be ") + zero + " or " + one);
}

int runSettings(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.empty()) {
        Vault vault(inv.volume);
        if (!vault.hasAccount())
            throw OperationError("no vault on " + inv.volume);
        XXDiskFileManager &m = vault.manager();
        printf("location  %s\n", m.acquireCurrentLocationSetting() == 0 ? "document" : "appData");
        printf("auto      %s\n", m.isTurnOnAutoBackUp() ? "yes" : "no");
        printf("number    %lld\n", (long long)m.maxBackupFileNumber());
        printf("fix       %s\n", m.acquireCurrentFixAppLocationSetting() == 0 ? "diskArea" : "appArea");
        return 0;
    }
    if (inv.args.size() != 3 || inv.args[0] != "set")
        throw UsageError(kSettingsUsage);
    const std::string &name = inv.args[1], &value = inv.args[2];
    if (name != "location" && name != "auto" && name != "number" && name != "fix")
        throw UsageError(std::string("unknown setting ") + name + "; " + kSettingsUsage);
    Vault vault(inv.volume);
    vault.login(inv);
    XXDiskFileManager &m = vault.manager();
    bool stored;
    if (name == "location")
        stored = m.setCurrentBackupLocation(parseChoice(value, "document", "appData"));
    else if (name == "auto")
        stored = m.setBackupSetting(parseChoice(value, "no", "yes") == 1);
    else if (name == "number")
        stored = m.setMaxBackupFileNum(value);
    else
        stored = m.setCurrentFixAppLocation(parseChoice(value, "diskArea", "appArea"));
    if (!stored) {
        const int err = m.lastSettingSystemErrorNumber();
        if (name == "number" && (err == 0 || err == EINVAL))
            throw OperationError("number could not be stored (a whole number of at least 1)");
        if (err == EBUSY)
            throw OperationError(
                name + " could not be stored: another program is changing the settings (config.lock)");
        throw OperationError(
            name + " could not be stored: " + (err ? strerror(err) : "the value did not read back"));
    }
    return 0;
}

}  // namespace cli
