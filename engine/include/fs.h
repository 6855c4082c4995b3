/* Public interface of the protected store engine. Usable from C.
 *
 * Success is 0 or a non-negative count or handle; failure is -1 with errno set.
 * fs_mount alone returns a positive errno (2: no account yet) as a normal answer.
 * Texts returned by the engine are malloc'd; the caller frees them. */
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FS_STORE_DIR_NAME ".TovinCoffervale"
#define FS_PART_SIZE 536870912ULL
#define FS_MAX_HANDLES 2048
#define FS_NAME_MAX 784
#define FS_ID_SIZE 20
/* The longest path of an entry, in bytes, counted as shown with its leading "/" ("/Docs/a.txt"):
 * 2,048 levels of one-byte names, or 16 of 255 bytes. Every call that makes or moves an entry
 * refuses a longer one with ENAMETOOLONG (a folder moved or renamed counts its deepest entry),
 * fs_check reports one, and every walk of a vault within it reaches its last entry. */
#define FS_PATH_MAX 4096

enum { FS_O_READ = 0, FS_O_WRITE = 1 };
enum { FS_DT_DIR = 1, FS_DT_FILE = 2 };

struct fs_dirent {
    uint8_t type; /* FS_DT_DIR or FS_DT_FILE */
    /* 1: a file whose write had not finished when its entry was last recorded (a crash, a
     * pulled stick, or a write still running); reading it may fail or come short. */
    uint8_t unfinished;
    uint64_t size; /* recorded size; 0 for folders */
    int64_t time; /* creation time, seconds since the epoch */
    char name[FS_NAME_MAX];
    /* The object the entry names: a folder's index, a file's first part. A valid store never
     * names one folder index twice, so a walk that meets a folder id again has found damage
     * (a folder inside itself) and must not enter it. */
    unsigned char id[FS_ID_SIZE];
};

typedef struct fs_dir {
    uint32_t count;
    uint32_t cursor;
    struct fs_dirent records[];
} fs_dir;

/* Session */
int fs_mount(const char *volume_path);
int fs_umount(void);
int fs_mkfs(const char *password, const char *hint);
int fs_login(const char *password);
int fs_chpasswd(const char *old_password, const char *new_password, const char *hint);
char *fs_get_prompt(void);
char *fs_get_config(const char *key);
/* 0, or -1 with errno: 16 (EBUSY) while another running program holds config.lock, 22
 * (EINVAL) a bad key or one given twice in the file, else the failing call's (ENOSPC, EIO,
 * or EIO when the file cannot be read to its end). A lock left by a dead process is taken
 * over. */
int fs_set_config(const char *key, const char *value);
/* A configuration key as the file holds it: section and name lower-cased, a subsection
 * ("section.sub.name") as given. malloc'd; NULL with errno 22 (EINVAL) for a key without a
 * section or a name, or with a character no key may hold, 12 (ENOMEM). */
char *fs_config_key(const char *key);
/* What a setting of the configuration came to, for a caller that words each outcome itself. */
enum fs_config_status {
    FS_CONFIG_LOCK_FAILED = -1, /* config.lock could not be made: another writer holds it */
    FS_CONFIG_OK = 0,
    FS_CONFIG_INVALID_KEY = 1,
    FS_CONFIG_NO_SECTION_OR_NAME = 2,
    FS_CONFIG_READ_FAILED = 3,
    FS_CONFIG_WRITE_FAILED = 4,
    FS_CONFIG_NOTHING_SET = 5 /* the key stands in the file more than once; nothing changed */
};
/* fs_set_config, telling its outcomes apart instead of through errno. */
enum fs_config_status fs_set_config_status(const char *key, const char *value);
/* The canonical store directory of the mounted store, or nothing. Not to be freed. */
const char *fs_store_dir(void);

