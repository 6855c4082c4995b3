// The counted system-call seam. Counting costs one atomic increment per call; the fault path
// is taken only when a test armed it.
#include "fs.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<unsigned long> calls{0};
std::atomic<unsigned long> armed_at{0};
std::atomic<int> action{FS_FAULT_NONE};
std::atomic<int> action_value{0};
std::atomic<int> fired{0};

// True when this call must fail; errno is then set.
bool injected()
{
    unsigned long n = ++calls;
    if (action.load(std::memory_order_relaxed) == FS_FAULT_NONE || n != armed_at.load())
        return false;
    fired = 1;
    if (action == FS_FAULT_EXIT)
        _exit(action_value);
    errno = action_value;
    return true;
}

}  // namespace

int fs_sys_open(const char *path, int flags, mode_t mode)
{
    return injected() ? -1 : open(path, flags, mode);
}

ssize_t fs_sys_write(int fd, const void *buf, size_t len)
{
    return injected() ? -1 : write(fd, buf, len);
}

int fs_sys_fsync(int fd)
{
    return injected() ? -1 : fsync(fd);
}

int fs_sys_rename(const char *from, const char *to)
{
    return injected() ? -1 : rename(from, to);
}

int fs_sys_unlink(const char *path)
{
    return injected() ? -1 : unlink(path);
}

int fs_sys_rename_exchange(const char *a, const char *b)
{
    return injected() ? -1 : renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE);
}

int fs_sys_open_regular(const char *path, int flags)
{
    int fd = fs_sys_open(path, flags | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) < 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISREG(st.st_mode) ? errno : EBADMSG;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

void fs_fault_arm(unsigned long nth, int act, int value)
{
    action = FS_FAULT_NONE;
    calls = 0;
    fired = 0;
    armed_at = nth;
    action_value = value;
    action = nth ? act : FS_FAULT_NONE;
}

unsigned long fs_fault_calls(void)
{
    return calls.load();
}

int fs_fault_fired(void)
{
    return fired.load();
}
