#include "XXProtectStoreWalk.h"

#include <cerrno>
#include <unordered_set>
#include <utility>

#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"
#include "XXServiceLog.h"
#include "XXServiceText.h"
#include "XXTool.h"
#include "XXTransferFailure.h"
#include "XXTransferNames.h"
#include "fs.h"

namespace xxtransfer {

namespace {

std::shared_ptr<XXProtectFileWrapper> entryForRecord(const XXProtectFileWrapper &folder,
                                                     const XXStoreRecord &record)
{
    std::string date = XXTool::changeTimeStringWith(record.time);
    if (record.isFolder) {
        auto made = XXProtectFileWrapper::makeFolder(folder.fullPath(), record.name, std::move(date));
        made->setStoreId(record.id);
        return made;
    }
    auto made = XXProtectFileWrapper::makeFile(folder.fullPath(), record.name, record.size, std::move(date));
    made->setIsUnfinished(record.unfinished);
    return made;
}

struct Child {
    std::shared_ptr<XXProtectFileWrapper> entry;
    bool inTree;
    bool addressable;
};

std::vector<Child> childrenOf(const XXProtectFileWrapper &folder, bool inTree, bool *listed)
{
    *listed = true;
    std::vector<Child> children;
    XXFoldedNames shown;
    if (inTree) {
        for (const auto &child : folder.allSubFileArray()) {
            children.push_back({child, true, true});
            shown.add(child->fileName(), child->isDirectory());
        }
    }
    const std::string path = folder.fullPath();
    std::optional<std::vector<XXStoreRecord>> records;
    if (path.size() <= FS_PATH_MAX)  // beyond it only a vault the engine did not make
        records = listStoreFolder(path, folder.storeId());
    if (!records) {
        *listed = false;
        return children;
    }
    for (const XXStoreRecord &record : *records)
        if (!shown.hasAny(record.name))
            children.push_back({entryForRecord(folder, record), false, canBeStoreName(record.name)});
    return children;
}

}  // namespace

std::optional<std::vector<XXStoreRecord>> listStoreFolder(const std::string &path, const std::string &id)
{
    std::vector<XXStoreRecord> records;
    auto engine = XXDiskFileManager::lockEngine();
    fs_dir *dir = id.size() == FS_ID_SIZE
        ? fs_opendir_id(path.c_str(), reinterpret_cast<const unsigned char *>(id.data()))
        : nullptr;
    // The path decides when the id no longer names the folder there (another program changed
    // the vault since the id was listed), and for entries made in this session.
    if (!dir)
        dir = fs_opendir(path.c_str());
    if (!dir)
        return std::nullopt;
    while (const fs_dirent *record = fs_readdir(dir))
        records.push_back({record->type == FS_DT_DIR, record->size, record->time, record->name,
                           std::string(reinterpret_cast<const char *>(record->id), FS_ID_SIZE),
                           record->unfinished != 0});
    fs_closedir(dir);
    return records;
}

bool storeFileIsIncomplete(const std::string &folder, const std::string &name)
{
    const std::optional<std::vector<XXStoreRecord>> records = listStoreFolder(folder);
    if (!records)
        return false;
    const std::string folded = foldedName(name);
    for (const XXStoreRecord &record : *records) {
        if (record.isFolder || foldedName(record.name) != folded)
            continue;
        const std::string path = folder == "/" ? "/" + record.name : folder + "/" + record.name;
        auto engine = XXDiskFileManager::lockEngine();
        const int handle = fs_open(path.c_str(), FS_O_READ);
        if (handle < 0)
            return errno != ENOENT;
        std::vector<char> buffer(1 << 20);
        std::uint64_t total = 0;
        int got;
        while ((got = fs_read(handle, buffer.data(), static_cast<std::uint32_t>(buffer.size()))) > 0)
            total += static_cast<std::uint64_t>(got);
        fs_close(handle);
        return got < 0 || total != record.size;
    }
    return false;
}

void forgetIncompleteChild(XXProtectFileWrapper &destination, const std::string &name)
{
    XXServiceLogf("replacing the incomplete %s",
                  XXServiceLogEscaped(xxservice::joinFullPath(destination.fullPath(), name)).c_str());
    const std::string folded = foldedName(name);
    for (const auto &child : destination.allSubFileArray())
        if (!child->isDirectory() && foldedName(child->fileName()) == folded) {
            destination.removeSubFile(child.get());
            return;
        }
}

XXFoldedNames namesInTreeAndStore(const XXProtectFileWrapper &folder)
{
    XXFoldedNames names;
    names.addChildren(folder);
    if (std::optional<std::vector<XXStoreRecord>> records = listStoreFolder(folder.fullPath()))
        for (const XXStoreRecord &record : *records)
            names.add(record.name, record.isFolder);
    return names;
}

std::vector<XXProtectWalkNode> walkProtectFolder(const std::shared_ptr<XXProtectFileWrapper> &top)
{
    std::vector<XXProtectWalkNode> nodes;
    if (!top)
        return nodes;
    nodes.push_back({top, nullptr, true, true, 1});
    if (!top->isDirectory())
        return nodes;

    struct Frame {
        std::shared_ptr<XXProtectFileWrapper> folder;
        size_t depth;
        std::vector<Child> children;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    std::unordered_set<std::string> entered;  // folder ids
    if (!top->storeId().empty())
        entered.insert(top->storeId());
    bool listed = true;
    stack.push_back({top, 1, childrenOf(*top, true, &listed)});
    nodes.front().listed = listed;
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next >= frame.children.size()) {
            stack.pop_back();
            continue;
        }
        const Child child = frame.children[frame.next++];
        const std::shared_ptr<XXProtectFileWrapper> folder = frame.folder;
        const size_t depth = frame.depth + 1;
        nodes.push_back({child.entry, folder, child.inTree, child.addressable, depth});
        const std::string &id = child.entry->storeId();
        if (child.entry->isDirectory() && !id.empty() && !entered.insert(id).second) {
            nodes.back().listed = false;
            nodes.back().loops = true;
            continue;
        }
        if (child.addressable && child.entry->isDirectory()) {
            std::vector<Child> below = childrenOf(*child.entry, child.inTree, &listed);
            nodes.back().listed = listed;
            stack.push_back({child.entry, depth, std::move(below)});  // frame is stale from here
        }
    }
    return nodes;
}

XXFoldersMade createStoreFolders(const std::vector<XXStoreFolderRecord> &folders, const std::string &name,
                                 XXFoldedNames &names, const std::function<bool()> &stillLive,
                                 int *systemError)
{
    for (size_t i = 0; i < folders.size(); i++) {
        if (!stillLive())
            return XXFoldersMade::stopped;
        const XXStoreFolderRecord &record = folders[i];
        int result;
        int err;
        {
            auto engine = XXDiskFileManager::lockEngine();
            result = fs_mkdir(record.createPath.c_str());
            err = result != 0 ? errno : 0;
        }
        if (result != 0) {
            XXServiceLogf("创建文件夹失败___%s", XXServiceLogEscaped(record.createPath).c_str());
            XXNoteTransferFailure({XXFailedStep::createFolder, record.createPath, err});
            if (systemError)
                *systemError = err;
            return XXFoldersMade::failed;
        }
        record.destinationWrapper->appendSubFile(record.waitFullWrapper);
        if (i == 0)
            names.add(name, true);
    }
    return XXFoldersMade::all;
}

void forgetStoreFolders(const std::vector<XXStoreFolderRecord> &folders)
{
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        it->destinationWrapper->removeSubFile(it->waitFullWrapper.get());
}

}  // namespace xxtransfer
