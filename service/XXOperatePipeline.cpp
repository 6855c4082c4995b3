#include "XXOperatePipeline.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <vector>

#include "XXDiskFileManager.h"
#include "XXProtectStoreWalk.h"
#include "XXServiceLog.h"
#include "XXTransferFailure.h"
#include "XXServiceText.h"
#include "XXTool.h"
#include "fs.h"

using xxtransfer::XXFoldedNames;

XXOperatePipeline::XXOperatePipeline(XXDiskFileManager &manager, XXTransferActivity &activity)
    : XXTransferMachine(activity, XXResultArea::operating, false), manager_(manager)
{}

void XXOperatePipeline::start(const XXProtectFileArray &files,
                              const std::shared_ptr<XXProtectFileWrapper> &destination, bool isCopy,
                              const ResultBlock &complete)
{
    XXProtectFileArray items;
    if (int code = startRefusal(manager_.mountSuccess(), manager_.isLogin(), files, destination, items))
        return refuseStart(complete, code);
    if (items.front()->parentWrapper() == destination.get())
        return refuseStart(complete, XXReportDestinationIsParent);
    const std::uint64_t total = manager_.allSelectedProtectFileSize(items);
    begin(std::move(items), total, complete, XXOperateRun{destination, isCopy, XXToSelfAsk});
}

void XXOperatePipeline::continueWithToSelfType(std::uint64_t type)
{
    changeCurrentRun([type](XXOperateRun &run) { run.toSelfType = type; });
    continueRun();
}

XXOperatePlan XXOperatePipeline::separateFolder(const std::shared_ptr<XXProtectFileWrapper> &source,
                                                const std::shared_ptr<XXProtectFileWrapper> &destination,
                                                const std::string &name)
{
    XXOperatePlan plan;
    if (!source || !source->isDirectory() || !destination)
        return plan;
    const std::string date = XXTool::shareTool().currentDate();
    std::unordered_map<const XXProtectFileWrapper *, std::shared_ptr<XXProtectFileWrapper>> copies;

    const std::vector<xxtransfer::XXProtectWalkNode> nodes = xxtransfer::walkProtectFolder(source);
    if (!nodes.empty() && !nodes.front().listed)
        plan.refusedPaths.push_back(source->fullPath());
    const std::string parentPath = destination->fullPath();
    auto top = XXProtectFileWrapper::makeFolder(parentPath, name, date);
    plan.folders.push_back({xxservice::joinFullPath(parentPath, name), destination, top});
    copies[source.get()] = top;

    for (size_t i = 1; i < nodes.size(); i++) {
        const xxtransfer::XXProtectWalkNode &node = nodes[i];
        auto holder = copies.find(node.parent.get());
        if (holder == copies.end())
            continue;
        if (!node.addressable || (node.wrapper->isDirectory() && !node.listed)) {
            plan.refusedPaths.push_back(node.wrapper->fullPath());
            continue;
        }
        const std::string &childName = node.wrapper->fileName();
        const std::string holderPath = holder->second->fullPath();
        const std::string path = xxservice::joinFullPath(holderPath, childName);
        if (node.wrapper->isDirectory()) {
            auto copy = XXProtectFileWrapper::makeFolder(holderPath, childName, date);
            plan.folders.push_back({path, holder->second, copy});
            copies[node.wrapper.get()] = copy;
        } else {
            plan.files.push_back(
                {node.wrapper->fullPath(), path, node.wrapper, holder->second, node.parent, node.inTree});
        }
    }
    return plan;
}

