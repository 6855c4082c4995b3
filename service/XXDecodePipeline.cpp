#include "XXDecodePipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>
#include <unordered_map>
#include <vector>

#include "XXComputerFile.h"
#include "XXDiskFileManager.h"
#include "XXProtectStoreWalk.h"
#include "XXServiceLog.h"
#include "XXTransferFailure.h"
#include "XXTransferNames.h"
#include "fs.h"

namespace {

std::string joinComputerPath(const std::string &folder, const std::string &name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool isHiddenName(const std::string &name)
{
    return !name.empty() && name[0] == '.';
}

// Lists what the export made in the folder's model, as a listing would have.
void addToFolderModel(XXFileWrapper &folder, const std::shared_ptr<XXFileWrapper> &item)
{
    folder.allSubFileArray().push_back(item);
    if (isHiddenName(item->fileName()))
        return;
    folder.allWithoutHiddenFileSubFileArray().push_back(item);
    if (item->isDirectory())
        folder.allSubFolderFileArray().push_back(item);
}

std::shared_ptr<XXFileWrapper> newFolderModel(const std::string &parentPath, const std::string &name)
{
    auto model = std::make_shared<XXFileWrapper>();
    model->setParentFolderPath(parentPath);
    model->setFileName(name);
    model->setIsDirectory(true);
    model->setIconName("NSFolder");
    model->allSubFileArray();  // listed, and empty, from now on
    return model;
}

}  // namespace

XXDecodePipeline::XXDecodePipeline(XXDiskFileManager &manager, XXTransferActivity &activity)
    : XXTransferMachine(activity, XXResultArea::exporting, true), manager_(manager)
{}

void XXDecodePipeline::setSalvage(bool on)
{
    salvage_ = on;
}

std::vector<XXSalvagedFile> XXDecodePipeline::salvagedFiles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return salvaged_;
}

void XXDecodePipeline::start(const XXProtectFileArray &files,
                             const std::shared_ptr<XXFileWrapper> &destination,
                             const ResultBlock &completeBlock)
{
    XXProtectFileArray items;
    if (int code = startRefusal(manager_.mountSuccess(), manager_.isLogin(), files, destination, items))
        return refuseStart(completeBlock, code);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        salvaging_ = salvage_;
        salvaged_.clear();
    }
    // Listed before anything is written, so the models the export adds are not listed twice.
    destination->allSubFileArray();
    const std::uint64_t total = manager_.allSelectedProtectFileSize(items);
    begin(std::move(items), total, completeBlock, XXDecodeRun{destination});
}

XXDecodePlan XXDecodePipeline::separateFolder(const std::shared_ptr<XXProtectFileWrapper> &source,
                                              const std::shared_ptr<XXFileWrapper> &destination,
                                              const std::string &name)
{
    XXDecodePlan plan;
    if (!source || !source->isDirectory() || !destination)
        return plan;
    struct Planned {
        std::shared_ptr<XXFileWrapper> model;
        std::string path;
    };
    std::unordered_map<const XXProtectFileWrapper *, Planned> folders;

    const std::vector<xxtransfer::XXProtectWalkNode> nodes = xxtransfer::walkProtectFolder(source);
    const std::string topPath = joinComputerPath(destination->fullPath(), name);
    auto top = newFolderModel(destination->fullPath(), name);
    plan.folders.push_back({topPath, destination, top});
    folders[source.get()] = {top, topPath};
    if (!nodes.empty() && !nodes.front().listed)
        plan.unreadableFolders.push_back(source->fullPath());

    for (size_t i = 1; i < nodes.size(); i++) {
        const xxtransfer::XXProtectWalkNode &node = nodes[i];
        auto holder = folders.find(node.parent.get());
        if (holder == folders.end())
            continue;  // inside a folder that was refused, and reported, already
        const std::string &childName = node.wrapper->fileName();
        if (!node.addressable || !xxtransfer::canBeComputerName(childName)) {
            plan.refusedPaths.push_back(node.wrapper->fullPath());
            continue;
        }
        const std::string path = joinComputerPath(holder->second.path, childName);
        if (node.wrapper->isDirectory()) {
            if (!node.listed)
                plan.unreadableFolders.push_back(node.wrapper->fullPath());
            auto model = newFolderModel(holder->second.path, childName);
            plan.folders.push_back({path, holder->second.model, model});
            folders[node.wrapper.get()] = {model, path};
        } else {
            plan.files.push_back({node.wrapper->fullPath(), path, node.wrapper, holder->second.model});
        }
    }
    return plan;
}

