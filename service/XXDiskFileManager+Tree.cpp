// The in-memory tree of the protected area: building it from the store's listings, sizes,
// the separation pass, search and the refresh of paths after a rename.
//
// Walks use explicit stacks rather than recursion, so the depth of a (possibly damaged)
// store cannot exhaust the stack.
#include <cerrno>
#include <limits>
#include <unordered_set>
#include <vector>

#include "XXDiskFileManager.h"
#include "XXProtectStoreWalk.h"
#include "XXServiceLog.h"
#include "XXTool.h"
#include "XXUtf8.h"
#include "fs.h"

namespace {

// A name that can stand as one component of a store path. Anything else (only a damaged or
// hostile store holds it) would make the entry's path name some other entry.
bool isComponentName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
        name.find_first_of("/\\") == std::string_view::npos && xxtool::isValidUtf8(name);
}

}  // namespace

void XXDiskFileManager::acquireProtectFileWithComplete(const XXDiskResultBlock &complete)
{
    if (!mountSuccess()) {
        call(complete, XXDiskResultObject::refused(XXTreeCondition::notMounted));
        return;
    }
    std::shared_ptr<XXProtectFileWrapper> container = XXProtectFileWrapper::makeRootContainer();
    const std::vector<std::string> unreadable = fullFileToFolderFile(*container->allSubFileArray().front());
    // The readable part of the tree is still given, so that its files can be saved; code 1
    // and the first folder that could not be listed say it is not all.
    XXDiskResultObject result = XXDiskResultObject::success(unreadable.empty() ? 0 : 1);
    result.setSuccessValue(container);
    if (!unreadable.empty())
        result.setErrorFileName(unreadable.front());
    call(complete, result);
}

std::vector<std::string> XXDiskFileManager::fullFileToFolderFile(XXProtectFileWrapper &folder)
{
    std::vector<std::string> unreadable;
    std::unordered_set<std::string> listed;  // folder ids
    std::vector<XXProtectFileWrapper *> pending{&folder};
    while (!pending.empty()) {
        XXProtectFileWrapper *current = pending.back();
        pending.pop_back();
        const std::string &id = current->storeId();
        if (!id.empty() && !listed.insert(id).second) {
            // Only damage names one folder index twice; entering it again would list a folder
            // inside itself without end.
            XXServiceLogf("folder names the index of another folder, not listed: %.200s",
                          XXServiceLogEscaped(current->fullPath()).c_str());
            unreadable.push_back(current->fullPath());
            continue;
        }
        if (!listFolderInto(*current))
            unreadable.push_back(current->fullPath());
        const XXProtectFileArray &children = current->allSubFileArray();
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            if ((*child)->isDirectory())
                pending.push_back(child->get());
    }
    return unreadable;
}

bool XXDiskFileManager::listFolderInto(XXProtectFileWrapper &folder)
{
    for (const auto &old : folder.allSubFileArray())
        if (old->parentWrapper() == &folder)
            old->setParentWrapper(nullptr);
    folder.allSubFileArray().clear();

    const std::string path = folder.fullPath();
    // The engine makes no longer path; a vault holding one is listed down to it, and check
    // reports it.
    if (path.size() > FS_PATH_MAX) {
        XXServiceLogf("folder nested too deep, not listed: %.200s...", XXServiceLogEscaped(path).c_str());
        return false;
    }
    std::optional<std::vector<xxtransfer::XXStoreRecord>> records =
        xxtransfer::listStoreFolder(path, folder.storeId());
    if (!records) {
        XXServiceLogf("fs_opendir--%d errno %d: %s", -1, errno, XXServiceLogEscaped(path).c_str());
        return false;
    }

    XXTool &tool = XXTool::shareTool();
    for (xxtransfer::XXStoreRecord &record : *records) {
        if (!isComponentName(record.name)) {
            XXServiceLogf("left out an entry of %s whose name no path can hold: \"%s\"",
                          XXServiceLogEscaped(path).c_str(), XXServiceLogEscaped(record.name).c_str());
            continue;
        }
        if (!record.isFolder && record.size == 0)
            continue;
        auto entry = std::make_shared<XXProtectFileWrapper>();
        entry->setParentFolderPath(path);
        entry->setCreateDateString(XXTool::changeTimeStringWith(record.time));
        if (record.isFolder) {
            entry->setIsDirectory(true);
            entry->setIconName("NSFolder");
            entry->setFileType(0);
            entry->setStoreId(std::move(record.id));
        } else {
            entry->setFileType(tool.changeFileTypeWithName(record.name));
            entry->setFileSize(record.size);
            entry->setIsUnfinished(record.unfinished);
        }
        entry->setFileName(std::move(record.name));
        folder.appendSubFile(std::move(entry));
    }
    return true;
}

