/* Public interface of the protected store engine. Usable from C.
 *
 * Success is 0 or a non-negative count or handle; failure is -1 with errno set.
 * fs_mount alone returns a positive errno (2: no account yet) as a normal answer.
 * Texts returned by the engine are malloc'd; the caller frees them. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FS_STORE_DIR_NAME ".TovinCoffervale"
#define FS_PART_SIZE 536870912ULL
#define FS_MAX_HANDLES 2048
#define FS_NAME_MAX 784
#define FS_ID_SIZE 20

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

/* Batches of new files and folders. Between fs_batch_begin and fs_batch_end, a file created by
 * fs_open, or a folder by fs_mkdir, is recorded in its folder only in memory, fs_close does not
 * fsync the content, and a new folder's own empty index is written without fsync.
 * fs_batch_commit writes each changed folder index once, to its lock file, makes those and the
 * content durable together (one syncfs) and then puts the indexes in place; until then a crash
 * loses those files and folders (their objects are left as orphans for fs_check to report) but
 * never anything committed before. A file counts as stored only
 * once a commit after its fs_close succeeded. fs_batch_end commits and ends the batch; so do
 * fs_umount, fs_login and fs_chpasswd. Returns 0, or -1 with errno when an index write
 * failed or an uncommitted entry was lost (EIO). */
int fs_batch_begin(void);
int fs_batch_commit(void);
int fs_batch_end(void);

/* Folders and entries */
int fs_mkdir(const char *path);
int fs_rmdir(const char *path);
int fs_unlink(const char *path);
int fs_rename(const char *old_path, const char *new_path);
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
    FS_CHECK_UNFINISHED_MARK /* a whole file whose entry still says its write never finished */
};

struct fs_check_problem {
    int kind; /* enum fs_check_kind */
    /* The entry's store path with a leading "/" (folders end in "/"), or, for a file of the
     * store directory that no entry names, its path on the volume. */
    const char *path;
    const char *text; /* one line for people, the path included */
};

typedef void (*fs_check_problem_fn)(const struct fs_check_problem *problem, void *ctx);

struct fs_check_summary {
    uint64_t folders; /* folder entries met, the root not counted */
    uint64_t files; /* file entries */
    uint64_t bytes; /* the files' recorded sizes */
    uint64_t orphaned_objects;
};

int fs_check(fs_check_problem_fn on_problem, void *ctx, struct fs_check_summary *summary);

/* Cleans up after an interrupted run, as found by fs_check: removes leftover lock files and
 * orphaned object files, and removes the file entries whose content is missing, cut short or
 * unreadable (what an interrupted write leaves), with their parts and objects, and takes out
 * the folder entries that name the index of a folder met before (a folder inside itself),
 * leaving that index to the folder that keeps it, and clears the unfinished mark of files
 * whose content reads back whole. Such files and folder indexes are otherwise never touched.
 * on_action (may be NULL) gets one
 * line per change made. Returns the number of changes, or -1 with errno as fs_check; a
 * change that fails is reported as such and not counted. Call it only while no other
 * program uses the vault, as a lock file of a running writer looks like a leftover one. */
typedef void (*fs_repair_fn)(const char *text, void *ctx);
int fs_repair(fs_repair_fn on_action, void *ctx);

#ifdef __cplusplus
}
#endif
