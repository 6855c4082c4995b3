// check: the engine reads every index and every object of the vault and changes nothing;
// this prints what it found. check --repair first cleans up what an interrupted run left.
#include <errno.h>
#include <stdio.h>

#include "Commands.h"
#include "Vault.h"
#include "fs.h"

namespace cli {

static void printProblem(const struct fs_check_problem *problem, void *)
{
    printf("problem: %s\n", printableName(problem->text).c_str());
}

static void printRepair(const char *text, void *)
{
    printf("repaired: %s\n", printableName(text).c_str());
}

int runCheck(Invocation &inv)
{
    const bool repair = takeFlag(inv.args, "--repair");
    rejectUnknownOptions(inv.args);
    if (!inv.args.empty())
        throw UsageError("check takes no arguments but --repair");
    Vault vault(inv.volume);
    vault.login(inv);
    struct fs_check_summary summary = {};
    int problems, err;
    {
        auto guard = vault.lockEngine();
        if (repair && fs_repair(printRepair, nullptr) < 0)
            failErrno("repairing the vault", errno);
        problems = fs_check(printProblem, nullptr, &summary);
        err = errno;
    }
    if (problems < 0)
        failErrno("checking the vault", err);
    printf("%llu folders, %llu files, %s checked; %d problem%s\n", (unsigned long long)summary.folders,
           (unsigned long long)summary.files, humanSize(summary.bytes).c_str(), problems,
           problems == 1 ? "" : "s");
    return problems ? 1 : 0;
}

}  // namespace cli
