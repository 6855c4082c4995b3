// ls, tree, cat and get: reading the vault.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "Commands.h"
#include "Transfer.h"
#include "Vault.h"

namespace cli {

static std::string localTime(int64_t t)
{
    time_t tt = (time_t)t;
    struct tm tm {};
    localtime_r(&tt, &tm);
    char buf[32];
    strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M", &tm);
    return buf;
}

static void printEntry(const StoreEntry &e)
{
    printf("%10s  %s  %s%s\n", e.folder ? "folder" : humanSize(e.size).c_str(), localTime(e.time).c_str(), e.name.c_str(),
           e.folder ? "/" : "");
}

static StoreEntry existing(const Vault &vault, const std::string &path)
{
    auto e = vault.find(path);
    if (!e)
        throw OperationError(path + ": not in the vault");
    return *e;
}

int runLs(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() > 1)
        throw UsageError("ls takes at most one path");
    std::string path = inv.args.empty() ? "" : inv.args[0];
    Vault vault(inv.volume);
    vault.login(inv);
    StoreEntry e = existing(vault, path);
    if (!e.folder) {
        printEntry(e);
        return 0;
    }
    for (const auto &child : vault.list(path))
        printEntry(child);
    return 0;
}

static void printTree(const Vault &vault, const std::string &folder, const std::string &indent)
{
    for (const auto &e : vault.list(folder)) {
        printf("%s%s%s\n", indent.c_str(), e.name.c_str(), e.folder ? "/" : "");
        if (e.folder)
            printTree(vault, joinStorePath(folder, e.name), indent + "  ");
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
    if (!existing(vault, path).folder)
        throw OperationError(path + ": not a folder");
    printTree(vault, path, "");
    return 0;
}

int runCat(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() != 1)
        throw UsageError("cat takes one path");
    Vault vault(inv.volume);
    vault.login(inv);
    StoreEntry e = existing(vault, inv.args[0]);
    if (e.folder)
        throw OperationError(inv.args[0] + ": is a folder");
    fflush(stdout);
    streamFileOut(inv.args[0], e.size, STDOUT_FILENO, inv.args[0]);
    return 0;
}

// Copies a stored entry into localFolder under its own name; returns the failures.
static int getEntry(const Vault &vault, const std::string &storePath, const StoreEntry &e, const std::string &localFolder)
{
    if (!isSafeLocalName(e.name)) {
        fprintf(stderr, "coffervale-cli: %s: the vault holds a name that cannot be written here; skipped\n",
                storePath.c_str());
        return 1;
    }
    std::string target = localFolder + "/" + e.name;
    try {
        if (!e.folder) {
            copyFileOut(storePath, e.size, target);
            return 0;
        }
        struct stat st;
        if (mkdir(target.c_str(), 0755) < 0) {
            // An existing real folder is merged into; a link could lead elsewhere.
            if (errno != EEXIST || lstat(target.c_str(), &st) < 0 || !S_ISDIR(st.st_mode))
                failErrno(target, errno == EEXIST ? ENOTDIR : errno);
        }
    } catch (const OperationError &err) {
        fprintf(stderr, "coffervale-cli: %s\n", err.what());
        return 1;
    }
    int failures = 0;
    for (const auto &child : vault.list(storePath))
        failures += getEntry(vault, joinStorePath(storePath, child.name), child, target);
    return failures;
}

int runGet(Invocation &inv)
{
    std::string to = takeOption(inv.args, "--to").value_or(".");
    rejectUnknownOptions(inv.args);
    if (inv.args.empty())
        throw UsageError("get needs at least one path");
    struct stat st;
    if (stat(to.c_str(), &st) < 0 || !S_ISDIR(st.st_mode))
        throw OperationError(to + ": not a folder");
    Vault vault(inv.volume);
    vault.login(inv);
    int failures = 0;
    for (const auto &path : inv.args) {
        auto e = vault.find(path);
        if (!e) {
            fprintf(stderr, "coffervale-cli: %s: not in the vault\n", path.c_str());
            failures++;
        } else if (e->name.empty()) {
            for (const auto &child : vault.list(""))
                failures += getEntry(vault, child.name, child, to);
        } else {
            failures += getEntry(vault, joinStorePath(storeParent(path), e->name), *e, to);
        }
    }
    return failures ? 1 : 0;
}

} // namespace cli
