// put, mkdir, rm and mv: changing the vault.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>

#include "Commands.h"
#include "Transfer.h"
#include "Vault.h"
#include "fs.h"

namespace cli {

static void report(const OperationError &err)
{
    fprintf(stderr, "coffervale-cli: %s\n", err.what());
}

static std::string localBaseName(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

static std::vector<std::string> localChildren(const std::string &folder)
{
    DIR *d = opendir(folder.c_str());
    if (!d)
        failErrno(folder, errno);
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// Stores localPath as storeFolder/name; returns the number of items that failed.
static int putItem(Vault &vault, const std::string &localPath, const std::string &storeFolder, bool topLevel)
{
    std::string name = localBaseName(localPath);
    std::string storePath = joinStorePath(storeFolder, name);
    try {
        struct stat st;
        if ((topLevel ? stat(localPath.c_str(), &st) : lstat(localPath.c_str(), &st)) < 0)
            failErrno(localPath, errno);
        if (S_ISLNK(st.st_mode)) {
            // Links inside a folder could loop or lead out of it; a linked file is still taken.
            if (stat(localPath.c_str(), &st) < 0 || !S_ISREG(st.st_mode)) {
                fprintf(stderr, "coffervale-cli: %s: link skipped\n", localPath.c_str());
                return 0;
            }
        }
        auto existing = vault.find(storePath);
        if (S_ISDIR(st.st_mode)) {
            if (existing && !existing->folder)
                throw OperationError(storePath + ": a file of that name is already in the vault");
            if (!existing && fs_mkdir(storePath.c_str()) < 0)
                failErrno(storePath, errno);
            int failures = 0;
            for (const auto &child : localChildren(localPath))
                failures += putItem(vault, localPath + "/" + child, storePath, false);
            return failures;
        }
        if (!S_ISREG(st.st_mode)) {
            fprintf(stderr, "coffervale-cli: %s: not a regular file; skipped\n", localPath.c_str());
            return 0;
        }
        if (existing)
            throw OperationError(storePath + ": already in the vault");
        copyFileIn(localPath, storePath, (uint64_t)st.st_size);
        return 0;
    } catch (const OperationError &err) {
        report(err);
        return 1;
    }
}

int runPut(Invocation &inv)
{
    std::string to = takeOption(inv.args, "--to").value_or("");
    rejectUnknownOptions(inv.args);
    if (inv.args.empty())
        throw UsageError("put needs at least one local file or folder");
    Vault vault(inv.volume);
    vault.login(inv);
    auto guard = vault.lockEngine();
    auto target = vault.find(to);
    if (!target || !target->folder)
        throw OperationError((to.empty() ? "/" : to) + ": no such folder in the vault");
    int failures = 0;
    for (const auto &local : inv.args)
        failures += putItem(vault, local, to, true);
    return failures ? 1 : 0;
}

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

// Removes a folder's content first: files, then the folders below, deepest first.
static void removeRecursively(Vault &vault, const std::string &path)
{
    for (const auto &e : vault.list(path)) {
        std::string child = joinStorePath(path, e.name);
        if (e.folder)
            removeRecursively(vault, child);
        else if (fs_unlink(child.c_str()) < 0)
            failErrno(child, errno);
    }
    if (fs_rmdir(path.c_str()) < 0)
        failErrno(path, errno);
}

int runRm(Invocation &inv)
{
    bool recursive = takeFlag(inv.args, "-r");
    rejectUnknownOptions(inv.args);
    if (inv.args.empty())
        throw UsageError("rm needs at least one path");
    Vault vault(inv.volume);
    vault.login(inv);
    auto guard = vault.lockEngine();
    int failures = 0;
    for (const auto &path : inv.args) {
        try {
            auto e = vault.find(path);
            if (!e || e->name.empty())
                throw OperationError(path + (e ? ": the root folder cannot be removed" : ": not in the vault"));
            std::string exact = joinStorePath(storeParent(path), e->name);
            if (!e->folder) {
                if (fs_unlink(exact.c_str()) < 0)
                    failErrno(path, errno);
            } else if (recursive) {
                removeRecursively(vault, exact);
            } else if (fs_rmdir(exact.c_str()) < 0) {
                if (errno == ENOTEMPTY)
                    throw OperationError(path + ": folder not empty (use rm -r)");
                failErrno(path, errno);
            }
        } catch (const OperationError &err) {
            report(err);
            failures++;
        }
    }
    return failures ? 1 : 0;
}

int runMv(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() != 2)
        throw UsageError("mv takes two paths");
    Vault vault(inv.volume);
    vault.login(inv);
    auto guard = vault.lockEngine();
    std::string from = inv.args[0], to = inv.args[1];
    auto source = vault.find(from);
    if (!source || source->name.empty())
        throw OperationError(from + ": not in the vault");
    // Moving onto a folder moves into it, as mv does.
    auto target = vault.find(to);
    if (target && target->folder)
        to = joinStorePath(to, source->name);
    if (fs_rename(from.c_str(), to.c_str()) < 0) {
        if (errno == EEXIST)
            throw OperationError(to + ": already in the vault");
        if (errno == EINVAL && source->folder)
            throw OperationError(from + ": a folder cannot move into itself");
        failErrno(from, errno);
    }
    return 0;
}

} // namespace cli
