#include "Transfer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "CliSupport.h"
#include "Vault.h"
#include "fs.h"

namespace cli {

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

}  // namespace cli