XXOperatePipeline::Step XXOperatePipeline::processItem(const ItemPtr &item, std::uint64_t generation,
                                                       const XXOperateRun &run, XXOperateLoop &loop)
{
    const std::string itemName = item->fileName();
    const bool isFolder = item->isDirectory();
    const std::shared_ptr<XXProtectFileWrapper> &destination = run.destination;

    if (isFolder && xxtransfer::isSameOrInside(destination->fullPath(), item->fullPath())) {
        switch (run.toSelfType) {
        case XXToSelfAsk:
            return asked(XXReportFolderIntoItself, std::string());
        case XXToSelfSkip:
            return skippedItem();
        case XXToSelfCancel:
            return cancelled();
        default:
            return stopped();
        }
    }
    if (!loop.destinationNames)
        loop.destinationNames = xxtransfer::namesInTreeAndStore(*destination);
    XXFoldedNames &names = *loop.destinationNames;
    // As on import, a file an interrupted write left unfinished is replaced without asking;
    // a whole one still clashes. A file is never replaced by itself.
    const bool replacesIncomplete = !isFolder && names.has(itemName, false) && !names.has(itemName, true) &&
        xxtransfer::foldedName(xxservice::joinFullPath(destination->fullPath(), itemName)) !=
            xxtransfer::foldedName(item->fullPath()) &&
        xxtransfer::storeFileIsIncomplete(destination->fullPath(), itemName);
    Step instead;
    const std::string name =
        replacesIncomplete ? itemName : storeNameFor(itemName, isFolder, names, generation, &instead);
    if (name.empty())
        return instead;
    if (replacesIncomplete)
        xxtransfer::forgetIncompleteChild(*destination, name);

    if (isFolder)
        return copyFolder(item, name, run, names, generation);

    const std::string target = xxservice::joinFullPath(destination->fullPath(), name);
    int err = 0;
    switch (copyFile(item->fullPath(), item->fileSize(), target, item, generation, &err)) {
    case Copied::cancelled:
        return stopped();
    case Copied::failed:
        return failedWith(XXReportFileFailed, itemName, err);
    case Copied::done:
        break;
    }
    names.add(name, false);
    destination->appendSubFile(XXProtectFileWrapper::makeFile(destination->fullPath(), name, item->fileSize(),
                                                              XXTool::shareTool().currentDate()));
    if (!run.isCopy) {
        int removed;
        {
            auto engine = XXDiskFileManager::lockEngine();
            removed = fs_unlink(item->fullPath().c_str());
        }
        if (removed == 0) {
            if (XXProtectFileWrapper *parent = item->parentWrapper())
                parent->removeSubFile(item.get());
        } else {
            XXServiceLogf("__剪切删除失败___%s", XXServiceLogEscaped(item->fullPath()).c_str());
        }
    }
    return advanced();
}

XXOperatePipeline::Step XXOperatePipeline::copyFolder(const ItemPtr &item, const std::string &name,
                                                      const XXOperateRun &run, XXFoldedNames &names,
                                                      std::uint64_t generation)
{
    const XXOperatePlan plan = separateFolder(item, run.destination, name);
    int firstError = 0;  // of the first failure, which the report carries
    switch (xxtransfer::createStoreFolders(
        plan.folders, name, names, [&] { return isLive(generation); }, &firstError)) {
    case xxtransfer::XXFoldersMade::stopped:
        return stopped();
    case xxtransfer::XXFoldersMade::failed:
        return failedWith(XXReportFolderFailed, item->fileName(), firstError);
    case xxtransfer::XXFoldersMade::all:
        break;
    }

    // A file that fails does not stop the others; the folder is reported once they are done.
    xxtransfer::XXFolderFailures failures;
    for (const std::string &refused : plan.refusedPaths) {
        XXServiceLogf("not copied, no path can hold the name or the folder cannot be read: %s",
                      XXServiceLogEscaped(refused).c_str());
        XXNoteTransferFailure({XXFailedStep::notStorable, refused});
        failures.add(0);
    }
    const bool whole = xxtransfer::copyFolderFiles(
        plan.files, failures,
        [&](const XXOperateFileRecord &record, int *err) {
            return copyFile(record.sourcePath, record.sourceWrapper->fileSize(), record.destinationPath,
                            record.sourceWrapper, generation, err);
        },
        [&](const XXOperateFileRecord &record) {
            const std::uint64_t size = record.sourceWrapper->fileSize();
            // An empty file the source tree did not show stays out of the copy's tree as well.
            if (record.sourceInTree || size > 0)
                record.destinationWrapper->appendSubFile(XXProtectFileWrapper::makeFile(
                    record.destinationWrapper->fullPath(), record.sourceWrapper->fileName(), size,
                    XXTool::shareTool().currentDate()));
            if (run.isCopy)
                return;
            int removed;
            {
                auto engine = XXDiskFileManager::lockEngine();
                removed = fs_unlink(record.sourcePath.c_str());
            }
            if (removed != 0)
                XXServiceLogf("__剪切删除失败___%s", XXServiceLogEscaped(record.sourcePath).c_str());
            else if (record.sourceInTree && record.sourceWrapperParentWrapper)
                record.sourceWrapperParentWrapper->removeSubFile(record.sourceWrapper.get());
        });
    if (!whole)
        return stopped();
    if (failures.any)
        return failedWith(XXReportFolderFailed, item->fileName(), failures.firstError);
    if (!run.isCopy)
        manager_.removeProtectedFiles({item}, nullptr);
    return advanced();
}