/* Files: mode FS_O_WRITE takes a third argument, the file's size as uint64_t. */
int fs_open(const char *path, int mode, ...);
/* Lengths above INT_MAX are refused with EINVAL: the byte count is returned as an int. */
int fs_read(int handle, void *buffer, uint32_t length);
int fs_write(int handle, const void *bytes, uint32_t length);
int fs_close(int handle);

/* Small files compressed ahead, off the engine's lock. fs_deflate_content makes the complete
 * compressed stream of the object of a file holding size bytes of content (size at most
 * FS_DEFLATE_MAX): one zlib stream of the same plaintext as fs_write and fs_close would store,
 * though not always the same bytes (a faster compressor takes what compresses). It touches no engine
 * state: any thread, no lock, mounted or not; one deflater per thread at a time. *stream is a
 * malloc'd buffer of *capacity bytes (NULL and 0 at first), grown with realloc as needed and
 * the caller's to free; *length gets the stream's length. 0, or -1 with errno (22 EINVAL for
 * a size too large, 12 ENOMEM).
 *
 * fs_write_deflated then stores that stream as the whole content of a file just opened with
 * fs_open(path, FS_O_WRITE, size) for the same size: it is encrypted with the object's key and
 * written, and fs_close finishes the file as after fs_write. The caller's obligation: the
 * stream is fs_deflate_content's for exactly the declared size, as the declared size is the
 * number of bytes written. Only before any fs_write on the handle, with a declared size of at
 * most FS_DEFLATE_MAX (else -1 with errno 22 and nothing written), and at most once. Returns
 * 0, or -1 with errno (28 ENOSPC for a full volume); the file is then incomplete, like after a
 * failed fs_write. */
#define FS_DEFLATE_MAX 1048544U
struct fs_deflater;
struct fs_deflater *fs_deflater_new(void);
int fs_deflate_content(struct fs_deflater *deflater, const void *content, uint32_t size,
                       unsigned char **stream, size_t *capacity, size_t *length);
void fs_deflater_free(struct fs_deflater *deflater);
int fs_write_deflated(int handle, const void *stream, uint32_t length);

/* Threads compressing a large object: 0 (the default) one per core up to 8, n > 0 that many,
 * -1 none (every object one stream deflated on the caller's thread). Applies to objects
 * started later; for measuring the writers against each other. */
void fs_set_deflate_threads(int n);

/* Batches of new files and folders. Between fs_batch_begin and fs_batch_end, a file created by
 * fs_open, or a folder by fs_mkdir, is recorded in its folder only in memory, fs_close does not
 * fsync the content, and a new folder's own empty index is written without fsync.
 * fs_batch_commit writes each changed folder index once, to its lock file, makes those and the
 * content durable together (one syncfs) and then puts the indexes in place; until then a crash
 * loses those files and folders (their objects are left as orphans for fs_check to report) but
 * never anything committed before. A file counts as stored only
 * once a commit after its fs_close succeeded. fs_batch_end commits and ends the batch; so do
 * fs_umount, fs_login and fs_chpasswd. Returns 0, or -1 with errno when an index write
 * failed or an uncommitted entry was lost (with the errno of the failure that lost it). */
int fs_batch_begin(void);
int fs_batch_commit(void);
int fs_batch_end(void);

/* Folders and entries */
int fs_mkdir(const char *path);
int fs_rmdir(const char *path);
int fs_unlink(const char *path);
int fs_rename(const char *old_path, const char *new_path);
/* Removes files of one folder together, with one write of its index: on a full volume the
 * room all their objects free is there for that write. names are plain names of folder's
 * files; one that is not there (ENOENT) or is a folder (EISDIR) refuses the whole call before
 * anything changes. Like fs_unlink, the index without them is on the disk before any object
 * goes; when it cannot be written, all of them stay whole. 0, or -1 with errno. */
int fs_unlink_names(const char *folder, const char *const *names, size_t count);
fs_dir *fs_opendir(const char *path);
/* Lists the folder whose record (from fs_readdir of its parent) carries id, without resolving
 * path again, so a walk reads each folder once however deep it goes. path names the folder in
 * the listing's context only; id alone decides what is read. NULL with errno: EBADMSG when
 * the folder's index is missing or damaged, EINVAL for a NULL id. */
