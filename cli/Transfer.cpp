#include "Transfer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "CliSupport.h"
#include "Vault.h"
#include "fs.h"

namespace cli {

void copyFileIn(const std::string &localPath, const std::string &storePath, uint64_t size)
{
    int in = open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        failErrno(localPath, errno);
    int h = fs_open(storePath.c_str(), FS_O_WRITE, size);
    if (h < 0) {
        int e = errno;
        close(in);
        failErrno(storePath, e);
    }
    std::vector<char> buf(kChunk);
    Progress progress(storePath, size);
    uint64_t done = 0;
    int err = 0;
    std::string what = storePath;
    while (done < size) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The file shrank while it was read: the entry would not hold what it declares.
            err = n < 0 ? errno : EIO;
            what = localPath;
            break;
        }
        if (fs_write(h, buf.data(), (uint32_t)n) != n) {
            err = errno;
            break;
        }
        done += (uint64_t)n;
        progress.advance((uint64_t)n);
    }
    close(in);
    if (fs_close(h) < 0 && !err)
        err = errno;
    if (err) {
        fs_unlink(storePath.c_str()); // never leave an incomplete entry behind
        failErrno(what, err);
    }
}

uint64_t streamFileOut(const std::string &storePath, uint64_t size, int fd, const std::string &label)
{
    int h = fs_open(storePath.c_str(), FS_O_READ);
    if (h < 0)
        failErrno(storePath, errno);
    std::vector<char> buf(kChunk);
    Progress progress(label, size);
    uint64_t total = 0;
    int err = 0;
    for (;;) {
        int n = fs_read(h, buf.data(), (uint32_t)buf.size());
        if (n < 0) {
            err = errno;
            break;
        }
        if (n == 0)
            break;
        const char *p = buf.data();
        size_t left = (size_t)n;
        while (left) {
            ssize_t w = write(fd, p, left);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                err = w < 0 ? errno : ENOSPC;
                break;
            }
            p += w;
            left -= (size_t)w;
        }
        if (err)
            break;
        total += (uint64_t)n;
        progress.advance((uint64_t)n);
    }
    fs_close(h);
    if (err)
        failErrno(storePath, err);
    if (total != size)
        throw OperationError(storePath + ": damaged in the vault (" + std::to_string(total) + " of " +
                             std::to_string(size) + " bytes readable)");
    return total;
}

void copyFileOut(const std::string &storePath, uint64_t size, const std::string &localPath)
{
    int fd = open(localPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        failErrno(localPath, errno);
    try {
        streamFileOut(storePath, size, fd, localPath);
        int err = fsync(fd) < 0 ? errno : 0;
        if (close(fd) < 0 && !err)
            err = errno;
        fd = -1;
        if (err)
            failErrno(localPath, err);
    } catch (...) {
        if (fd >= 0)
            close(fd);
        unlink(localPath.c_str());
        throw;
    }
}

} // namespace cli
