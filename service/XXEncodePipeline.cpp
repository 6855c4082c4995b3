#include "XXEncodePipeline.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <unordered_map>
#include <vector>

#include "XXComputerFile.h"
#include "XXDiskFileManager.h"
#include "XXProtectStoreWalk.h"
#include "XXServiceLog.h"
#include "XXServiceText.h"
#include "XXTool.h"
#include "XXTransferFailure.h"
#include "fs.h"

using xxtransfer::XXFoldedNames;

namespace {

bool isReadableFolder(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return false;
    closedir(dir);
    return true;
}

bool isRegularFile(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

static std::atomic<std::int64_t> commitIntervalMs{500};

// The new files of one folder import, recorded in the store in batches: one syncfs and one
// index write per folder per batch instead of two fsyncs and a whole index per file. A file
// joins the tree only once the batch holding it is committed, so the tree never shows a
// file a crash could still take away.
//
// A commit rewrites the whole index of each folder it touches, so a batch waits until the
// largest of them has grown by half: the index bytes written while a folder fills stay
// linear in its entries, where a fixed batch made them grow with the square. Time alone
// commits too, after a wait that grows with that folder from the commit interval, and is at
// least ten times what the last commit took (a slow volume's sync costs more), up to
// kLongestWait, so no file waits longer than that to be stored.
class XXImportBatch {
public:
    XXImportBatch()
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_batch_begin();
    }
    ~XXImportBatch()
    {
        if (open_)
            finish();
    }
    XXImportBatch(const XXImportBatch &) = delete;
    XXImportBatch &operator=(const XXImportBatch &) = delete;

    void add(const std::shared_ptr<XXProtectFileWrapper> &folder, const std::string &name, std::uint64_t size)
    {
        pending_.push_back({folder, name, size});
        const size_t inFolder = ++pendingIn_[folder.get()] + folder->allSubFileArray().size();
        largest_ = std::max(largest_, inFolder);
    }
    bool due() const
    {
        if (pending_.size() >= std::max(kEntries, largest_ / 2))
            return true;
        const std::int64_t base = commitIntervalMs.load();
        const std::int64_t grown = base * static_cast<std::int64_t>(std::max<size_t>(largest_, kGrowsFrom)) /
            static_cast<std::int64_t>(kGrowsFrom);
        const std::int64_t wait = std::max(base, std::min(std::max(grown, 10 * lastCommitMs_), kLongestWait.count()));
        return std::chrono::steady_clock::now() - since_ >= std::chrono::milliseconds(wait);
    }
    // 0, or the errno of the failed commit; the batch's files are then not stored.
    int commit() { return settle(false); }
    // The same for folders just made, which wait in the batch like files: a failed commit
    // loses them even when no file is waiting.
    int commitFolders()
    {
        foldersWaiting_ = true;
        return settle(false);
    }
    int finish() { return settle(true); }

private:
    struct Pending {
        std::shared_ptr<XXProtectFileWrapper> folder;
        std::string name;
        std::uint64_t size;
    };
    // Each commit also makes the file system write its metadata again (the object folders'
    // blocks, inode tables, the journal), so a fast import commits by time, not by count; the
    // wait already bounds what a crash can take.
    static constexpr size_t kEntries = 16384;
    // Folders up to this size are committed after the plain interval.
    static constexpr size_t kGrowsFrom = 2048;
    static constexpr std::chrono::milliseconds kLongestWait{2000};

    int settle(bool end)
    {
        int r, err;
        const auto started = std::chrono::steady_clock::now();
        {
            auto engine = XXDiskFileManager::lockEngine();
            r = end ? fs_batch_end() : fs_batch_commit();
            err = r == 0 ? 0 : errno;
        }
        lastCommitMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                            .count();
        if (end)
            open_ = false;
        if (r == 0) {
            const std::string date = XXTool::shareTool().currentDate();
            for (const Pending &p : pending_)
                p.folder->appendSubFile(
                    XXProtectFileWrapper::makeFile(p.folder->fullPath(), p.name, p.size, date));
        } else if (!pending_.empty()) {
            XXServiceLogf("commit of %zu imported files failed: errno %d", pending_.size(), err);
            XXTransferFailure failure{XXFailedStep::commit, {}, err ? err : EIO};
            for (const Pending &p : pending_)
                failure.files.push_back(xxservice::joinFullPath(p.folder->fullPath(), p.name));
            XXNoteTransferFailure(std::move(failure));
        }
        // A failed commit with nothing of this batch waiting has lost nothing of it.
        const bool lost = r != 0 && (!pending_.empty() || foldersWaiting_);
        foldersWaiting_ = false;
        pending_.clear();
        pendingIn_.clear();
        largest_ = 0;
        since_ = std::chrono::steady_clock::now();
        return lost ? (err ? err : EIO) : 0;
    }

    std::vector<Pending> pending_;
    std::unordered_map<const XXProtectFileWrapper *, size_t> pendingIn_;
    size_t largest_ = 0;  // entries of the fullest folder the batch adds to, its own included
    std::int64_t lastCommitMs_ = 0;
    bool foldersWaiting_ = false;
    std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
    bool open_ = true;
};

void XXEncodePipeline::setCommitInterval(std::chrono::milliseconds interval)
{
    commitIntervalMs = interval.count();
}

XXEncodePipeline::XXEncodePipeline(XXDiskFileManager &manager, XXTransferActivity &activity)
    : XXTransferMachine(activity, XXResultArea::importing, true), manager_(manager)
{}

void XXEncodePipeline::start(const XXFileArray &files,
                             const std::shared_ptr<XXProtectFileWrapper> &destination,
                             const ResultBlock &complete)
{
    XXFileArray items;
    if (int code = startRefusal(manager_.mountSuccess(), manager_.isLogin(), files, destination, items))
        return refuseStart(complete, code);
    const std::uint64_t total = allSelectedComputerFileSize(items);
    begin(std::move(items), total, complete, XXEncodeRun{destination});
}

std::uint64_t XXEncodePipeline::computerWrapperSize(XXFileWrapper &wrapper)
{
    std::uint64_t total = 0;
    std::vector<XXFileWrapper *> pending{&wrapper};
    while (!pending.empty()) {
        XXFileWrapper *current = pending.back();
        pending.pop_back();
        if (!current->isDirectory()) {
            total += current->fileAttributes() ? current->fileAttributes()->fileSize : 0;
            continue;
        }
        for (const auto &child : current->allWithoutHiddenFileSubFileArray())
            pending.push_back(child.get());
    }
    return total;
}

std::uint64_t XXEncodePipeline::allSelectedComputerFileSize(const XXFileArray &files)
{
    std::uint64_t total = 0;
    for (const auto &file : files)
        if (file)
            total += computerWrapperSize(*file);
    return total;
}

XXEncodePlan XXEncodePipeline::separateFolder(const std::shared_ptr<XXFileWrapper> &source,
                                              const std::shared_ptr<XXProtectFileWrapper> &destination,
                                              const std::string &name)
{
    XXEncodePlan plan;
    if (!source || !source->isDirectory() || !destination)
        return plan;
    const std::string date = XXTool::shareTool().currentDate();

    // One frame per open folder, so the plan comes out as a recursive walk would make it
    // without the stack growing with the depth.
    struct Frame {
        std::shared_ptr<XXFileWrapper> source;
        std::shared_ptr<XXProtectFileWrapper> folder;
        size_t next = 0;
        XXFoldedNames allNames;  // every child name that will be stored
        XXFoldedNames claimed;  // the names given out so far
    };
    std::vector<Frame> stack;
    auto enter = [&](const std::shared_ptr<XXFileWrapper> &folderSource,
                     const std::shared_ptr<XXProtectFileWrapper> &holder, const std::string &folderName) {
        const std::string parentPath = holder->fullPath();
        auto entry = XXProtectFileWrapper::makeFolder(parentPath, folderName, date);
        plan.folders.push_back({xxservice::joinFullPath(parentPath, folderName), holder, entry});
        Frame frame;
        frame.source = folderSource;
        frame.folder = entry;
        if (!folderSource->systemPath().empty() && !isReadableFolder(folderSource->systemPath()))
            plan.refusedPaths.push_back(folderSource->fullPath());
        for (const auto &child : folderSource->allWithoutHiddenFileSubFileArray())
            if (xxtransfer::canBeStoreName(child->fileName()))
                frame.allNames.add(child->fileName(), child->isDirectory());
        stack.push_back(std::move(frame));
    };

    enter(source, destination, name);
    while (!stack.empty()) {
        Frame &frame = stack.back();
        XXFileArray &children = frame.source->allWithoutHiddenFileSubFileArray();
        if (frame.next >= children.size()) {
            stack.pop_back();
            continue;
        }
        const std::shared_ptr<XXFileWrapper> child = children[frame.next++];
        const std::string &childName = child->fileName();
        const bool isFolder = child->isDirectory();
        if (!xxtransfer::canBeStoreName(childName) ||
            (!isFolder &&
             !isRegularFile(child->systemPath().empty() ? child->fullPath() : child->systemPath()))) {
            plan.refusedPaths.push_back(child->fullPath());
            continue;
        }
        // The store takes "Notes" and "notes" for one entry; a computer folder may hold both.
        std::string storedName = childName;
        if (frame.claimed.hasAny(storedName))
            storedName = xxtransfer::freeName(childName, isFolder, [&](const std::string &candidate) {
                return frame.allNames.hasAny(candidate) || frame.claimed.hasAny(candidate);
            });
        if (storedName.empty()) {
            plan.refusedPaths.push_back(child->fullPath());
            continue;
        }
        frame.claimed.add(storedName, isFolder);
        const std::shared_ptr<XXProtectFileWrapper> holder = frame.folder;
        if (isFolder) {
            enter(child, holder, storedName);  // frame is stale from here
            continue;
        }
        plan.files.push_back({child->fullPath(), xxservice::joinFullPath(holder->fullPath(), storedName),
                              storedName, child, holder});
    }
    return plan;
}

XXEncodePipeline::Step XXEncodePipeline::processItem(const ItemPtr &item, std::uint64_t generation,
                                                     const XXEncodeRun &run, XXEncodeLoop &loop)
{
    const std::string &itemName = item->fileName();
    const bool isFolder = item->isDirectory();
    const std::shared_ptr<XXProtectFileWrapper> &destination = run.destination;
    if (!loop.destinationNames)
        loop.destinationNames = xxtransfer::namesInTreeAndStore(*destination);
    XXFoldedNames &names = *loop.destinationNames;
    // A file an interrupted import left unfinished is no file to keep: it is replaced in
    // place rather than offered as a clash (and skipped as already stored).
    const bool replacesIncomplete = !isFolder && names.has(itemName, false) && !names.has(itemName, true) &&
        xxtransfer::storeFileIsIncomplete(destination->fullPath(), itemName);
    // Ends the open batch of directly chosen files; a failed commit fails this item.
    auto settleBatch = [&](const Step &then) {
        if (!loop.batch)
            return then;
        const int err = loop.batch->finish();
        loop.batch.reset();
        return err ? failedWith(XXReportFileFailed, itemName, err) : then;
    };
    Step instead;
    const std::string name =
        replacesIncomplete ? itemName : storeNameFor(itemName, isFolder, names, generation, &instead);
    if (name.empty())
        return settleBatch(instead);
    if (replacesIncomplete)
        xxtransfer::forgetIncompleteChild(*destination, name);

    if (isFolder) {
        const Step settled = settleBatch(advanced());
        if (settled.kind != Step::advance)
            return settled;
        return importFolder(*item, item, name, destination, names, generation);
    }

    if (!loop.batch)
        loop.batch = std::make_shared<XXImportBatch>();
    const std::string target = xxservice::joinFullPath(destination->fullPath(), name);
    if (!loop.ahead) {
        const XXFileArray chosen = selectedFiles();
        loop.aheadFrom = index();
        std::vector<std::string> sources;
        for (size_t i = static_cast<size_t>(loop.aheadFrom); i < chosen.size(); i++)
            sources.push_back(chosen[i]->isDirectory() ? std::string() : chosen[i]->fullPath());
        loop.ahead = std::make_shared<XXImportReadAhead>(std::move(sources));
    }
    std::uint64_t size = 0;
    int err = 0;
    XXImportReadAhead::Ready ready;
    const char *createFailed = "创建文件失败___%s";
    const Copied copied = loop.ahead->take(static_cast<size_t>(index() - loop.aheadFrom), &ready)
        ? storeReadAhead(ready, target, itemName, createFailed, generation, &size, &err)
        : ready.cutShort ? cutShort(item->fullPath(), ready, &err)
                         : importFile(item->fullPath(), target, itemName, createFailed, generation, &size, &err);
    switch (copied) {
    case Copied::cancelled:
        settleBatch(stopped());
        return stopped();
    case Copied::failed: {
        const Step settled = settleBatch(advanced());
        return settled.kind != Step::advance ? settled : failedWith(XXReportFileFailed, itemName, err);
    }
    case Copied::done:
        break;
    }
    names.add(name, false);
    loop.batch->add(destination, name, size);
    if (atLastItem() || loop.batch->due())
        return settleBatch(advanced());
    return advanced();
}

XXEncodePipeline::Step XXEncodePipeline::importFolder(
    const XXFileWrapper &item, const std::shared_ptr<XXFileWrapper> &source, const std::string &name,
    const std::shared_ptr<XXProtectFileWrapper> &destination, XXFoldedNames &names, std::uint64_t generation)
{
    XXEncodePlan plan = separateFolder(source, destination, name);
    int firstError = 0;  // of the first failure, which the report carries
    // The folders are made in the batch and committed together before any file, so the tree
    // never shows a folder a crash could still take away.
    XXImportBatch batch;
    auto foldersMade = xxtransfer::createStoreFolders(
        plan.folders, name, names, [&] { return isLive(generation); }, &firstError);
    if (int err = batch.commitFolders()) {
        xxtransfer::forgetStoreFolders(plan.folders);
        if (foldersMade == xxtransfer::XXFoldersMade::all)
            firstError = err;
        foldersMade = xxtransfer::XXFoldersMade::failed;
    }
    switch (foldersMade) {
    case xxtransfer::XXFoldersMade::stopped:
        return stopped();
    case xxtransfer::XXFoldersMade::failed:
        return failedWith(XXReportFolderFailed, item.fileName(), firstError);
    case xxtransfer::XXFoldersMade::all:
        break;
    }

    xxtransfer::XXFolderFailures failures;
    for (const std::string &refused : plan.refusedPaths) {
        XXServiceLogf("not imported (not a file or folder the store can hold): %s",
                      XXServiceLogEscaped(refused).c_str());
        XXNoteTransferFailure({XXFailedStep::notStorable, refused});
        failures.add(0);
    }
    // A file that fails does not stop the others; the folder is reported once they are in.
    std::vector<std::string> sources;
    sources.reserve(plan.files.size());
    for (const XXEncodeFileRecord &record : plan.files)
        sources.push_back(record.sourcePath);
    // While one file is stored, the next are read and compressed.
    XXImportReadAhead ahead(std::move(sources));
    size_t next = 0;
    std::uint64_t size = 0;  // of the file just stored
    const bool whole = xxtransfer::copyFolderFiles(
        plan.files, failures,
        [&](const XXEncodeFileRecord &record, int *err) {
            size = 0;
            XXImportReadAhead::Ready ready;
            const char *createFailed = "__创建文件失败————%s";
            const std::string &name = record.sourceWrapper->fileName();
            if (ahead.take(next++, &ready))
                return storeReadAhead(ready, record.destinationPath, name, createFailed, generation, &size,
                                      err);
            if (ready.cutShort)
                return cutShort(record.sourcePath, ready, err);
            return importFile(record.sourcePath, record.destinationPath, name, createFailed, generation,
                              &size, err);
        },
        [&](const XXEncodeFileRecord &record) {
            batch.add(record.destinationWrapper, record.destinationName, size);
            if (batch.due())
                if (int err = batch.commit())
                    failures.add(err);
        });
    if (!whole) {
        // What was complete before the cancel stays, as it always did.
        batch.finish();
        return stopped();
    }
    if (int err = batch.finish())
        failures.add(err);
    return failures.any ? failedWith(XXReportFolderFailed, item.fileName(), failures.firstError) : advanced();
}

XXEncodePipeline::Copied
XXEncodePipeline::importFile(const std::string &sourcePath, const std::string &targetPath,
                             const std::string &progressName, const char *createFailedFormat,
                             std::uint64_t generation, std::uint64_t *size, int *systemError)
{
    *systemError = 0;
    // Not blocking on open, so a named pipe chosen by mistake is refused rather than waited on.
    xxtransfer::XXFileDescriptor source(
        open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!source.isOpen() || fstat(source.get(), &st) != 0) {
        *systemError = errno;
        XXServiceLogf("cannot read %s: errno %d", XXServiceLogEscaped(sourcePath).c_str(), *systemError);
        XXNoteTransferFailure({XXFailedStep::readSource, sourcePath, *systemError});
        return Copied::failed;
    }
    if (!S_ISREG(st.st_mode)) {
        XXServiceLogf("cannot read %s: not a regular file", XXServiceLogEscaped(sourcePath).c_str());
        XXNoteTransferFailure({XXFailedStep::notStorable, sourcePath});
        return Copied::failed;
    }
    // The declared size is the file's size now; exactly that many bytes are stored.
    const std::uint64_t declared = static_cast<std::uint64_t>(st.st_size);
    int handle;
    {
        auto engine = XXDiskFileManager::lockEngine();
        handle = fs_open(targetPath.c_str(), FS_O_WRITE, declared);
        if (handle < 0)
            *systemError = errno;
    }
    if (handle < 0) {
        XXServiceLogf(createFailedFormat, XXServiceLogEscaped(targetPath).c_str());
        XXNoteTransferFailure({XXFailedStep::createFile, targetPath, *systemError});
        return Copied::failed;
    }

    Copied outcome = Copied::done;
    std::vector<char> buffer(static_cast<size_t>(std::min(XXTransferChunkSize, declared)));
    // The next chunk is read from the computer while this one is stored.
    std::vector<char> ahead(declared > XXTransferChunkSize ? buffer.size() : 0);
    struct Read {
        ssize_t got;
        int error;
    };
    std::future<Read> pending;
    auto chunkAt = [&](std::uint64_t offset) {
        return static_cast<size_t>(std::min<std::uint64_t>(XXTransferChunkSize, declared - offset));
    };
    const int fd = source.get();
    auto readInto = [fd](char *into, size_t want) {
        const ssize_t got = xxtransfer::readFully(fd, into, want);
        return Read{got, got < 0 ? errno : 0};
    };
    std::uint64_t written = 0;
    while (written < declared) {
        const size_t want = chunkAt(written);
        Read read;
        if (pending.valid()) {
            read = pending.get();
            std::swap(buffer, ahead);
        } else {
            read = readInto(buffer.data(), want);
        }
        if (read.got == static_cast<ssize_t>(want) && written + want < declared)
            pending = std::async(std::launch::async, readInto, ahead.data(), chunkAt(written + want));
        const ssize_t got = read.got;
        if (got <= 0) {
            *systemError = got < 0 ? read.error : 0;
            XXServiceLogf("%s ended after %llu of %llu bytes (errno %d)",
                          XXServiceLogEscaped(sourcePath).c_str(), static_cast<unsigned long long>(written),
                          static_cast<unsigned long long>(declared), *systemError);
            XXNoteTransferFailure({*systemError ? XXFailedStep::readSource : XXFailedStep::sourceChanged,
                                   sourcePath, *systemError, written, declared});
            outcome = Copied::failed;
            break;
        }
        int put;
        {
            auto engine = XXDiskFileManager::lockEngine();
            put = fs_write(handle, buffer.data(), static_cast<std::uint32_t>(got));
            if (put != got)
                *systemError = put < 0 ? errno : 0;
        }
        if (put != got) {
            XXServiceLogf("fs_write--%d errno %d: %s", put, *systemError,
                          XXServiceLogEscaped(targetPath).c_str());
            XXNoteTransferFailure({XXFailedStep::writeFile, targetPath, *systemError});
            outcome = Copied::failed;
            break;
        }
        written += static_cast<std::uint64_t>(got);
        if (!chunkWritten(generation, static_cast<std::uint64_t>(got), progressName)) {
            outcome = Copied::cancelled;
            break;
        }
    }

    *size = written;
    return xxtransfer::closeStoreTarget(handle, outcome, targetPath, systemError);
}

XXEncodePipeline::Copied XXEncodePipeline::cutShort(const std::string &sourcePath,
                                                    const XXImportReadAhead::Ready &ready, int *systemError)
{
    *systemError = ready.error;
    XXServiceLogf("%s ended after %llu of %llu bytes (errno %d)", XXServiceLogEscaped(sourcePath).c_str(),
                  static_cast<unsigned long long>(ready.got), static_cast<unsigned long long>(ready.size),
                  ready.error);
    XXNoteTransferFailure({ready.error ? XXFailedStep::readSource : XXFailedStep::sourceChanged, sourcePath,
                           ready.error, ready.got, ready.size});
    return Copied::failed;
}

XXEncodePipeline::Copied
XXEncodePipeline::storeReadAhead(const XXImportReadAhead::Ready &ready, const std::string &targetPath,
                                 const std::string &progressName, const char *createFailedFormat,
                                 std::uint64_t generation, std::uint64_t *size, int *systemError)
{
    *systemError = 0;
    *size = 0;
    int handle;
    {
        auto engine = XXDiskFileManager::lockEngine();
        handle = fs_open(targetPath.c_str(), FS_O_WRITE, ready.size);
        if (handle < 0)
            *systemError = errno;
    }
    if (handle < 0) {
        XXServiceLogf(createFailedFormat, XXServiceLogEscaped(targetPath).c_str());
        XXNoteTransferFailure({XXFailedStep::createFile, targetPath, *systemError});
        return Copied::failed;
    }
    int put;
    {
        auto engine = XXDiskFileManager::lockEngine();
        put = fs_write_deflated(handle, ready.stream, static_cast<std::uint32_t>(ready.length));
        if (put != 0)
            *systemError = errno;
    }
    Copied outcome = Copied::done;
    if (put != 0) {
        XXServiceLogf("fs_write--%d errno %d: %s", put, *systemError,
                      XXServiceLogEscaped(targetPath).c_str());
        XXNoteTransferFailure({XXFailedStep::writeFile, targetPath, *systemError});
        outcome = Copied::failed;
    } else {
        *size = ready.size;
        // As a streamed file, an empty one reports no chunk.
        if (ready.size && !chunkWritten(generation, ready.size, progressName))
            outcome = Copied::cancelled;
    }
    return xxtransfer::closeStoreTarget(handle, outcome, targetPath, systemError);
}