fs_dir *fs_opendir_id(const char *path, const unsigned char *id);
struct fs_dirent *fs_readdir(fs_dir *dir);
int fs_closedir(fs_dir *dir);

/* Verification: reads every index and every object of the mounted, logged-in store and
 * changes nothing. on_problem (may be NULL) is called once per problem found, in the order
 * of a depth-first walk of the folders, then for the files of the store directory that no
 * entry names. The problem's texts are valid only during the call. Returns the number of
 * problems, or -1 with errno: 9 (EBADF) when nothing is mounted, 12 (ENOMEM). A root index
 * that cannot be read (not logged in, a wrong key, damage) is a problem, not a failure.
 * Callers serialise it with the other engine calls, as it reads the indexes they rewrite. */
enum fs_check_kind {
    FS_CHECK_ROOT_INDEX = 1, /* the root index cannot be read; nothing else is checked */
    FS_CHECK_ENTRY_ORDER, /* entries out of order or named twice */
    FS_CHECK_UNSAFE_NAME, /* a name no file or folder may have; its entry is not followed */
    FS_CHECK_STRAY_PART, /* a part entry that belongs to no file */
    FS_CHECK_FOLDER_SHARED, /* a folder index named by two entries, or from inside itself */
    FS_CHECK_FOLDER_MISSING,
    FS_CHECK_FOLDER_DAMAGED,
    FS_CHECK_OBJECT_MISSING,
    FS_CHECK_OBJECT_UNREADABLE, /* cannot be decrypted or inflated */
    FS_CHECK_OBJECT_HEADER, /* the object's type or size is not its entry's */
    FS_CHECK_CONTENT_DAMAGED,
    FS_CHECK_SIZE_MISMATCH, /* the content is longer or shorter than its entry says */
    FS_CHECK_PART_MISSING,
    FS_CHECK_ORPHANED_OBJECT, /* an object file no entry names */
    FS_CHECK_LEFTOVER_LOCK, /* the lock file of an interrupted write */
    FS_CHECK_UNFINISHED_MARK, /* a whole file whose entry still says its write never finished */
    FS_CHECK_PATH_TOO_LONG /* an entry whose path passes FS_PATH_MAX (only its topmost is reported) */
};

struct fs_check_problem {
    int kind; /* enum fs_check_kind */
    /* The entry's store path with a leading "/" (folders end in "/"), or, for a file of the
     * store directory that no entry names, its path on the volume. */
    const char *path;
    const char *text; /* one line for people, the path included */
    /* 1 for a problem of a file's content whose entry still carries the mark of a write that
     * never finished (see fs_dirent.unfinished): what an interrupted write leaves. 0 for one
     * damaged after it was written, which only a person may give up. */
    int unfinished;
};

typedef void (*fs_check_problem_fn)(const struct fs_check_problem *problem, void *ctx);

struct fs_check_summary {
    uint64_t folders; /* folder entries met, the root not counted */
    uint64_t files; /* file entries */
    uint64_t bytes; /* the files' recorded sizes */
    uint64_t orphaned_objects;
};

int fs_check(fs_check_problem_fn on_problem, void *ctx, struct fs_check_summary *summary);

/* Salvage: what can still be read of a file that does not read back whole (fs_check found it
 * damaged). Each content object is decrypted and inflated as far as it goes; where it breaks
 * off, reading resumes at its next 1 MiB block (the writer ends each at a sync point) or at
 * the file's next 512 MiB part, so what lies beyond the damage comes out at its place. A block
 * after a break lacks the 32 KiB before it that it may copy from: only its bytes that owe
 * nothing to them are read. Objects written as one stream (small files, other writers) have
 * no such points: after a break, the rest of their part is lost. Nothing is written. */