XXDecodePipeline::Step XXDecodePipeline::processItem(const ItemPtr &item, std::uint64_t generation,
                                                     const XXDecodeRun &run, XXDecodeLoop &)
{
    const std::string itemName = item->fileName();
    const bool isFolder = item->isDirectory();
    const int failCode = isFolder ? XXReportFolderFailed : XXReportFileFailed;
    if (!xxtransfer::canBeComputerName(itemName)) {
        XXServiceLogf("not exported, the name could leave the folder: \"%s\"",
                      XXServiceLogEscaped(itemName).c_str());
        XXNoteTransferFailure({XXFailedStep::notExportable, item->fullPath()});
        return failedWith(failCode, itemName);
    }
    const std::shared_ptr<XXFileWrapper> &destination = run.destination;
    const std::string folder = destination->fullPath();

    std::string name = itemName;
    if (xxtransfer::pathExists(joinComputerPath(folder, itemName))) {
        switch (answerConflict(generation)) {
        case ConflictAnswer::skip:
            return skippedItem();
        case ConflictAnswer::cancel:
            return cancelled();
        case ConflictAnswer::stop:
            return stopped();
        case ConflictAnswer::report:
            return asked(isFolder ? XXReportFolderExists : XXReportFileExists, itemName);
        case ConflictAnswer::freeName:
            name = xxtransfer::freeName(itemName, isFolder, [&](const std::string &candidate) {
                return xxtransfer::pathExists(joinComputerPath(folder, candidate));
            });
            if (name.empty())
                return failedWith(failCode, itemName);
            break;
        }
    }

    if (isFolder)
        return exportFolder(item, name, destination, generation);

    const std::string target = joinComputerPath(folder, name);
    int err = 0;
    switch (exportFile(item, target, generation, itemName, &err)) {
    case Copied::cancelled:
        return stopped();
    case Copied::failed:
        return failedWith(XXReportFileFailed, itemName, err);
    case Copied::done:
        break;
    }
    // The vault keeps no other date of a file than the one it shows.
    xxtransfer::setModificationTime(target, item->createDateString());
    addToFolderModel(*destination, XXFileWrapper::initWithURL(target));
    return advanced();
}

