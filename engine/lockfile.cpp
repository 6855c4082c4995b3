// Lock files: the replacement of a file by rename, so that readers never see half of it.
#include "lockfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs.h"

// A holder keeps an flock on its lock file for as long as it writes. A lock file that no
// process has locked was left by one that died: it is taken over rather than blocking every
// later write until someone removes it by hand.
static int take_over_stale(const char *path)
{
    int fd = fs_sys_open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    struct stat held, now;
    if (fstat(fd, &held) < 0 || !S_ISREG(held.st_mode) || flock(fd, LOCK_EX | LOCK_NB) < 0 ||
        stat(path, &now) < 0 || now.st_ino != held.st_ino || now.st_dev != held.st_dev ||
        ftruncate(fd, 0) < 0) {
        close(fd);
        errno = EEXIST;  // a live holder, or a file that is not a lock file
        return -1;
    }
    return fd;
}

int lock_file_hold(struct lock_file *lk, const char *path)
{
    strbuf_reset(&lk->path);
    if (strbuf_addstr(&lk->path, path) < 0 || strbuf_addstr(&lk->path, ".lock") < 0)
        return -1;
    int fd = fs_sys_open(lk->path.buf, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0 && errno == EINVAL)
        fd = fs_sys_open(lk->path.buf, O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK, 0666);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) < 0) {
        int saved = errno;
        close(fd);
        fs_sys_unlink(lk->path.buf);
        errno = saved;
        return -1;
    }
    if (fd < 0 && errno == EEXIST)
        fd = take_over_stale(lk->path.buf);
    if (fd < 0)
        return -1;
    lk->fd = fd;
    lk->active = 1;
    return fd;
}

const char *lock_file_target(struct lock_file *lk, struct strbuf *out)
{
    size_t n = lk->path.len;
    if (n < 6 || strcmp(lk->path.buf + n - 5, ".lock") != 0)
        return NULL;
    strbuf_reset(out);
    if (strbuf_add(out, lk->path.buf, n - 5) < 0)
        return NULL;
    return out->buf;
}

int lock_file_commit(struct lock_file *lk)
{
    struct strbuf target = STRBUF_INIT;
    if (!lk->active || !lock_file_target(lk, &target)) {
        errno = EINVAL;
        return -1;
    }
    // The new content must be on the disk before it replaces the old file.
    int failed = fs_sys_fsync(lk->fd) < 0;
    int saved = errno;
    if (close(lk->fd) < 0 && !failed) {
        failed = 1;
        saved = errno;
    }
    lk->fd = -1;
    if (!failed && fs_sys_rename(lk->path.buf, target.buf) < 0) {
        failed = 1;
        saved = errno;
    }
    strbuf_release(&target);
    if (failed) {
        lock_file_rollback(lk);
        errno = saved;
        return -1;
    }
    lk->active = 0;
    strbuf_release(&lk->path);
    return 0;
}

void lock_file_rollback(struct lock_file *lk)
{
    if (!lk->active)
        return;
    int saved = errno;
    if (lk->fd >= 0)
        close(lk->fd);
    lk->fd = -1;
    fs_sys_unlink(lk->path.buf);
    lk->active = 0;
    strbuf_release(&lk->path);
    errno = saved;
}
