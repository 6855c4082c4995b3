#include "XXBackupFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "XXServiceLog.h"
#include "fs.h"

namespace xxbackup {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // close() reports the last write errors of some file systems (NFS, FUSE).
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Logs a failed step and hands its errno to the caller's *systemError (when given).
void logFailure(const char *what, const std::string &path, int err, int *systemError = nullptr)
{
    if (systemError)
        *systemError = err;
    XXServiceLogf("backup copy: %s %s: %s", what, XXServiceLogEscaped(path).c_str(), std::strerror(err));
}

ssize_t readSome(int fd, char *buffer, size_t length)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, length);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool writeAll(int fd, const char *bytes, size_t length)
{
    while (length) {
        const ssize_t n = fs_sys_write(fd, bytes, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::string parentFolder(const std::string &path)
{
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

FileCopyOutcome copyFileInChunks(const std::string &source, const std::string &destination,
                                 std::vector<char> &buffer,
                                 const std::function<bool(std::uint64_t)> &afterChunk, int *systemError)
{
    // O_NONBLOCK: a named pipe in the source must fail the check below, not hang the open.
    FileDescriptor in(fs_sys_open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    if (!in.valid()) {
        logFailure("cannot open", source, errno, systemError);
        return FileCopyOutcome::failed;
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) {
        logFailure("cannot examine", source, errno, systemError);
        return FileCopyOutcome::failed;
    }
    if (!S_ISREG(st.st_mode)) {
        logFailure("not a regular file:", source, EINVAL, systemError);
        return FileCopyOutcome::failed;
    }
    FileDescriptor out(fs_sys_open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out.valid()) {
        logFailure("cannot create", destination, errno, systemError);
        return FileCopyOutcome::failed;
    }
    for (;;) {
        const ssize_t n = readSome(in.get(), buffer.data(), buffer.size());
        if (n < 0) {
            logFailure("cannot read", source, errno, systemError);
            return FileCopyOutcome::failed;
        }
        if (n > 0 && !writeAll(out.get(), buffer.data(), static_cast<size_t>(n))) {
            logFailure("cannot write", destination, errno, systemError);
            return FileCopyOutcome::failed;
        }
        if (afterChunk && !afterChunk(static_cast<std::uint64_t>(n)))
            return FileCopyOutcome::cancelled;
        if (n == 0)
            break;
    }
    if (fs_sys_fsync(out.get()) != 0 || !out.close()) {
        logFailure("cannot flush", destination, errno, systemError);
        return FileCopyOutcome::failed;
    }
    return FileCopyOutcome::copied;
}

bool flushFolder(const std::string &path, int *systemError)
{
    FileDescriptor folder(fs_sys_open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    // Some file systems cannot flush a folder (EINVAL); their names are written with the files.
    if (!folder.valid() || (fs_sys_fsync(folder.get()) != 0 && errno != EINVAL)) {
        logFailure("cannot flush", path, errno, systemError);
        return false;
    }
    return true;
}

std::optional<std::string> replaceFolder(const std::string &replacement, const std::string &target,
                                         const std::string &aside, bool tryExchange, int *systemError)
{
    if (!exists(target)) {
        if (fs_sys_rename(replacement.c_str(), target.c_str()) != 0) {
            logFailure("cannot move into place", replacement, errno, systemError);
            return std::nullopt;
        }
        flushFolder(parentFolder(target));
        return std::string();
    }
    if (tryExchange && fs_sys_rename_exchange(replacement.c_str(), target.c_str()) == 0) {
        flushFolder(parentFolder(target));
        return replacement;
    }
    if (fs_sys_rename(target.c_str(), aside.c_str()) != 0) {
        logFailure("cannot move aside", target, errno, systemError);
        return std::nullopt;
    }
    if (fs_sys_rename(replacement.c_str(), target.c_str()) != 0) {
        const int err = errno;
        if (fs_sys_rename(aside.c_str(), target.c_str()) != 0)
            logFailure("cannot move back, the previous folder is at", aside, errno);
        logFailure("cannot move into place", replacement, err, systemError);
        return std::nullopt;
    }
    flushFolder(parentFolder(target));
    return aside;
}

bool putBackStoreLeftAside(const std::string &store)
{
    const std::string aside = store + kStoreAsideSuffix;
    struct stat st {};
    if (exists(store) || ::stat(aside.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (fs_sys_rename(aside.c_str(), store.c_str()) != 0) {
        logFailure("cannot put back", aside, errno);
        return false;
    }
    flushFolder(parentFolder(store));
    XXServiceLog("restore: put back the store left aside by an interrupted restore");
    return true;
}

}  // namespace xxbackup
