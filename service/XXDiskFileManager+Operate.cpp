// The single calls that change the protected area's structure: rename, remove, create folder.
#include <algorithm>
#include <cerrno>
#include <unordered_set>

#include "XXDiskFileManager.h"
#include "XXProtectStoreWalk.h"
#include "XXServiceLog.h"
#include "XXServiceText.h"
#include "XXTool.h"
#include "XXTransferNames.h"
#include "fs.h"

namespace {

std::string localizedText(const char *key)
{
    return XXTool::shareTool().acquireLocalizedStringFromKey(key);
}

size_t componentCount(const std::string &path)
{
    size_t count = 0;
    bool inComponent = false;
    for (char c : path) {
        if (c == '/') {
            inComponent = false;
        } else if (!inComponent) {
            inComponent = true;
            count++;
        }
    }
    return count;
}

}  // namespace

std::optional<std::string> XXDiskFileManager::renameProtectWrapper(XXProtectFileWrapper &wrapper,
                                                                   const std::string &newName)
{
    if (!XXTool::checkFileName(newName))
        return localizedText("String_98");
    std::string name = newName;
    if (!wrapper.isDirectory()) {
        // "report.pdf" renamed to "summary" stays a PDF.
        const std::string oldExtension = xxtransfer::splitExtension(wrapper.fileName()).second;
        if (xxtransfer::splitExtension(newName).second.empty() && !oldExtension.empty())
            name = (newName.back() == '.' ? newName : newName + ".") + oldExtension;
    }
    if (!xxtransfer::canBeStoreName(name))
        return localizedText("String_98");
    if (wrapper.isRootWrapper() || wrapper.isRootContainerWrapper())
        return localizedText("String_97");
    if (name == wrapper.fileName())
        return std::nullopt;

    const std::string oldPath = wrapper.fullPath();
    const std::string newPath = xxservice::joinFullPath(wrapper.parentFolderPath(), name);
    int result;
    {
        auto engine = lockEngine();
        result = fs_rename(oldPath.c_str(), newPath.c_str());
    }
    if (result < 0) {
        XXServiceLogf("oldPath__%s", XXServiceLogEscaped(oldPath).c_str());
        XXServiceLogf("newPath__%s", XXServiceLogEscaped(newPath).c_str());
        return localizedText("String_97");
    }
    wrapper.setFileName(name);
    wrapperChangeSubFilePath(wrapper);
    return std::nullopt;
}

