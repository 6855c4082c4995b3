/* The system calls by which the engine opens and changes store files. They all pass through
 * one counter so that tests can make the N-th call fail, or end the process at it, and check
 * that no interruption costs a committed file. Usable from C. */
#pragma once

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

int sys_open(const char *path, int flags, mode_t mode);
ssize_t sys_write(int fd, const void *buf, size_t len);
int sys_fsync(int fd);
int sys_rename(const char *from, const char *to);
int sys_unlink(const char *path);
/* Swaps two names in one step (renameat2 RENAME_EXCHANGE); where the file system cannot,
 * fails with its EINVAL or ENOSYS and changes nothing. */
int sys_rename_exchange(const char *a, const char *b);
/* Opens a file that must be a regular file, without ever waiting on it: a FIFO or device in
 * place of a store file fails with EBADMSG (the vault is damaged). Counted as one open. */
int sys_open_regular(const char *path, int flags);

enum io_fault_action {
    IO_FAULT_NONE = 0,
    IO_FAULT_FAIL, /* the call fails with the given errno and does nothing */
    IO_FAULT_EXIT /* the process ends with _exit(code) before the call does anything */
};

/* Restarts the count; the call numbered nth (from 1) after this one gets the action, the
 * others run normally. nth 0 only counts. */
void io_fault_arm(unsigned long nth, int action, int value);
/* Calls since the last arm. */
unsigned long io_fault_calls(void);
/* 1 once the armed call was reached. */
int io_fault_fired(void);

#ifdef __cplusplus
}
#endif
