// init, hint, passwd and config: the account and the plain-text settings.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cstdlib>
#include <fstream>

#include "Commands.h"
#include "Vault.h"
#include "XXDiskFileManager.h"
#include "XXTool.h"
#include "fs.h"

namespace cli {

static void requireAcceptablePassword(const std::string &password)
{
    switch (XXTool::judgePasswordIsEffective(password)) {
    case 0:
        return;
    case 1:
        throw OperationError("the password is shorter than 6 characters");
    case 2:
        throw OperationError("the password is longer than 32 characters");
    default:
        throw OperationError("the password holds a character that is not allowed");
    }
}

static std::string askHint(std::vector<std::string> &args)
{
    if (auto hint = takeOption(args, "--hint"))
        return *hint;
    return stdinIsTerminal() ? readLine("Password hint (shown before login, may be empty): ") : "";
}

int runInit(Invocation &inv)
{
    std::string hint = askHint(inv.args);
    rejectUnknownOptions(inv.args);
    if (!inv.args.empty())
        throw UsageError("init takes no arguments");
    Vault vault(inv.volume);
    if (vault.hasAccount())
        throw OperationError("a vault already exists on " + inv.volume);
    std::string password = readNewPassword(inv, "New password: ");
    requireAcceptablePassword(password);
    vault.createAccount(password, hint);
    fprintf(stderr, "Created a vault on %s\n", inv.volume.c_str());
    return 0;
}

int runHint(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (!inv.args.empty())
        throw UsageError("hint takes no arguments");
    Vault vault(inv.volume);
    if (!vault.hasAccount())
        throw OperationError("no vault on " + inv.volume);
    printf("%s\n", vault.manager().acquirePasswordTip().c_str());
    return 0;
}

static std::string newPasswordForChange(const Invocation &inv)
{
    if (const char *env = getenv("COFFERVALE_NEW_PASSWORD"))
        return env;
    Invocation fresh = inv;
    fresh.passwordFile.reset();
    if (getenv("COFFERVALE_PASSWORD"))
        throw OperationError("set COFFERVALE_NEW_PASSWORD for the new password");
    return readNewPassword(fresh, "New password: ");
}

int runPasswd(Invocation &inv)
{
    std::optional<std::string> newFile = takeOption(inv.args, "--new-password-file");
    std::optional<std::string> hint = takeOption(inv.args, "--hint");
    rejectUnknownOptions(inv.args);
    if (!inv.args.empty())
        throw UsageError("passwd takes no arguments");
    Vault vault(inv.volume);
    std::string oldPassword = vault.login(inv);
    // Without --hint the hint stays as it is (an empty answer on the terminal keeps it too).
    if (!hint) {
        std::string current = vault.manager().acquirePasswordTip();
        std::string typed = stdinIsTerminal() ? readLine("Password hint [" + current + "]: ") : "";
        hint = typed.empty() ? current : typed;
    }
    std::string newPassword;
    if (newFile) {
        std::ifstream in(*newFile);
        if (!in)
            failErrno("password file " + *newFile, errno);
        std::getline(in, newPassword);
    } else {
        newPassword = newPasswordForChange(inv);
    }
    requireAcceptablePassword(newPassword);
    int refusal = 0;
    bool changed = false;
    vault.manager().changePasswordWithOld(oldPassword, newPassword, *hint, [&](const XXDiskResultObject &r) {
        changed = r.isSuccess();
        refusal = r.systemErrorNumber();
    });
    if (!changed && isPasswordRefusal(refusal))
        throw OperationError("the password could not be changed");
    if (!changed && refusal == EBUSY)
        throw OperationError("the password was not changed: another program is changing the settings "
                             "(config.lock); the old password still opens it");
    // The engine writes the new root index beside the old one: a failed write keeps the old.
    if (!changed)
        throw OperationError("the password was not changed: the vault on " + inv.volume +
                             " cannot be read or written (" + strerror(refusal) +
                             "); the old password still opens it");
    fprintf(stderr, "Password changed\n");
    return 0;
}

int runConfig(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() == 2 && inv.args[0] == "get") {
        Vault vault(inv.volume);
        if (!vault.hasAccount())
            throw OperationError("no vault on " + inv.volume);
        char *key = fs_config_key(inv.args[1].c_str());
        if (!key)
            throw OperationError("invalid key " + inv.args[1]);
        char *value;
        {
            auto guard = vault.lockEngine();
            value = fs_get_config(key);
        }
        free(key);
        if (!value)
            throw OperationError(inv.args[1] + " is not set");
        printf("%s\n", value);
        free(value);
        return 0;
    }
    if (inv.args.size() == 3 && inv.args[0] == "set") {
        Vault vault(inv.volume);
        vault.login(inv);
        const std::string &key = inv.args[1];
        auto guard = vault.lockEngine();
        switch (fs_set_config_status(key.c_str(), inv.args[2].c_str())) {
        case FS_CONFIG_OK:
            return 0;
        case FS_CONFIG_INVALID_KEY:
        case FS_CONFIG_NO_SECTION_OR_NAME:
            throw OperationError("invalid key " + key + " (use section.name)");
        case FS_CONFIG_LOCK_FAILED:
            throw OperationError("the configuration file is locked (config.lock exists)");
        case FS_CONFIG_NOTHING_SET:
            throw OperationError(key + " is set more than once; nothing changed");
        case FS_CONFIG_READ_FAILED:
            throw OperationError("the configuration file cannot be read");
        default:
            throw OperationError("the configuration file cannot be written");
        }
    }
    throw UsageError("config get KEY | config set KEY VALUE");
}

}  // namespace cli