void XXDiskFileManager::removeProtectedFiles(const XXProtectFileArray &files,
                                             const XXDiskResultBlock &complete)
{
    struct Target {
        std::shared_ptr<XXProtectFileWrapper> wrapper;
        bool inTree;
        std::string path;
        size_t depth;
    };
    std::vector<Target> fileTargets;
    std::vector<Target> folderTargets;
    std::unordered_set<std::string> seen;  // a folder and something inside it may both be chosen
    bool failed = false;
    int firstError = 0;  // errno of the first removal the store refused
    std::string loopingFolder;  // the first folder met inside itself
    for (const auto &entry : files) {
        if (!entry)
            continue;
        if (entry->isRootWrapper() || entry->isRootContainerWrapper()) {
            XXServiceLog("removeFailed__/ (the root cannot be removed)");
            failed = true;
            continue;
        }
        // What the store lists, not only what the tree shows: an empty file left out of the
        // tree would otherwise keep its folder from ever being empty.
        for (const xxtransfer::XXProtectWalkNode &node : xxtransfer::walkProtectFolder(entry)) {
            if (!node.addressable) {
                XXServiceLogf("removeFileFailed_%d_%s (no path can hold the name)", -1,
                              XXServiceLogEscaped(node.wrapper->fullPath()).c_str());
                failed = true;
                continue;
            }
            if (node.loops) {
                // Its index is that of a folder above it: removing it would take that folder.
                XXServiceLogf("removeFailed__%s (the folder names the index of another folder)",
                              XXServiceLogEscaped(node.wrapper->fullPath()).c_str());
                if (loopingFolder.empty())
                    loopingFolder = node.wrapper->fullPath();
                failed = true;
                continue;
            }
            std::string path = node.wrapper->fullPath();
            if (!seen.insert(xxtransfer::foldedName(path)).second)
                continue;
            const size_t depth = componentCount(path);
            (node.wrapper->isDirectory() ? folderTargets : fileTargets)
                .push_back({node.wrapper, node.inTree, std::move(path), depth});
        }
    }
    auto leaveTree = [](const Target &target) {
        if (!target.inTree)
            return;
        if (XXProtectFileWrapper *parent = target.wrapper->parentWrapper())
            parent->removeSubFile(target.wrapper.get());
    };

    auto removeOne = [&](const Target &target) {
        int result;
        int err;
        {
            auto engine = lockEngine();
            result = fs_unlink(target.path.c_str());
            err = result != 0 ? errno : 0;
        }
        if (result == 0) {
            leaveTree(target);
        } else {
            XXServiceLogf("removeFileFailed_%d_%s", result, XXServiceLogEscaped(target.path).c_str());
            if (!firstError)
                firstError = err;
            failed = true;
        }
    };
    // The files of one folder go in one engine call: on a full volume all their objects give
    // the room the folder's new index needs, which one small file's may not. Should the call
    // fail, each is tried alone, so every file has its own outcome.
    constexpr size_t kNamesPerCall = 1024;
    for (size_t at = 0; at < fileTargets.size();) {
        const std::string folder = fileTargets[at].wrapper->parentFolderPath();
        size_t end = at;
        std::vector<std::string> names;
        while (end < fileTargets.size() && end - at < kNamesPerCall &&
               fileTargets[end].wrapper->parentFolderPath() == folder)
            names.push_back(fileTargets[end++].wrapper->fileName());
        std::vector<const char *> pointers;
        for (const std::string &name : names)
            pointers.push_back(name.c_str());
        int result;
        {
            auto engine = lockEngine();
            result = fs_unlink_names(folder.c_str(), pointers.data(), pointers.size());
        }
        for (size_t i = at; i < end; i++) {
            if (result == 0)
                leaveTree(fileTargets[i]);
            else
                removeOne(fileTargets[i]);
        }
        at = end;
    }
    if (failed) {
        XXDiskResultObject result = XXDiskResultObject::refused(XXRemoveCondition::notAllRemoved,
                                                                loopingFolder.empty() ? firstError : ELOOP);
        if (!loopingFolder.empty())
            result.setErrorFileName(loopingFolder);
        call(complete, result);
        return;
    }
    std::stable_sort(folderTargets.begin(), folderTargets.end(),
                     [](const Target &a, const Target &b) { return a.depth > b.depth; });
    for (const Target &target : folderTargets) {
        int result;
        int err;
        {
            auto engine = lockEngine();
            result = fs_rmdir(target.path.c_str());
            err = result != 0 ? errno : 0;
        }
        if (result != 0) {
            XXServiceLogf("removeFailed__%s", XXServiceLogEscaped(target.path).c_str());
            call(complete, XXDiskResultObject::refused(XXRemoveCondition::notAllRemoved, err));
            return;
        }
        leaveTree(target);
    }
    call(complete, XXDiskResultObject::success(0));
}

void XXDiskFileManager::createDirInFolderPath(const std::string &parentPath, const std::string &dirName,
                                              const XXDiskResultBlock &complete)
{
    if (!mountSuccess()) {
        call(complete, XXDiskResultObject::refused(XXFolderCondition::notMounted));
        return;
    }
    if (!isLogin()) {
        call(complete, XXDiskResultObject::refused(XXFolderCondition::notLoggedIn));
        return;
    }
    if (dirName.empty()) {
        call(complete, XXDiskResultObject::refused(XXFolderCondition::noName));
        return;
    }
    if (!XXTool::checkFileName(dirName)) {
        call(complete, XXDiskResultObject::refused(XXFolderCondition::badName));
        return;
    }
    const std::string path = xxservice::joinFullPath(parentPath, dirName);
    int result;
    int err;
    {
        auto engine = lockEngine();
        result = fs_mkdir(path.c_str());
        err = result != 0 ? errno : 0;
    }
    if (result != 0) {
        const XXDiskResultObject refusal =
            XXDiskResultObject::engineRefused(XXEngineCall::mkdir, result, err);
        XXServiceLogf("%s errno %d: %s", refusal.errorCodeText().c_str(), err,
                      XXServiceLogEscaped(path).c_str());
        call(complete, refusal);
        return;
    }
    XXDiskResultObject created = XXDiskResultObject::success(0);
    created.setSuccessValue(
        XXProtectFileWrapper::makeFolder(parentPath, dirName, XXTool::shareTool().currentDate()));
    call(complete, created);
}
