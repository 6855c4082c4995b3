// The engine's global context: attaching a store on a volume, the account, keys and locks.
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "config.h"
#include "context.h"
#include "engine_internal.h"
#include "fs.h"
#include "index.h"
#include "index_cache.h"
#include "path.h"

static struct store_context store_ctx = {STRBUF_INIT, NULL, NULL, NULL, {0}, {0}, 0};
struct store_context *the_store;

struct engine_lock_slot {
    pthread_mutex_t *mutex;
    int create_at_mount;
};
static struct engine_lock_slot engine_locks[ENGINE_LOCK_COUNT] = {{NULL, 1}, {NULL, 0}};

static pthread_mutex_t *mutex_new(void)
{
    pthread_mutex_t *m = (pthread_mutex_t *)malloc(sizeof(*m));
    if (!m || pthread_mutex_init(m, NULL) != 0) {
        free(m);
        errno = ENOMEM;
        return NULL;
    }
    return m;
}

int engine_locks_create_at_mount(void)
{
    for (int i = 0; i < ENGINE_LOCK_COUNT; i++)
        if (engine_locks[i].create_at_mount && !engine_locks[i].mutex &&
            !(engine_locks[i].mutex = mutex_new())) {
            engine_locks_destroy();
            return -1;
        }
    return 0;
}

void engine_locks_destroy(void)
{
    for (int i = 0; i < ENGINE_LOCK_COUNT; i++) {
        if (engine_locks[i].mutex) {
            pthread_mutex_destroy(engine_locks[i].mutex);
            free(engine_locks[i].mutex);
            engine_locks[i].mutex = NULL;
        }
    }
}

int engine_lock(int locknum)
{
    struct engine_lock_slot *slot = &engine_locks[locknum];
    if (!slot->mutex) {
        pthread_mutex_t *guard = engine_locks[ENGINE_LOCK_CREATE].mutex;
        if (!guard) {
            errno = ENOMEM;
            return -1;
        }
        pthread_mutex_lock(guard);
        if (!slot->mutex)
            slot->mutex = mutex_new();
        pthread_mutex_unlock(guard);
        if (!slot->mutex)
            return -1;
    }
    pthread_mutex_lock(slot->mutex);
    return 0;
}

void engine_unlock(int locknum)
{
    pthread_mutex_unlock(engine_locks[locknum].mutex);
}

int require_mounted(void)
{
    if (the_store)
        return 0;
    errno = EBADF;
    return -1;
}

const char *fs_store_dir(void)
{
    return the_store ? the_store->store_dir.buf : NULL;
}

static void clear_keys(void)
{
    memset(store_ctx.root_key, 0, sizeof(store_ctx.root_key));
    memset(store_ctx.object_key, 0, sizeof(store_ctx.object_key));
    store_ctx.object_key_loaded = 0;
}

int fs_umount(void)
{
    if (require_mounted() < 0)
        return -1;
    index_cache_drop();
    handle_table_release();
    strbuf_release(&store_ctx.store_dir);
    free(store_ctx.index_name);
    free(store_ctx.config_name);
    store_ctx.index_name = store_ctx.config_name = NULL;
    the_store = NULL;
    engine_locks_destroy();
    clear_keys();
    return 0;
}

static int mount_fail(int err)
{
    fs_umount();
    errno = err;
    return -1;
}

int fs_mount(const char *volume_path)
{
    if (the_store) {
        errno = EEXIST;
        return -1;
    }
    if (engine_locks_create_at_mount() < 0)
        return -1;
    index_cache_drop();
    the_store = &store_ctx;
    store_ctx.hash = &sha1_algo;

    struct strbuf path = STRBUF_INIT;
    const char *volume = volume_path ? volume_path : "";
    size_t vlen = strlen(volume);
    if (strbuf_addstr(&path, volume) < 0 ||
        (vlen && volume[vlen - 1] != '/' && strbuf_addch(&path, '/') < 0) ||
        strbuf_addstr(&path, FS_STORE_DIR_NAME) < 0) {
        strbuf_release(&path);
        return mount_fail(ENOMEM);
    }
    // A failed attempt leaves nothing mounted, so the next mount can go ahead.
    if (!strbuf_realpath(&store_ctx.store_dir, path.buf)) {
        strbuf_release(&path);
        return mount_fail(EBADF);
    }
    strbuf_release(&path);
    store_ctx.index_name = strdup("index");
    store_ctx.config_name = strdup("config");
    if (!store_ctx.index_name || !store_ctx.config_name)
        return mount_fail(ENOMEM);

    struct strbuf index_path = STRBUF_INIT;
    if (strbuf_addf(&index_path, "%s/%s", store_ctx.store_dir.buf, store_ctx.index_name) < 0)
        return mount_fail(ENOMEM);
    struct stat st;
    int r = stat(index_path.buf, &st) == 0 ? 0 : errno;
    strbuf_release(&index_path);
    return r;
}

static int root_index_exists(int *exists)
{
    struct strbuf index_path = STRBUF_INIT;
    if (strbuf_addf(&index_path, "%s/%s", store_ctx.store_dir.buf, store_ctx.index_name) < 0)
        return -1;
    struct stat st;
    int r = stat(index_path.buf, &st);
    int saved = errno;
    strbuf_release(&index_path);
    if (r == 0) {
        *exists = 1;
        return 0;
    }
    *exists = 0;
    errno = saved;
    return saved == ENOENT ? 0 : -1;
}

