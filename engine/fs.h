/* Public interface of the protected store engine. Usable from C.
 *
 * Success is 0 or a non-negative count or handle; failure is -1 with errno set.
 * fs_mount alone returns a positive errno (2: no account yet) as a normal answer.
 * Texts returned by the engine are malloc'd; the caller frees them. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FS_STORE_DIR_NAME ".TovinCoffervale"
#define FS_PART_SIZE 536870912ULL
#define FS_MAX_HANDLES 2048
#define FS_NAME_MAX 784

enum { FS_O_READ = 0, FS_O_WRITE = 1 };
enum { FS_DT_DIR = 1, FS_DT_FILE = 2 };

struct fs_dirent {
    uint8_t type; /* FS_DT_DIR or FS_DT_FILE */
    uint64_t size; /* recorded size; 0 for folders */
    int64_t time; /* creation time, seconds since the epoch */
    char name[FS_NAME_MAX];
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
void fs_set_config(const char *key, const char *value);
/* The canonical store directory of the mounted store, or nothing. Not to be freed. */
const char *fs_store_dir(void);

/* Files: mode FS_O_WRITE takes a third argument, the file's size as uint64_t. */
int fs_open(const char *path, int mode, ...);
/* Lengths above INT_MAX are refused with EINVAL: the byte count is returned as an int. */
int fs_read(int handle, void *buffer, uint32_t length);
int fs_write(int handle, const void *bytes, uint32_t length);
int fs_close(int handle);

/* Folders and entries */
int fs_mkdir(const char *path);
int fs_rmdir(const char *path);
int fs_unlink(const char *path);
int fs_rename(const char *old_path, const char *new_path);
fs_dir *fs_opendir(const char *path);
struct fs_dirent *fs_readdir(fs_dir *dir);
int fs_closedir(fs_dir *dir);

#ifdef __cplusplus
}
#endif