XXDecodePipeline::Step XXDecodePipeline::exportFolder(const std::shared_ptr<XXProtectFileWrapper> &item,
                                                      const std::string &name,
                                                      const std::shared_ptr<XXFileWrapper> &destination,
                                                      std::uint64_t generation)
{
    const XXDecodePlan plan = separateFolder(item, destination, name);
    if (!plan.unreadableFolders.empty()) {
        XXServiceLogf("not exported, the folder %s cannot be read",
                      XXServiceLogEscaped(plan.unreadableFolders.front()).c_str());
        XXNoteTransferFailure({XXFailedStep::storedFolderUnreadable, plan.unreadableFolders.front(), EBADMSG});
        return failedWith(XXReportFolderFailed, item->fileName(), EBADMSG);
    }
    for (const XXDecodeFolderRecord &record : plan.folders) {
        if (!isLive(generation))
            return stopped();
        if (mkdir(record.createPath.c_str(), 0777) != 0) {
            const int err = errno;
            XXServiceLogf("cannot create the folder %s: errno %d",
                          XXServiceLogEscaped(record.createPath).c_str(), err);
            XXNoteTransferFailure({XXFailedStep::createTarget, record.createPath, err});
            return failedWith(XXReportFolderFailed, item->fileName(), err);
        }
        const XXFileWrapper created(record.createPath);
        record.waitFullWrapper->setFileAttributes(created.fileAttributes());
        record.waitFullWrapper->setSystemPath(record.createPath);
        addToFolderModel(*record.destinationWrapper, record.waitFullWrapper);
    }

    xxtransfer::XXFolderFailures failures;  // the first one's errno is the report's
    for (const std::string &refused : plan.refusedPaths) {
        XXServiceLogf("not exported, no file may have that name: %s", XXServiceLogEscaped(refused).c_str());
        XXNoteTransferFailure({XXFailedStep::notExportable, refused});
        failures.add(0);
    }
    const bool whole = xxtransfer::copyFolderFiles(
        plan.files, failures,
        [&](const XXDecodeFileRecord &record, int *err) {
            return exportFile(record.sourceWrapper, record.destinationPath, generation,
                              record.sourceWrapper->fileName(), err);
        },
        [&](const XXDecodeFileRecord &record) {
            xxtransfer::setModificationTime(record.destinationPath, record.sourceWrapper->createDateString());
            addToFolderModel(*record.destinationWrapper, XXFileWrapper::initWithURL(record.destinationPath));
        });
    if (!whole)
        return stopped();
    return failures.any ? failedWith(XXReportFolderFailed, item->fileName(), failures.firstError)
                        : advanced();
}

XXDecodePipeline::Copied XXDecodePipeline::exportFile(const std::shared_ptr<XXProtectFileWrapper> &source,
                                                      const std::string &targetPath, std::uint64_t generation,
                                                      const std::string &progressName, int *systemError)
{
    auto chunkDone = [&](std::uint64_t bytes) { return chunkWritten(generation, bytes, progressName); };
    bool storeFailed = false;
    std::vector<XXTransferFailure> notes;  // kept only if the file fails in the end
    Copied copied;
    {
        XXTransferFailureScope noting(&notes);
        copied = copyOut(source->fullPath(), source->fileSize(), targetPath, 0666, chunkDone, systemError,
                         &storeFailed);
    }
    auto keepNotes = [&] {
        for (XXTransferFailure &note : notes)
            XXNoteTransferFailure(std::move(note));
    };
    bool salvage;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        salvage = salvaging_;
    }
    if (copied != Copied::failed || !storeFailed || !salvage) {
        keepNotes();
        return copied;
    }
    XXSalvagedFile salvaged;
    {
        XXTransferFailureScope noting(&notes);
        copied = salvageOut(source->fullPath(), targetPath, 0666, chunkDone, systemError, &salvaged);
    }
    if (copied == Copied::failed)
        keepNotes();
    if (copied == Copied::done && !salvaged.ranges.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        salvaged_.push_back(std::move(salvaged));
    }
    return copied;
}

