// A protected folder as the store holds it. The tree leaves empty files out (and misses
// whatever was added behind its back), so anything that copies, exports or removes a whole
// folder walks the store's listings too: a folder is only empty once the store says so.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "XXTransferTypes.h"

class XXProtectFileWrapper;

namespace xxtransfer {

struct XXStoreRecord {
    bool isFolder = false;
    std::uint64_t size = 0;
    std::int64_t time = 0;
    std::string name;
    std::string id;  // the entry's object id, raw bytes
    bool unfinished = false;  // a file whose write never finished (see fs_dirent)
};

// The folder's records, part entries left out; nullopt (errno set) when it cannot be listed.
// With an id (the folder's storeId) the folder is read by it, without resolving path again;
// when that fails the path is tried.
// Takes the engine lock.
std::optional<std::vector<XXStoreRecord>> listStoreFolder(const std::string &path,
                                                          const std::string &id = {});
// True when folder holds a file named name (ASCII case folded) whose content does not read
// back whole: what an interrupted write leaves. Reads the whole file, so call it only on a
// name clash.
bool storeFileIsIncomplete(const std::string &folder, const std::string &name);
// The tree's side of replacing such a file: logs the replacement and takes the file named name
// out of destination's children, so the new entry is not listed twice.
void forgetIncompleteChild(XXProtectFileWrapper &destination, const std::string &name);

class XXFoldedNames;

enum class XXFoldersMade { all, stopped, failed };

// Creates a folder plan's store folders in order and hangs each new entry into the tree.
// The first is the item itself: once it exists, name goes into names. stillLive is asked
// before each folder; a run that ended stops the creation. On failed, *systemError (when
// given) is the errno of the refused fs_mkdir. Takes the engine lock.
XXFoldersMade createStoreFolders(const std::vector<XXStoreFolderRecord> &folders, const std::string &name,
                                 XXFoldedNames &names, const std::function<bool()> &stillLive,
                                 int *systemError = nullptr);

// Takes the plan's folders out of the tree again, as when the store could not keep them.
void forgetStoreFolders(const std::vector<XXStoreFolderRecord> &folders);

// The names in a tree folder and in the store's listing of it (which also shows empty files).
XXFoldedNames namesInTreeAndStore(const XXProtectFileWrapper &folder);

struct XXProtectWalkNode {
    std::shared_ptr<XXProtectFileWrapper> wrapper;
    std::shared_ptr<XXProtectFileWrapper> parent;  // the folder node holding it; nullptr for the top
    bool inTree = true;  // false: an entry made for a store entry the tree does not show
    // false: a store entry whose name no path can hold (only a damaged or hostile store has
    // one). Its wrapper's path must never reach the engine or the file system; the walk does
    // not enter it.
    bool addressable = true;
    size_t depth = 1;  // the top is 1
    bool listed = true;  // false: a folder the store could not list; it shows no store entries
    // true: a folder whose index was met before in this walk (a damaged store naming a folder
    // inside itself); it is not entered, and nothing may be done to it but report it.
    bool loops = false;
};

// top and everything below it in pre-order, files in the order a recursive walk meets them:
// each folder's tree children in tree order, then the store entries of that folder the tree
// does not show, with entries made for them (not attached to the tree). Store entries whose
// names no path can hold come as nodes that are not addressable, so that whoever walks can
// say what it could not handle. Folders whose paths pass the vault's limit (FS_PATH_MAX) are not
// listed, nor a folder whose index the walk met before. A file top gives just itself.
std::vector<XXProtectWalkNode> walkProtectFolder(const std::shared_ptr<XXProtectFileWrapper> &top);

}  // namespace xxtransfer