enum fs_salvage_kind {
    FS_SALVAGE_UNREADABLE = 1, /* not read; a copy holds zeros there */
    /* read, but the checksum over the part they are in does not match, or could not be
     * checked for a break in it: some of them may be wrong */
    FS_SALVAGE_UNVERIFIED = 2
};
struct fs_salvage_range {
    uint64_t offset;
    uint64_t length;
    int kind; /* enum fs_salvage_kind */
};
struct fs_salvage;
/* NULL with errno (ENOENT, EISDIR, EACCES, EBADMSG, ENOMEM); *size (may be NULL) gets the
 * recorded size. Safe to keep across other engine calls, not across fs_umount. */
struct fs_salvage *fs_salvage_open(const char *path, uint64_t *size);
/* The next readable bytes, at most length, in increasing order of their place in the file
 * (*offset gets it); what lies between two pieces is an unreadable range. 0 at the end, -1
 * with errno (ENOMEM, EINVAL). */
int fs_salvage_read(struct fs_salvage *s, void *buffer, uint32_t length, uint64_t *offset);
/* The ranges found so far; every one, in order of offset, once fs_salvage_read gave 0. *ranges
 * stays valid until the next call on s. */
size_t fs_salvage_ranges(const struct fs_salvage *s, const struct fs_salvage_range **ranges);
void fs_salvage_close(struct fs_salvage *s);

/* Cleans up after an interrupted run, as found by fs_check, and nothing else: removes leftover
 * lock files; removes the file entries whose write never finished (they still carry its mark)
 * and whose content is missing, cut short or unreadable, with their parts and objects; clears
 * the mark of such files whose content reads back whole; takes out the folder entries that
 * name the index of a folder met before (a folder inside itself), leaving that index to the
 * folder that keeps it; and removes orphaned object files, but only when every folder index
 * could be read (else they may be the files of a folder that cannot). A file damaged after it
 * was written stays as it is, listed as damaged, for fs_salvage to read what it can. on_action
 * (may be NULL) gets one line per change made. Returns the number of changes, or -1 with errno
 * as fs_check; a change that fails is reported as such and not counted. Call it only while no
 * other program uses the vault, as a lock file of a running writer looks like a leftover one. */
typedef void (*fs_repair_fn)(const char *text, void *ctx);
int fs_repair(fs_repair_fn on_action, void *ctx);

/* The system calls by which the engine opens and changes store files. Other code that writes
 * on the volume for the vault (the service's backup copies) calls them too, so that all of it
 * passes through one counter and tests can make the N-th call fail, or end the process at it,
 * and check that no interruption costs a committed file. */
int fs_sys_open(const char *path, int flags, mode_t mode);
ssize_t fs_sys_write(int fd, const void *buf, size_t len);
int fs_sys_fsync(int fd);
int fs_sys_rename(const char *from, const char *to);
int fs_sys_unlink(const char *path);
/* Swaps two names in one step (renameat2 RENAME_EXCHANGE); where the file system cannot,
 * fails with its EINVAL or ENOSYS and changes nothing. */
int fs_sys_rename_exchange(const char *a, const char *b);
/* Opens a file that must be a regular file, without ever waiting on it: a FIFO or device in
 * place of a store file fails with EBADMSG (the vault is damaged). Counted as one open. */
int fs_sys_open_regular(const char *path, int flags);

enum fs_fault_action {
    FS_FAULT_NONE = 0,
    FS_FAULT_FAIL, /* the call fails with the given errno and does nothing */
    FS_FAULT_EXIT /* the process ends with _exit(code) before the call does anything */
};

/* Restarts the count; the call numbered nth (from 1) after this one gets the action, the
 * others run normally. nth 0 only counts. */
void fs_fault_arm(unsigned long nth, int action, int value);
/* Calls since the last arm. */
unsigned long fs_fault_calls(void);
/* 1 once the armed call was reached. */
int fs_fault_fired(void);

#ifdef __cplusplus
}
#endif
