// The commands of coffervale-cli. Each returns the exit status or throws CliSupport errors.
#pragma once

#include <string>
#include <vector>

#include "CliSupport.h"

namespace cli {

class Vault;

struct Command {
    const char *name;
    const char *usage;  // after "coffervale-cli --volume DIR "
    const char *summary;
    int (*run)(Invocation &inv);
    bool needsVolume = true;  // false: the command works without --volume
};

const std::vector<Command> &allCommands();

int runInit(Invocation &inv);
int runHint(Invocation &inv);
int runPasswd(Invocation &inv);
int runConfig(Invocation &inv);
int runLs(Invocation &inv);
int runTree(Invocation &inv);
int runCat(Invocation &inv);
int runGet(Invocation &inv);
int runPut(Invocation &inv);
int runMkdir(Invocation &inv);
int runRm(Invocation &inv);
int runMv(Invocation &inv);
int runCp(Invocation &inv);
int runCheck(Invocation &inv);
int runSettings(Invocation &inv);
int runFind(Invocation &inv);
int runBackup(Invocation &inv);
int runBackups(Invocation &inv);
int runRestore(Invocation &inv);
int runInstallApp(Invocation &inv);

// mv to a new name in the same folder, through the service's rename; other folders are
// refused. Returns the exit status or throws.
int renameEntry(Vault &vault, const std::string &from, const std::string &to);

}  // namespace cli
