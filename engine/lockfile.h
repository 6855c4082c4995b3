/* A lock on a file about to be replaced: the new content goes to the target path followed
 * by ".lock", which is then renamed over the target, so readers see the old file or the
 * new one. Not used outside the engine; usable from C. */
#pragma once

#include "strbuf.h"

#ifdef __cplusplus
extern "C" {
#endif

struct lock_file {
    int active;
    int fd;
    struct strbuf path;
};
// clang-format off
#define LOCK_INIT { 0, -1, STRBUF_INIT }
// clang-format on

/* The descriptor, or -1 with errno (EEXIST while a live process holds the lock). A lock
 * file left by a process that died is taken over. */
int lock_file_hold(struct lock_file *lk, const char *path);
const char *lock_file_target(struct lock_file *lk, struct strbuf *out);
/* Flushes, closes and renames onto the target; on failure the lock file is removed and the
 * target left untouched. */
int lock_file_commit(struct lock_file *lk);
void lock_file_rollback(struct lock_file *lk);

#ifdef __cplusplus
}
#endif
