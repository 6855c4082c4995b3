// mkdir: a folder made in the vault directly (put, get, cp, mv and rm: CommandsTransfer.cpp).
#include <errno.h>

#include "Commands.h"
#include "Vault.h"
#include "fs.h"

namespace cli {

int runMkdir(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() != 1)
        throw UsageError("mkdir takes one path");
    Vault vault(inv.volume);
    vault.login(inv);
    auto guard = vault.lockEngine();
    if (fs_mkdir(inv.args[0].c_str()) < 0)
        failErrno(inv.args[0], errno);
    return 0;
}

}  // namespace cli
