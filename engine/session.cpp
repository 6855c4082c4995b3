// The engine's global context: attaching a store on a volume, the account, keys and locks.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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

/* A password change writes two files, the root index and the hint in the config file, and a
 * crash can fall between them. So the new hint is first stored as pending together with a
 * fingerprint of the root index it was written over: while the root index is still that
 * file the old password holds and the committed hint is its own; once the index differs the
 * new password holds and the pending hint is the one that belongs to it. */
static const char kPendingHintKey[] = "core.pendingprompt";
enum { FINGERPRINT_HEX = 2 * SHA1_RAWSZ };

static int root_index_fingerprint(char *hex_out /* FINGERPRINT_HEX + 1 */)
{
    struct strbuf path = STRBUF_INIT;
    if (strbuf_addf(&path, "%s/%s", store_ctx.store_dir.buf, store_ctx.index_name) < 0)
        return -1;
    int fd = fs_sys_open_regular(path.buf, O_RDONLY);
    strbuf_release(&path);
    if (fd < 0)
        return -1;
    struct sha1_ctx ctx;
    if (sha1_init(&ctx) < 0) {
        close(fd);
        return -1;
    }
    unsigned char buf[16384];
    ssize_t n;
    int r = 0;
    while ((n = read(fd, buf, sizeof(buf))) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r = -1;
            break;
        }
        if (sha1_update(&ctx, buf, (size_t)n) < 0) {
            r = -1;
            break;
        }
    }
    int saved = errno;
    unsigned char digest[SHA1_RAWSZ];
    if (r == 0 && sha1_final(&ctx, digest) < 0)
        r = -1;
    else if (r == 0)
        object_id_to_hex(digest, hex_out);
    sha1_release(&ctx);
    close(fd);
    errno = saved;
    return r;
}

enum pending_state { PENDING_NONE, PENDING_ROLLED_BACK, PENDING_TAKEN };

/* Which way an interrupted password change went. On PENDING_TAKEN *hint is the new hint
 * (the caller frees it). A record that cannot be read counts as none: the committed hint is
 * then the one to show. */
static int pending_hint_state(char **hint)
{
    *hint = NULL;
    char *pending = fs_get_config(kPendingHintKey);
    if (!pending)
        return PENDING_NONE;
    int state = PENDING_NONE;
    char current[FINGERPRINT_HEX + 1];
    if (strlen(pending) > FINGERPRINT_HEX && pending[FINGERPRINT_HEX] == ' ' &&
        root_index_fingerprint(current) == 0) {
        if (strncmp(pending, current, FINGERPRINT_HEX) == 0) {
            state = PENDING_ROLLED_BACK;
        } else if ((*hint = strdup(pending + FINGERPRINT_HEX + 1))) {
            state = PENDING_TAKEN;
        }
    }
    free(pending);
    return state;
}

/* Finishes or undoes an interrupted password change; safe to repeat after any crash in it. */
static int settle_pending_hint(void)
{
    char *hint = NULL;
    int state = pending_hint_state(&hint);
    int r = 0;
    if (state == PENDING_TAKEN)
        r = fs_set_config("core.prompt", hint);
    if (r == 0 && state != PENDING_NONE)
        r = fs_set_config(kPendingHintKey, "");
    free(hint);
    return r;
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
    // A config kept from an earlier vault in this folder must not carry its pending hint.
    char *pending = fs_get_config(kPendingHintKey);
    if (pending && *pending)
        fs_set_config(kPendingHintKey, "");
    free(pending);
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
    // A full disk must not lock the user out: the pending record keeps telling which hint
    // holds until a later login settles it.
    if (r >= 0)
        settle_pending_hint();
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
    if (settle_pending_hint() < 0) {
        int saved = errno;  // a second pending record would hide the first one's outcome
        index_discard(&root);
        errno = saved;
        return -1;
    }
    if (hint) {
        char base[FINGERPRINT_HEX + 1];
        struct strbuf pending = STRBUF_INIT;
        int failed = root_index_fingerprint(base) < 0 || strbuf_addf(&pending, "%s %s", base, hint) < 0 ||
            fs_set_config(kPendingHintKey, pending.buf) < 0;
        int saved = errno;
        strbuf_release(&pending);
        if (failed) {
            index_discard(&root);
            errno = saved;
            return -1;
        }
    }
    unsigned char old_key[SHA1_RAWSZ];
    memcpy(old_key, store_ctx.root_key, SHA1_RAWSZ);
    root.changed |= INDEX_REPLACED;
    if (sha1_buffer(new_password, strlen(new_password), store_ctx.root_key) < 0 || index_release(&root) < 0) {
        // The old root index is normally still whole under the old key; which file is in
        // place decides the hint, as after a crash.
        int saved = errno;
        index_discard(&root);
        memcpy(store_ctx.root_key, old_key, SHA1_RAWSZ);
        if (hint)
            settle_pending_hint();
        errno = saved;
        return -1;
    }
    // The new password holds from here on. Should committing the hint fail, the pending
    // record still shows the new hint and the next login commits it.
    if (hint)
        settle_pending_hint();
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
    char *hint = NULL;
    if (pending_hint_state(&hint) == PENDING_TAKEN)
        return hint;
    return fs_get_config("core.prompt");
}

char *fs_config_key(const char *key)
{
    char *normalised = NULL;
    size_t baselen = 0;
    if (!key) {
        errno = EINVAL;
        return NULL;
    }
    errno = 0;
    if (config_parse_key(key, &normalised, &baselen) < 0) {
        if (errno != ENOMEM)
            errno = EINVAL;
        return NULL;
    }
    return normalised;
}

enum fs_config_status fs_set_config_status(const char *key, const char *value)
{
    return (enum fs_config_status)config_set_in_file(NULL, key, value, 0);
}

int fs_set_config(const char *key, const char *value)
{
    if (!the_store) {
        errno = EBADF;
        return -1;
    }
    errno = 0;
    switch (fs_set_config_status(key, value)) {
    case FS_CONFIG_OK:
        return 0;
    case FS_CONFIG_LOCK_FAILED:
        if (errno == EEXIST)
            errno = EBUSY;  // the lock of a running writer, not a taken name
        break;
    case FS_CONFIG_INVALID_KEY:
    case FS_CONFIG_NO_SECTION_OR_NAME:
    case FS_CONFIG_NOTHING_SET:
        errno = EINVAL;
        break;
    default:
        if (!errno)
            errno = EIO;
        break;
    }
    return -1;
}
