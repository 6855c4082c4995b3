// ls, tree, find and cat: reading the vault (get: CommandsTransfer.cpp).
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Commands.h"
#include "Transfer.h"
#include "Vault.h"
#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"

namespace cli {

static void printEntry(const XXProtectFileWrapper &w)
{
    const std::string size = w.isDirectory() ? "folder"
        : w.isUnfinished()                   ? "unfinished"
                                             : humanSize(w.fileSize());
    printf("%10s  %s  %s%s\n", size.c_str(), w.createDateString().c_str(),
           printableName(w.fileName()).c_str(), w.isDirectory() ? "/" : "");
}

static StoreEntry existing(const Vault &vault, const std::string &path)
{
    auto e = vault.find(path);
    if (!e)
        throw OperationError(printableName(path) + ": not in the vault");
    return *e;
}

static std::shared_ptr<XXProtectFileWrapper> existingInTree(Vault &vault, const std::string &path)
{
    auto w = vault.treeEntry(path);
    if (!w)
        throw OperationError(printableName(path) + ": not in the vault");
    return w;
}

// Listings follow the window: folders first, then files by kind, each group by name.
int runLs(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() > 1)
        throw UsageError("ls takes at most one path");
    Vault vault(inv.volume);
    vault.login(inv);
    auto w = existingInTree(vault, inv.args.empty() ? "" : inv.args[0]);
    if (!w->isDirectory()) {
        printEntry(*w);
        return 0;
    }
    w->sortFilesWithType(XXProtectFileWrapper::SortNameAscending);
    for (const auto &child : w->allSubFileArray())
        printEntry(*child);
    fflush(stdout);
    vault.requireReadableBelow(inv.args.empty() ? "" : inv.args[0]);
    return 0;
}

static void printTree(XXProtectFileWrapper &folder, const std::string &indent)
{
    folder.sortFilesWithType(XXProtectFileWrapper::SortNameAscending);
    for (const auto &child : folder.allSubFileArray()) {
        printf("%s%s%s\n", indent.c_str(), printableName(child->fileName()).c_str(),
               child->isDirectory() ? "/" : "");
        if (child->isDirectory())
            printTree(*child, indent + "  ");
    }
}

int runTree(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() > 1)
        throw UsageError("tree takes at most one path");
    std::string path = inv.args.empty() ? "" : inv.args[0];
    Vault vault(inv.volume);
    vault.login(inv);
    auto w = existingInTree(vault, path);
    if (!w->isDirectory())
        throw OperationError(path + ": not a folder");
    printTree(*w, "");
    fflush(stdout);
    vault.requireReadableBelow(path);
    return 0;
}

int runFind(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() != 1)
        throw UsageError("find takes one keyword");
    Vault vault(inv.volume);
    vault.login(inv);
    auto matches = vault.manager().searchFileWithKeyString(inv.args[0], vault.tree());
    for (const auto &w : matches)
        printf("%s%s\n", printableName(w->fullPath()).c_str(), w->isDirectory() ? "/" : "");
    fflush(stdout);
    vault.requireReadableBelow("");
    return matches.empty() ? 1 : 0;
}

int runCat(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() != 1)
        throw UsageError("cat takes one path");
    Vault vault(inv.volume);
    vault.login(inv);
    auto guard = vault.lockEngine();
    StoreEntry e = existing(vault, inv.args[0]);
    if (e.folder)
        throw OperationError(inv.args[0] + ": is a folder");
    fflush(stdout);
    streamFileOut(inv.args[0], e.size, STDOUT_FILENO, inv.args[0]);
    return 0;
}

}  // namespace cli
