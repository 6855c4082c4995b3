// check: the engine reads every index and every object of the vault and changes nothing;
// this prints what it found. check --repair first cleans up what an interrupted run left, and
// nothing a person could still want.
#include <errno.h>
#include <stdio.h>

#include "Commands.h"
#include "Vault.h"
#include "fs.h"

namespace cli {

namespace {

// What the problems found call for, beyond their own lines.
struct Found {
    bool damagedFiles = false;  // content damaged after its write finished: salvage, not repair
    bool orphans = false;
    bool unreadableFolders = false;
};

void printProblem(const struct fs_check_problem *problem, void *ctx)
{
    printf("problem: %s\n", printableName(problem->text).c_str());
    Found &found = *static_cast<Found *>(ctx);
    switch (problem->kind) {
    case FS_CHECK_OBJECT_MISSING:
    case FS_CHECK_OBJECT_UNREADABLE:
    case FS_CHECK_OBJECT_HEADER:
    case FS_CHECK_CONTENT_DAMAGED:
    case FS_CHECK_SIZE_MISMATCH:
    case FS_CHECK_PART_MISSING:
        found.damagedFiles = found.damagedFiles || !problem->unfinished;
        break;
    case FS_CHECK_ORPHANED_OBJECT:
        found.orphans = true;
        break;
    case FS_CHECK_FOLDER_MISSING:
    case FS_CHECK_FOLDER_DAMAGED:
        found.unreadableFolders = true;
        break;
    default:
        break;
    }
}

}  // namespace

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
    Found found;
    int problems, err;
    {
        auto guard = vault.lockEngine();
        if (repair && fs_repair(printRepair, nullptr) < 0)
            failErrno("repairing the vault", errno);
        problems = fs_check(printProblem, &found, &summary);
        err = errno;
    }
    if (problems < 0)
        failErrno("checking the vault", err);
    printf("%llu folders, %llu files, %s checked; %d problem%s\n", (unsigned long long)summary.folders,
           (unsigned long long)summary.files, humanSize(summary.bytes).c_str(), problems,
           problems == 1 ? "" : "s");
    if (found.damagedFiles)
        printf("note: files damaged after they were stored stay in the vault (repair never removes them); "
               "get --salvage PATH writes out what can still be read of one\n");
    if (found.orphans && found.unreadableFolders)
        printf("note: orphaned objects stay while a folder cannot be read: they may hold its files\n");
    return problems ? 1 : 0;
}

}  // namespace cli