XXOperatePipeline::Copied XXOperatePipeline::copyFile(const std::string &sourcePath, std::uint64_t size,
                                                      const std::string &targetPath,
                                                      const ItemPtr &progressEntry, std::uint64_t generation,
                                                      int *systemError)
{
    *systemError = 0;
    int source;
    int target;
    {
        auto engine = XXDiskFileManager::lockEngine();
        source = fs_open(sourcePath.c_str(), FS_O_READ);
        if (source < 0) {
            *systemError = errno;
            XXServiceLogf("文件打开失败 _%s", XXServiceLogEscaped(sourcePath).c_str());
            XXNoteTransferFailure({XXFailedStep::readStored, sourcePath, *systemError, 0, size});
            return Copied::failed;
        }
        target = fs_open(targetPath.c_str(), FS_O_WRITE, size);
        if (target < 0) {
            *systemError = errno;
            XXServiceLogf("创建文件失败___%s", XXServiceLogEscaped(targetPath).c_str());
            XXNoteTransferFailure({XXFailedStep::createFile, targetPath, *systemError});
            fs_close(source);
            return Copied::failed;
        }
    }

    Copied outcome = Copied::done;
    std::vector<char> buffer(static_cast<size_t>(std::min(XXTransferChunkSize, size)));
    std::uint64_t copied = 0;
    while (copied < size) {
        const std::uint32_t want = static_cast<std::uint32_t>(std::min(XXTransferChunkSize, size - copied));
        int got;
        int put = -1;
        {
            auto engine = XXDiskFileManager::lockEngine();
            got = fs_read(source, buffer.data(), want);
            if (got < 0)
                *systemError = errno;
            if (got > 0) {
                put = fs_write(target, buffer.data(), static_cast<std::uint32_t>(got));
                if (put < 0)
                    *systemError = errno;
            }
        }
        if (got <= 0 || put != got) {
            XXServiceLogf("copy of %s stopped after %llu of %llu bytes (read %d, write %d, errno %d)",
                          XXServiceLogEscaped(sourcePath).c_str(), static_cast<unsigned long long>(copied),
                          static_cast<unsigned long long>(size), got, put, *systemError);
            if (got <= 0)
                XXNoteTransferFailure({XXFailedStep::readStored, sourcePath, *systemError, copied, size});
            else
                XXNoteTransferFailure({XXFailedStep::writeFile, targetPath, *systemError});
            outcome = Copied::failed;
            break;
        }
        copied += static_cast<std::uint64_t>(got);
        if (!chunkWritten(generation, static_cast<std::uint64_t>(got), progressEntry)) {
            outcome = Copied::cancelled;
            break;
        }
    }

    auto engine = XXDiskFileManager::lockEngine();
    if (outcome == Copied::done) {
        // A source longer than its entry says would be cut short, and a move would then
        // remove the only whole copy.
        char extra;
        if (fs_read(source, &extra, 1) > 0) {
            XXServiceLogf("%s holds more than its recorded %llu bytes",
                          XXServiceLogEscaped(sourcePath).c_str(), static_cast<unsigned long long>(size));
            XXNoteTransferFailure({XXFailedStep::readStored, sourcePath, 0, size + 1, size});
            outcome = Copied::failed;
        }
    }
    fs_close(source);
    return xxtransfer::closeStoreTarget(target, outcome, targetPath, systemError);
}
