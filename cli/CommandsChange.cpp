// mkdir, and mv to a new name: the service's create-folder and rename calls (put, get, cp,
// mv into a folder and rm: CommandsTransfer.cpp).
#include <functional>
#include <optional>

#include "Commands.h"
#include "Vault.h"
#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"

namespace cli {

namespace {

std::string shown(const std::string &path)
{
    return path.empty() ? "/" : path;
}

// The tree's spelling of a folder's full path: "/" for the root, else "/" and the components.
std::string treeFolderPath(const std::string &folder)
{
    return "/" + joinStorePath("", folder);
}

// The entry at path as the service's rename takes it: the tree's, or, for a file the tree
// leaves out (an empty one), one made from the store's listing.
std::shared_ptr<XXProtectFileWrapper> renameTarget(Vault &vault, const std::string &path)
{
    if (auto inTree = vault.treeEntry(path))
        return inTree;
    std::optional<StoreEntry> stored = vault.find(path);
    if (!stored || stored->folder)
        return nullptr;
    auto made = std::make_shared<XXProtectFileWrapper>();
    made->setParentFolderPath(treeFolderPath(storeParent(path)));
    made->setFileName(stored->name);
    made->setFileSize(stored->size);
    return made;
}

}  // namespace

int runMkdir(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() != 1)
        throw UsageError("mkdir takes one path");
    const std::string &path = inv.args[0];
    const std::string parent = storeParent(path);
    Vault vault(inv.volume);
    vault.login(inv);
    // These are the usual refusals, said before the store is asked.
    if (std::optional<StoreEntry> in = vault.find(parent); !in || !in->folder)
        throw OperationError(shown(parent) + ": no such folder in the vault");
    if (!storeBaseName(path).empty() && vault.find(path))
        throw OperationError(path + ": already in the vault");

    std::optional<XXDiskResultObject> result;
    vault.manager().createDirInFolderPath(treeFolderPath(parent), storeBaseName(path),
                                          [&](const XXDiskResultObject &r) { result.emplace(r); });
    if (result && result->isSuccess())
        return 0;
    if (!result || result->failedCall() == XXEngineCall::mkdir)
        throw OperationError(shown(path) + ": the folder could not be made: " +
                             causeText(result ? result->systemErrorNumber() : 0));
    throw OperationError(shown(path) + ": " + result->errorTips());
}

int renameEntry(Vault &vault, const std::string &from, const std::string &to)
{
    // The service renames an entry where it lies; moving is mv into a folder.
    if (!sameStoreName(storeParent(from), storeParent(to)))
        throw OperationError(to + ": a new name must stay in the folder of " + from + " (move it with mv " +
                             from + " FOLDER first)");
    auto entry = renameTarget(vault, from);
    if (!entry || storeBaseName(from).empty())
        throw OperationError(from + ": not in the vault");
    const std::string name = storeBaseName(to);
    if (vault.find(to))
        throw OperationError(to + ": already in the vault");
    if (std::optional<std::string> refused = vault.manager().renameProtectWrapper(*entry, name))
        throw OperationError(from + ": " + *refused);
    return 0;
}

}  // namespace cli