XXDecodePipeline::Copied XXDecodePipeline::salvageOut(const std::string &sourcePath, const std::string &targetPath,
                                                      mode_t mode,
                                                      const std::function<bool(std::uint64_t)> &chunkDone,
                                                      int *systemError, XXSalvagedFile *salvaged)
{
    int unused;
    int &err = systemError ? *systemError : unused;
    err = 0;
    std::uint64_t size = 0;
    fs_salvage *salvage;
    {
        auto engine = XXDiskFileManager::lockEngine();
        salvage = fs_salvage_open(sourcePath.c_str(), &size);
        if (!salvage)
            err = errno;
    }
    if (!salvage) {
        XXServiceLogf("cannot salvage %s: errno %d", XXServiceLogEscaped(sourcePath).c_str(), err);
        XXNoteTransferFailure({XXFailedStep::readStored, sourcePath, err});
        return Copied::failed;
    }
    auto close = [&] {
        auto engine = XXDiskFileManager::lockEngine();
        fs_salvage_close(salvage);
    };
    xxtransfer::XXFileDescriptor target(xxtransfer::createNewFile(targetPath, mode));
    if (!target.isOpen()) {
        err = errno;
        XXServiceLogf("cannot create %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
        XXNoteTransferFailure({XXFailedStep::createTarget, targetPath, err});
        close();
        return Copied::failed;
    }
    Copied outcome = Copied::done;
    thread_local std::vector<char> buffer;
    buffer.resize(static_cast<size_t>(XXTransferChunkSize));
    for (;;) {
        int got;
        std::uint64_t offset = 0;
        {
            auto engine = XXDiskFileManager::lockEngine();
            got = fs_salvage_read(salvage, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &offset);
            if (got < 0)
                err = errno;
        }
        if (got < 0) {
            XXServiceLogf("salvaging %s failed: errno %d", XXServiceLogEscaped(sourcePath).c_str(), err);
            XXNoteTransferFailure({XXFailedStep::readStored, sourcePath, err});
            outcome = Copied::failed;
            break;
        }
        if (got == 0)
            break;
        // What lies between the pieces could not be read; the file's size makes it zeros.
        if (!xxtransfer::writeFullyAt(target.get(), buffer.data(), static_cast<size_t>(got), offset)) {
            err = errno;
            XXServiceLogf("cannot write %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
            XXNoteTransferFailure({XXFailedStep::writeTarget, targetPath, err});
            outcome = Copied::failed;
            break;
        }
        if (chunkDone && !chunkDone(static_cast<std::uint64_t>(got))) {
            outcome = Copied::cancelled;
            break;
        }
    }
    if (outcome == Copied::done && ftruncate(target.get(), static_cast<off_t>(size)) != 0) {
        err = errno;
        XXServiceLogf("cannot write %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
        XXNoteTransferFailure({XXFailedStep::writeTarget, targetPath, err});
        outcome = Copied::failed;
    }
    if (outcome == Copied::done && salvaged) {
        auto engine = XXDiskFileManager::lockEngine();
        const fs_salvage_range *ranges = nullptr;
        const size_t count = fs_salvage_ranges(salvage, &ranges);
        salvaged->storePath = sourcePath;
        salvaged->targetPath = targetPath;
        salvaged->size = size;
        for (size_t i = 0; i < count; i++)
            salvaged->ranges.push_back({ranges[i].offset, ranges[i].length, ranges[i].kind == FS_SALVAGE_UNREADABLE});
    }
    close();
    if (target.close() != 0 && outcome == Copied::done) {
        err = errno;
        XXServiceLogf("cannot write %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
        XXNoteTransferFailure({XXFailedStep::writeTarget, targetPath, err});
        outcome = Copied::failed;
    }
    if (outcome != Copied::done)
        unlink(targetPath.c_str());
    else if (salvaged && !salvaged->ranges.empty())
        XXServiceLogf("salvaged %s to %s: %zu damaged ranges", XXServiceLogEscaped(sourcePath).c_str(),
                      XXServiceLogEscaped(targetPath).c_str(), salvaged->ranges.size());
    return outcome;
}

XXDecodePipeline::Copied XXDecodePipeline::copyOut(const std::string &sourcePath, std::uint64_t size,
                                                   const std::string &targetPath, mode_t mode,
                                                   const std::function<bool(std::uint64_t)> &chunkDone,
                                                   int *systemError, bool *storeFailed)
{
    int unused;
    int &err = systemError ? *systemError : unused;
    err = 0;
    bool notStored;
    bool &fromStore = storeFailed ? *storeFailed : notStored;
    fromStore = false;
    int handle;
    {
        auto engine = XXDiskFileManager::lockEngine();
        handle = fs_open(sourcePath.c_str(), FS_O_READ);
        if (handle < 0)
            err = errno;
    }
    if (handle < 0) {
        XXServiceLogf("文件打开失败 _%s", XXServiceLogEscaped(sourcePath).c_str());
        XXNoteTransferFailure({XXFailedStep::readStored, sourcePath, err, 0, size});
        fromStore = true;
        return Copied::failed;
    }
    xxtransfer::XXFileDescriptor target(xxtransfer::createNewFile(targetPath, mode));
    if (!target.isOpen()) {
        err = errno;
        XXServiceLogf("cannot create %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
        XXNoteTransferFailure({XXFailedStep::createTarget, targetPath, err});
        auto engine = XXDiskFileManager::lockEngine();
        fs_close(handle);
        return Copied::failed;
    }

    Copied outcome = Copied::done;
    // Kept by the thread between files: exporting many small ones allocates and clears no
    // buffer per file. One byte more than recorded, so a small file whose data runs longer
    // shows in one read.
    thread_local std::vector<char> buffer, spare;
    buffer.resize(static_cast<size_t>(std::min(XXTransferChunkSize, size + 1)));
    // A file of several chunks writes one while the next is inflated; the write is joined
    // before the next is started and before the file is closed, on every way out.
    const bool overlap = size > XXTransferChunkSize;
    spare.resize(overlap ? buffer.size() : 0);
    std::future<int> writing;  // 0, or the errno of the failed write
    auto joinWrite = [&]() {
        const int failed = writing.valid() ? writing.get() : 0;
        if (failed && outcome == Copied::done) {
            err = failed;
            XXServiceLogf("cannot write %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
            XXNoteTransferFailure({XXFailedStep::writeTarget, targetPath, err});
            outcome = Copied::failed;
        }
    };
    std::uint64_t total = 0;
    for (;;) {
        int got;
        {
            auto engine = XXDiskFileManager::lockEngine();
            got = fs_read(handle, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
            if (got < 0)
                err = errno;
        }
        joinWrite();
        // Below 1 is the end of the data; the total tells whether it came early.
        if (got < 0)
            fromStore = true;
        if (got <= 0 || outcome != Copied::done)
            break;
        if (overlap) {
            writing = std::async(std::launch::async, [fd = target.get(), data = buffer.data(), got] {
                return xxtransfer::writeFully(fd, data, static_cast<size_t>(got)) ? 0 : (errno ? errno : EIO);
            });
            buffer.swap(spare);
        } else if (!xxtransfer::writeFully(target.get(), buffer.data(), static_cast<size_t>(got))) {
            err = errno;
            XXServiceLogf("cannot write %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
            XXNoteTransferFailure({XXFailedStep::writeTarget, targetPath, err});
            outcome = Copied::failed;
            break;
        }
        total += static_cast<std::uint64_t>(got);
        if (chunkDone && !chunkDone(static_cast<std::uint64_t>(got))) {
            outcome = Copied::cancelled;
            break;
        }
    }
    joinWrite();
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_close(handle);
    }
    if (target.close() != 0 && outcome == Copied::done) {
        err = errno;
        XXServiceLogf("cannot write %s: errno %d", XXServiceLogEscaped(targetPath).c_str(), err);
        XXNoteTransferFailure({XXFailedStep::writeTarget, targetPath, err});
        outcome = Copied::failed;
    }
    if (outcome == Copied::done && total != size) {
        XXServiceLogf("%s holds %llu of its %llu bytes (errno %d)", XXServiceLogEscaped(sourcePath).c_str(),
                      static_cast<unsigned long long>(total), static_cast<unsigned long long>(size), err);
        XXNoteTransferFailure({XXFailedStep::readStored, sourcePath, err, total, size});
        outcome = Copied::failed;
        fromStore = true;
    }
    if (outcome != Copied::done)
        unlink(targetPath.c_str());
    else
        err = 0;
    return outcome;
}