std::uint64_t XXDiskFileManager::protectWrapperSize(const XXProtectFileWrapper &wrapper) const
{
    return protectWrapperSizeAndFileNum(wrapper).size;
}

std::uint64_t XXDiskFileManager::allSelectedProtectFileSize(const XXProtectFileArray &wrappers) const
{
    std::uint64_t total = 0;
    for (const auto &wrapper : wrappers)
        total += protectWrapperSize(*wrapper);
    return total;
}

XXProtectSizeAndNumber
XXDiskFileManager::protectWrapperSizeAndFileNum(const XXProtectFileWrapper &wrapper) const
{
    std::uint64_t size = 0;
    std::int64_t number = 0;
    std::vector<const XXProtectFileWrapper *> pending{&wrapper};
    while (!pending.empty()) {
        const XXProtectFileWrapper *current = pending.back();
        pending.pop_back();
        if (!current->isDirectory()) {
            size += current->fileSize();
            number++;
            continue;
        }
        for (const auto &child : current->allSubFileArray())
            pending.push_back(child.get());
    }
    constexpr std::int64_t maxNumber = std::numeric_limits<std::int32_t>::max();
    return {size, static_cast<std::int32_t>(number > maxNumber ? maxNumber : number)};
}

void XXDiskFileManager::separateProtectFolderWrapper(const std::shared_ptr<XXProtectFileWrapper> &wrapper,
                                                     XXProtectFileArray &folderArr,
                                                     XXProtectFileArray &fileArr)
{
    if (!wrapper || !wrapper->isDirectory())
        return;
    // One frame per open folder: the folder and the index of its next child, so files come
    // out in the order a recursive walk would find them.
    struct Frame {
        XXProtectFileWrapper *folder;
        size_t next;
    };
    std::vector<Frame> stack;
    auto enter = [&](const std::shared_ptr<XXProtectFileWrapper> &folder) {
        const XXProtectFileWrapper *parent = folder->parentWrapper();
        folder->setFolderLevel((parent ? parent->folderLevel() : 0) + 1);
        folderArr.push_back(folder);
        stack.push_back({folder.get(), 0});
    };
    enter(wrapper);
    while (!stack.empty()) {
        XXProtectFileWrapper *folder = stack.back().folder;
        const size_t index = stack.back().next++;
        if (index >= folder->allSubFileArray().size()) {
            stack.pop_back();
            continue;
        }
        const std::shared_ptr<XXProtectFileWrapper> child = folder->allSubFileArray()[index];
        if (child->isDirectory())
            enter(child);
        else
            fileArr.push_back(child);
    }
}

XXProtectFileArray
XXDiskFileManager::searchFileWithKeyString(const std::string &key,
                                           const std::shared_ptr<XXProtectFileWrapper> &wrapper)
{
    XXProtectFileArray found;
    if (key.empty())
        return found;
    XXProtectFileArray folders;
    XXProtectFileArray files;
    separateProtectFolderWrapper(wrapper, folders, files);
    for (const XXProtectFileArray *list : {&folders, &files})
        for (const auto &entry : *list)
            if (entry->fileName().find(key) != std::string::npos)
                found.push_back(entry);
    return found;
}

void XXDiskFileManager::wrapperChangeSubFilePath(XXProtectFileWrapper &folder)
{
    if (!folder.isDirectory())
        return;
    std::vector<XXProtectFileWrapper *> pending{&folder};
    while (!pending.empty()) {
        XXProtectFileWrapper *current = pending.back();
        pending.pop_back();
        const std::string path = current->fullPath();
        for (const auto &child : current->allSubFileArray()) {
            child->setParentFolderPath(path);
            if (child->isDirectory())
                pending.push_back(child.get());
        }
    }
}