int fs_mkfs(const char *password, const char *hint)
{
    if (!the_store || !password) {
        errno = EBADF;
        return -1;
    }
    index_cache_drop();
    if (mkdir(store_ctx.store_dir.buf, 0777) < 0 && errno != EEXIST)
        return -1;
    int exists;
    if (root_index_exists(&exists) < 0)
        return -1;
    if (exists) {
        errno = EEXIST;
        return -1;
    }
    if (sha1_buffer(password, strlen(password), store_ctx.root_key) < 0)
        return -1;
    memcpy(store_ctx.object_key, store_ctx.root_key, SHA1_RAWSZ);
    store_ctx.object_key_loaded = 1;

    struct store_index root = INDEX_INIT;
    if (index_read_from(&root, "", store_ctx.index_name) < 0) {
        index_discard(&root);
        clear_keys();
        return -1;
    }
    root.changed = INDEX_ADDED;
    if (index_release(&root) < 0) {
        int saved = errno;
        clear_keys();
        errno = saved;
        return -1;
    }
    fs_set_config("core.prompt", hint ? hint : "");
    return 0;
}

// Reads the root index under the key of password; the previous key stays on failure.
static int read_root_with(const char *password, struct store_index *root, unsigned char *previous)
{
    memcpy(previous, store_ctx.root_key, SHA1_RAWSZ);
    if (sha1_buffer(password, strlen(password), store_ctx.root_key) < 0)
        return -1;
    int r = index_read(root);
    if (r >= 0 && !root->loaded) {
        r = -1;  // no root index: the store has no account to log in to
        errno = ENOENT;
    }
    if (r < 0) {
        int saved = errno;
        memcpy(store_ctx.root_key, previous, SHA1_RAWSZ);
        errno = saved;
    }
    return r;
}

int fs_login(const char *password)
{
    if (!the_store || !password) {
        errno = EBADF;
        return -1;
    }
    // A password is checked against the file, never against a copy in memory.
    index_cache_drop();
    unsigned char previous[SHA1_RAWSZ];
    struct store_index root = INDEX_INIT;
    int r = read_root_with(password, &root, previous);
    int saved = errno;
    index_discard(&root);
    errno = saved;
    return r;
}

int fs_chpasswd(const char *old_password, const char *new_password, const char *hint)
{
    if (!the_store || !old_password || !new_password) {
        errno = EBADF;
        return -1;
    }
    index_cache_drop();
    unsigned char previous[SHA1_RAWSZ];
    struct store_index root = INDEX_INIT;
    int r = read_root_with(old_password, &root, previous);
    if (r < 0) {
        int saved = errno;
        index_discard(&root);
        errno = saved;
        return -1;
    }
    // The hint goes first: when it cannot be stored nothing has changed, and the password is
    // never changed with the old hint left in place. Should the root index then fail, the
    // old hint is put back.
    char *old_hint = hint ? fs_get_prompt() : NULL;
    if (hint && fs_set_config("core.prompt", hint) < 0) {
        int saved = errno;
        free(old_hint);
        index_discard(&root);
        errno = saved;
        return -1;
    }
    unsigned char old_key[SHA1_RAWSZ];
    memcpy(old_key, store_ctx.root_key, SHA1_RAWSZ);
    root.changed |= INDEX_REPLACED;
    if (sha1_buffer(new_password, strlen(new_password), store_ctx.root_key) < 0 || index_release(&root) < 0) {
        // The old root index is still whole on the volume, under the old key.
        int saved = errno;
        index_discard(&root);
        memcpy(store_ctx.root_key, old_key, SHA1_RAWSZ);
        if (hint)
            fs_set_config("core.prompt", old_hint ? old_hint : "");
        free(old_hint);
        errno = saved;
        return -1;
    }
    free(old_hint);
    return r;
}

struct last_value {
    const char *key;
    char *value;
};

static int keep_last_value(const char *name, const char *value, void *data)
{
    struct last_value *last = (struct last_value *)data;
    if (strcmp(name, last->key) != 0)
        return 0;
    free(last->value);
    last->value = NULL;
    return config_string(&last->value, name, value) < 0 && value ? -1 : 0;
}

char *fs_get_config(const char *key)
{
    if (!the_store || !key)
        return NULL;
    struct strbuf path = STRBUF_INIT;
    if (strbuf_addf(&path, "%s/%s", store_ctx.store_dir.buf, store_ctx.config_name) < 0)
        return NULL;
    struct last_value last = {key, NULL};
    config_from_file(keep_last_value, path.buf, &last);
    strbuf_release(&path);
    return last.value;
}

char *fs_get_prompt(void)
{
    return fs_get_config("core.prompt");
}

int fs_set_config(const char *key, const char *value)
{
    if (!the_store) {
        errno = EBADF;
        return -1;
    }
    errno = 0;
    switch (config_set_in_file(NULL, key, value, 0)) {
    case CONFIG_OK:
        return 0;
    case CONFIG_LOCK_FAILED:
        if (errno == EEXIST)
            errno = EBUSY;  // the lock of a running writer, not a taken name
        break;
    case CONFIG_INVALID_KEY:
    case CONFIG_NO_SECTION_OR_NAME:
    case CONFIG_NOTHING_SET:
        errno = EINVAL;
        break;
    default:
        if (!errno)
            errno = EIO;
        break;
    }
    return -1;
}
