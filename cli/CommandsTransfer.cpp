// put, get, cp, mv and rm: the service's import, export, copy/move and remove operations.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <filesystem>

#include "Commands.h"
#include "TransferDriver.h"
#include "Vault.h"
#include "XXDiskFileManager.h"
#include "XXFileWrapper.h"
#include "XXProtectFileWrapper.h"
#include "XXProtectStoreWalk.h"
#include "XXServiceLog.h"
#include "fs.h"

namespace cli {

namespace {

void say(const std::string &text)
{
    fprintf(stderr, "coffervale-cli: %s\n", text.c_str());
}

// An absolute path without "." and ".." and trailing slashes, so the item's name is the
// last component the user means ("put ." stores the current folder under its own name).
std::string localPath(const std::string &path)
{
    std::string normal = std::filesystem::absolute(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// The progress line of a whole transfer, fed from the pipeline's (total, done) reports.
class TransferProgress {
public:
    explicit TransferProgress(std::string label) : label_(std::move(label)) {}
    void update(std::uint64_t total, std::uint64_t done)
    {
        if (!line_)
            line_.emplace(label_, total);
        if (done > shown_) {
            line_->advance(done - shown_);
            shown_ = done;
        }
    }

private:
    std::string label_;
    std::optional<Progress> line_;
    std::uint64_t shown_ = 0;
};

// The entry at a store path: the tree's, or, for a file the tree leaves out (an empty one),
// one made from the store's listing. Nothing when the store holds no such entry.
std::shared_ptr<XXProtectFileWrapper> entryAt(Vault &vault, const std::string &path)
{
    if (auto shown = vault.treeEntry(path))
        return shown;
    std::optional<StoreEntry> stored = vault.find(path);
    if (!stored || stored->folder)
        return nullptr;
    auto made = std::make_shared<XXProtectFileWrapper>();
    made->setParentFolderPath("/" + storeParent(path));
    made->setFileName(stored->name);
    made->setFileSize(stored->size);
    return made;
}

// The entries the paths name; names not in the vault are reported and counted.
XXProtectFileArray entriesAt(Vault &vault, const std::vector<std::string> &paths, int &missing)
{
    XXProtectFileArray entries;
    for (const std::string &path : paths) {
        if (auto found = entryAt(vault, path)) {
            entries.push_back(found);
        } else {
            say(path + ": not in the vault");
            missing++;
        }
    }
    return entries;
}

std::shared_ptr<XXProtectFileWrapper> folderAt(Vault &vault, const std::string &path)
{
    auto folder = vault.treeEntry(path);
    if (!folder || !folder->isDirectory()) {
        if (1 + joinStorePath("", path).size() > FS_PATH_MAX)
            throw OperationError(path + ": " + causeText(ENAMETOOLONG));
        throw OperationError((path.empty() ? "/" : path) + ": no such folder in the vault");
    }
    return folder;
}

// What a salvage wrote: for each file that does not read back whole, where its copy is and
// which bytes of it are lost (zeros) or may be wrong. True when there was any.
bool reportSalvaged(const std::vector<XXSalvagedFile> &files)
{
    constexpr size_t kShown = 20;
    for (const XXSalvagedFile &file : files) {
        say(printableName(file.storePath) + ": damaged in the vault; what could be read is in " +
            printableName(file.targetPath));
        uint64_t lost = 0, doubtful = 0;
        for (size_t i = 0; i < file.ranges.size(); i++) {
            const XXSalvagedFile::Range &r = file.ranges[i];
            (r.unreadable ? lost : doubtful) += r.length;
            if (i < kShown)
                fprintf(stderr, "  bytes %llu to %llu (%llu bytes): %s\n", (unsigned long long)r.offset,
                        (unsigned long long)(r.offset + r.length - 1), (unsigned long long)r.length,
                        r.unreadable ? "could not be read; the copy holds zeros there"
                                     : "read, but no checksum confirms them; some may be wrong");
        }
        if (file.ranges.size() > kShown)
            fprintf(stderr, "  and %zu more ranges\n", file.ranges.size() - kShown);
        fprintf(stderr, "  in all %llu of %llu bytes could not be read, %llu may be wrong\n",
                (unsigned long long)lost, (unsigned long long)file.size, (unsigned long long)doubtful);
    }
    return !files.empty();
}

}  // namespace

int runPut(Invocation &inv)
{
    std::string to = takeOption(inv.args, "--to").value_or("");
    const TransferPolicy policy = takeTransferPolicy(inv.args);
    rejectUnknownOptions(inv.args);
    if (inv.args.empty())
        throw UsageError("put needs at least one local file or folder");
    Vault vault(inv.volume);
    vault.login(inv);
    XXDiskFileManager &manager = vault.manager();
    auto destination = folderAt(vault, to);
    XXFileArray items;
    for (const std::string &local : inv.args)
        items.push_back(XXFileWrapper::initWithURL(localPath(local)));

    TransferProgress progress("storing in /" + storeBaseName(to));
    manager.importJob().setProgressBlock(
        [&](std::uint64_t total, std::uint64_t done, const std::string &) { progress.update(total, done); });
    TransferRun run;
    run.start = [&](const XXDiskResultBlock &done) { manager.importJob().start(items, destination, done); };
    run.calls = XXTransferCalls::forImport(manager);
    run.selectedCount = items.size();
    run.currentName = [&] { return manager.importJob().currentItemName(); };
    run.failures = [&] { return manager.importJob().failures(); };
    return driveTransfer(policy, run, {"could not be stored", "is already in the vault"}) ? 1 : 0;
}

int runGet(Invocation &inv)
{
    const bool salvage = takeFlag(inv.args, "--salvage");
    const std::string to = localPath(takeOption(inv.args, "--to").value_or("."));
    const TransferPolicy policy = takeTransferPolicy(inv.args);
    rejectUnknownOptions(inv.args);
    if (inv.args.empty())
        throw UsageError("get needs at least one path");
    struct stat st;
    if (stat(to.c_str(), &st) < 0 || !S_ISDIR(st.st_mode))
        throw OperationError(to + ": not a folder");
    Vault vault(inv.volume);
    vault.login(inv);
    XXDiskFileManager &manager = vault.manager();

    int leftOut = 0;
    XXProtectFileArray entries;
    for (const std::string &path : inv.args) {
        if (!storeBaseName(path).empty()) {
            XXProtectFileArray one = entriesAt(vault, {path}, leftOut);
            entries.insert(entries.end(), one.begin(), one.end());
            continue;
        }
        // The root folder: everything at the top of the vault, empty files included.
        for (const auto &node : xxtransfer::walkProtectFolder(vault.tree())) {
            if (node.depth != 2)
                continue;
            if (node.addressable) {
                entries.push_back(node.wrapper);
            } else {
                say("/" + XXServiceLogEscaped(node.wrapper->fileName()) +
                    ": the vault holds a name that cannot be written here; skipped");
                leftOut++;
            }
        }
    }
    if (entries.empty())
        return leftOut ? 1 : 0;

    auto destination = XXFileWrapper::initWithURL(to);
    TransferProgress progress("writing to " + to);
    manager.exportJob().setProgressBlock(
        [&](std::uint64_t total, std::uint64_t done, const std::string &) { progress.update(total, done); });
    TransferRun run;
    run.start = [&](const XXDiskResultBlock &done) { manager.exportJob().start(entries, destination, done); };
    run.calls = XXTransferCalls::forExport(manager);
    run.selectedCount = entries.size();
    run.currentName = [&] { return manager.exportJob().currentItemName(); };
    run.failures = [&] { return manager.exportJob().failures(); };
    manager.exportJob().setSalvage(salvage);
    leftOut += driveTransfer(policy, run, {"could not be written here", "is already in " + to});
    if (salvage && reportSalvaged(manager.exportJob().salvagedFiles()))
        leftOut++;  // the copies are not the files as they were stored
    return leftOut ? 1 : 0;
}

// cp and mv into a folder of the vault: the last argument.
static int operate(Vault &vault, const std::vector<std::string> &args, const TransferPolicy &policy,
                   bool isCopy)
{
    const std::string to = args.back();
    const std::vector<std::string> sources(args.begin(), args.end() - 1);
    XXDiskFileManager &manager = vault.manager();
    auto destination = folderAt(vault, to);
    int leftOut = 0;
    const XXProtectFileArray entries = entriesAt(vault, sources, leftOut);
    for (const auto &entry : entries)
        if (entry->isRootWrapper())
            throw OperationError("the root folder cannot be " + std::string(isCopy ? "copied" : "moved"));
    if (entries.empty())
        return 1;

    TransferProgress progress(std::string(isCopy ? "copying" : "moving") + " to /" + storeBaseName(to));
    manager.operateJob().setProgressBlock(
        [&](std::uint64_t total, std::uint64_t done, const std::shared_ptr<XXProtectFileWrapper> &) {
            progress.update(total, done);
        });
    TransferRun run;
    run.start = [&](const XXDiskResultBlock &done) {
        manager.operateJob().start(entries, destination, isCopy, done);
    };
    run.calls = XXTransferCalls::forOperate(manager);
    run.selectedCount = entries.size();
    run.currentName = [&] { return manager.operateJob().currentItemName(); };
    run.failures = [&] { return manager.operateJob().failures(); };
    leftOut += driveTransfer(policy, run,
                             {isCopy ? "could not be copied" : "could not be moved", "is already in /" + to});
    manager.operateJob().setProgressBlock(nullptr);
    return leftOut ? 1 : 0;
}

int runCp(Invocation &inv)
{
    const TransferPolicy policy = takeTransferPolicy(inv.args);
    rejectUnknownOptions(inv.args);
    if (inv.args.size() < 2)
        throw UsageError("cp takes one or more paths and a folder");
    Vault vault(inv.volume);
    vault.login(inv);
    return operate(vault, inv.args, policy, true);
}

int runMv(Invocation &inv)
{
    const TransferPolicy policy = takeTransferPolicy(inv.args);
    rejectUnknownOptions(inv.args);
    if (inv.args.size() < 2)
        throw UsageError("mv takes two paths, or paths and a folder");
    Vault vault(inv.volume);
    vault.login(inv);
    if (std::optional<StoreEntry> target = vault.find(inv.args.back()); target && target->folder)
        return operate(vault, inv.args, policy, false);
    if (inv.args.size() != 2)
        throw OperationError(inv.args.back() + ": no such folder in the vault");

    return renameEntry(vault, inv.args[0], inv.args[1]);
}

int runRm(Invocation &inv)
{
    const bool recursive = takeFlag(inv.args, "-r");
    rejectUnknownOptions(inv.args);
    if (inv.args.empty())
        throw UsageError("rm needs at least one path");
    Vault vault(inv.volume);
    vault.login(inv);
    int failures = 0;
    XXProtectFileArray entries;
    std::vector<std::string> paths;
    for (const std::string &path : inv.args) {
        if (storeBaseName(path).empty()) {
            say(path + ": the root folder cannot be removed");
            failures++;
            continue;
        }
        auto entry = entryAt(vault, path);
        if (!entry) {
            say(path + ": not in the vault");
            failures++;
            continue;
        }
        if (entry->isDirectory() && !recursive && !vault.list(entry->fullPath()).empty()) {
            say(path + ": folder not empty (use rm -r)");
            failures++;
            continue;
        }
        entries.push_back(entry);
        paths.push_back(path);
    }
    if (entries.empty())
        return 1;
    // All in one call: the files of one folder then go together, as a full volume needs.
    std::optional<XXDiskResultObject> result;
    vault.manager().removeProtectedFiles(entries, [&](const XXDiskResultObject &r) { result.emplace(r); });
    if (result && result->isSuccess())
        return failures ? 1 : 0;
    const int err = result ? result->systemErrorNumber() : 0;
    const std::string looping = result ? result->errorFileName() : std::string();
    for (size_t i = 0; i < entries.size(); i++) {
        if (!vault.find(paths[i]))
            continue;  // removed before the removal stopped
        const std::string below = entries[i]->fullPath() + "/";
        if (err == ELOOP && looping.compare(0, below.size(), below) == 0)
            say(paths[i] + ": could not be removed entirely: folder " + printableName(looping) +
                " names the index of a folder above it (run check --repair)");
        else
            say(paths[i] + ": could not be removed" + (entries[i]->isDirectory() ? " entirely" : "") + ": " +
                causeText(err));
        failures++;
    }
    return 1;
}

}  // namespace cli
