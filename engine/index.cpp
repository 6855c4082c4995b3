// Index files: reading, writing (through a lock file renamed over the old one), the name
// order and path resolution across the chain of folder indexes.
#include "index.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "context.h"
#include "fs.h"
#include "index_cache.h"
#include "object.h"
#include "path.h"

static inline int fold(int c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

int name_compare(const char *a, size_t alen, const char *b, size_t blen)
{
    size_t n = alen < blen ? alen : blen;
    for (size_t i = 0; i < n; i++) {
        int ca = fold((unsigned char)a[i]), cb = fold((unsigned char)b[i]);
        if (ca != cb)
            return ca - cb;
    }
    return alen < blen ? -1 : alen > blen ? 1 : 0;
}

static void put_le(unsigned char *p, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        p[i] = (unsigned char)(v >> (8 * i));
}

static uint64_t get_le(const unsigned char *p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

void index_discard(struct store_index *index)
{
    if (index->file_path && !index->changed && (index->loaded || index->deferred)) {
        index_cache_put(index);
        return;
    }
    if (index->file_path && index->changed)
        index_cache_forget(index->file_path, index->deferred);
    index_discard_content(index);
}

void index_discard_content(struct store_index *index)
{
    free(index->folder_path);
    free(index->file_path);
    free(index->entries);
    mem_pool_discard(index->pool);
    struct store_index empty = INDEX_INIT;
    *index = empty;
}

int index_release(struct store_index *index)
{
    int r = index->changed ? index_write(index) : 0;
    int saved = errno;
    index_discard(index);
    errno = saved;
    return r;
}

static int index_set_paths(struct store_index *index, const char *folder_path, const char *file_path)
{
    index->folder_path = strdup(folder_path);
    struct strbuf path = STRBUF_INIT;
    int ok = index->folder_path != NULL;
    if (ok && !strcmp(file_path, the_store->index_name))
        ok = strbuf_addf(&path, "%s/%s", the_store->store_dir.buf, file_path) == 0;
    else if (ok)
        ok = strbuf_addstr(&path, file_path) == 0;
    if (!ok) {
        strbuf_release(&path);
        errno = ENOMEM;
        return -1;
    }
    index->file_path = strbuf_detach(&path, NULL);
    if (!index->file_path) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

// A checksum that does not match: a wrong key, or damage that cannot be told from it.
static int corrupt(void)
{
    errno = EACCES;
    return -1;
}

// A file no key could make valid, or one whose checksum matched yet whose entries do not fit.
static int damaged(void)
{
    errno = EBADMSG;
    return -1;
}

// Checks and parses a decrypted index file into the (reset) index.
static int index_parse(struct store_index *index, const unsigned char *plain, size_t size)
{
    int root = index->folder_path[0] == 0;
    unsigned char digest[SHA1_RAWSZ];
    if (memcmp(plain, "DIRC", 4) != 0)
        return corrupt();
    uint32_t version = (uint32_t)get_le(plain + 4, 4);
    if (version >= 2)
        return corrupt();
    if (sha1_buffer(plain, size - SHA1_RAWSZ, digest) < 0)
        return -1;
    if (memcmp(digest, plain + size - SHA1_RAWSZ, SHA1_RAWSZ) != 0)
        return corrupt();

    // Entries must end before the trailer: the checksum, and for the root the object key.
    // The smallest file passes the checksum yet cannot hold a root's trailer and header.
    size_t trailer = SHA1_RAWSZ + (root ? SHA1_RAWSZ : 0);
    if (size < trailer + 12)
        return damaged();
    size_t limit = size - trailer;
    uint32_t count = (uint32_t)get_le(plain + 8, 4);
    if (count > (limit - 12) / index_entry_disk_size(1))
        return damaged();

    if (root && !the_store->object_key_loaded) {
        memcpy(the_store->object_key, plain + size - 2 * SHA1_RAWSZ, SHA1_RAWSZ);
        the_store->object_key_loaded = 1;
    }
    index->version = version;
    memcpy(index->checksum, plain + size - SHA1_RAWSZ, SHA1_RAWSZ);
    index->capacity = (count + 16) * 3 / 2;
    index->entries = (struct index_entry **)calloc(index->capacity, sizeof(*index->entries));
    index->pool = mem_pool_new((size_t)count * 16 + size);
    if (!index->entries || !index->pool) {
        errno = ENOMEM;
        return -1;
    }
    size_t off = 12;
    for (uint32_t i = 0; i < count; i++) {
        if (limit - off < 38)
            return damaged();
        const unsigned char *e = plain + off;
        uint32_t flags = (uint32_t)get_le(e + 36, 2);
        uint32_t len = flags & INDEX_NAME_MASK;
        uint32_t disk = index_entry_disk_size(len);
        if (disk > limit - off)
            return damaged();
        struct index_entry *entry = index_new_entry(index, len);
        if (!entry)
            return -1;
        entry->size = get_le(e, 8);
        entry->time = (int64_t)get_le(e + 8, 8);
        memcpy(entry->id, e + 16, SHA1_RAWSZ);
        entry->type_bits = flags & INDEX_TYPE_MASK;
        entry->name_len = len;
        memcpy(entry->name, e + 38, len);
        entry->name[len] = 0;
        index->entries[i] = entry;
        off += disk;
    }
    index->count = count;
    index->loaded = 1;
    return (int)count;
}

int index_read_from(struct store_index *index, const char *folder_path, const char *file_path)
{
    index_discard(index);
    if (index_set_paths(index, folder_path, file_path) < 0)
        return -1;
    int hit = index_cache_take(index);
    if (hit != 0)
        return hit < 0 ? -1 : (int)index->count;
    int fd = fs_sys_open_regular(index->file_path, O_RDONLY);
    if (fd < 0)
        return errno == ENOENT ? 0 : -1;
    struct stat st;
    if (fstat(fd, &st) < 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    if (st.st_size < INDEX_MIN_FILE) {
        close(fd);
        return damaged();
    }
    size_t size = (size_t)st.st_size;
    if (size % AES_BLOCKSZ || (!index->folder_path[0] && size < INDEX_MIN_ROOT_FILE)) {
        close(fd);
        return damaged();
    }
    void *map = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
    int saved = errno;
    close(fd);
    if (map == MAP_FAILED) {
        errno = saved;
        return -1;
    }
    unsigned char *plain = (unsigned char *)malloc(size);
    struct aes_cbc cipher = {NULL, 0};
    int r = -1;
    if (!plain)
        errno = ENOMEM;
    else if (cipher_setup(index->file_path, &cipher, 0) == 0 &&
             aes_cbc_update(&cipher, (const unsigned char *)map, plain, size) == 0)
        r = index_parse(index, plain, size);
    saved = errno;
    aes_cbc_release(&cipher);
    munmap(map, size);
    free(plain);
    if (r >= 0)
        index_cache_note_file(index);
    if (r < 0) {
        // A failed read leaves an empty index that still names its file.
        free(index->entries);
        index->entries = NULL;
        mem_pool_discard(index->pool);
        index->pool = NULL;
        index->count = index->capacity = 0;
        index->loaded = 0;
    }
    errno = saved;
    return r;
}

int index_read(struct store_index *index)
{
    if (index->loaded)
        return (int)index->count;
    return index_read_from(index, "", the_store->index_name);
}

// The whole file is built in memory, hashed, encrypted in place and written by one call:
// a folder of 10,000 entries is about 1 MiB, and small writes were most of the cost.
static int index_build(const struct store_index *index, unsigned char **out, size_t *out_len)
{
    int root = index->folder_path[0] == 0;
    size_t total = 12;
    for (uint32_t i = 0; i < index->count; i++) {
        uint32_t len = index->entries[i]->name_len;
        total += index_entry_disk_size(len > (uint32_t)INDEX_NAME_MASK ? (uint32_t)INDEX_NAME_MASK : len);
    }
    size_t pad = root ? (8 - total % 16 + 16) % 16 : (12 - total % 16 + 16) % 16;
    size_t size = total + pad + (root ? SHA1_RAWSZ : 0) + SHA1_RAWSZ;
    unsigned char *buf = (unsigned char *)calloc(1, size);
    if (!buf) {
        errno = ENOMEM;
        return -1;
    }
    memcpy(buf, "DIRC", 4);
    put_le(buf + 4, index->version, 4);
    put_le(buf + 8, index->count, 4);
    size_t off = 12;
    for (uint32_t i = 0; i < index->count; i++) {
        const struct index_entry *e = index->entries[i];
        uint32_t len = e->name_len > (uint32_t)INDEX_NAME_MASK ? (uint32_t)INDEX_NAME_MASK : e->name_len;
        unsigned char *p = buf + off;
        put_le(p, e->size, 8);
        put_le(p + 8, (uint64_t)e->time, 8);
        memcpy(p + 16, e->id, SHA1_RAWSZ);
        put_le(p + 36, len | (e->type_bits & INDEX_TYPE_MASK), 2);
        memcpy(p + 38, e->name, len);
        off += index_entry_disk_size(len);
    }
    off += pad;
    if (root) {
        memcpy(buf + off, the_store->object_key, SHA1_RAWSZ);
        off += SHA1_RAWSZ;
    }
    *out = buf;
    *out_len = size;
    return 0;
}

static int index_write_content(struct store_index *index, int fd)
{
    unsigned char *buf = NULL;
    size_t size = 0;
    if (index_build(index, &buf, &size) < 0)
        return -1;
    struct aes_cbc cipher = {NULL, 0};
    int r = -1;
    if (sha1_buffer(buf, size - SHA1_RAWSZ, index->checksum) == 0) {
        memcpy(buf + size - SHA1_RAWSZ, index->checksum, SHA1_RAWSZ);
        if (cipher_setup(index->file_path, &cipher, 1) == 0 && aes_cbc_update(&cipher, buf, buf, size) == 0)
            r = write_in_full(fd, buf, size);
    }
    int saved = errno;
    aes_cbc_release(&cipher);
    free(buf);
    errno = saved;
    return r;
}

// A lock file left by a crashed run is simply overwritten: index writes are serialised.
static const int kLockFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK;

// The new content goes to "<file>.lock", reaches the disk, and only then replaces the old
// file by rename: an interrupted write leaves the old index whole.
int index_write(struct store_index *index)
{
    if (!index->changed)
        return 0;
    if (!index->file_path || !index->folder_path) {
        errno = EINVAL;
        return -1;
    }
    struct strbuf lock_path = STRBUF_INIT;
    // Objects closed without fsync in a batch, and folders made in it, reach the disk before
    // any index names them.
    if (index_make_objects_durable() < 0)
        return -1;
    if (strbuf_addf(&lock_path, "%s.lock", index->file_path) < 0)
        return -1;
    int r = -1;
    int fd = open_creating_parent(lock_path.buf, kLockFlags, kLockFlags);
    if (fd >= 0 && index_write_content(index, fd) == 0 && fs_sys_fsync(fd) == 0) {
        int closing = fd;
        fd = -1;
        if (close(closing) == 0 && fs_sys_rename(lock_path.buf, index->file_path) == 0)
            r = 0;
    }
    int saved = errno;
    if (fd >= 0)
        close(fd);
    if (r < 0) {
        fs_sys_unlink(lock_path.buf);
    } else {
        index->changed = 0;
        index->deferred = 0;
        index_cache_note_file(index);
    }
    strbuf_release(&lock_path);
    errno = saved;
    return r;
}

// Writes the whole content to path, opened with flags, without a flush; a failed write
// leaves no file behind.
static int index_write_unflushed(struct store_index *index, const char *path, int flags)
{
    int fd = open_creating_parent(path, flags, flags);
    if (fd < 0)
        return -1;
    int r = index_write_content(index, fd);
    int saved = errno;
    if (close(fd) < 0 && r == 0) {
        r = -1;
        saved = errno;
    }
    if (r < 0)
        fs_sys_unlink(path);
    errno = saved;
    return r;
}

int index_stage(struct store_index *index, struct strbuf *staged)
{
    strbuf_reset(staged);
    if (!index->file_path || !index->folder_path) {
        errno = EINVAL;
        return -1;
    }
    if (strbuf_addf(staged, "%s.lock", index->file_path) < 0)
        return -1;
    return index_write_unflushed(index, staged->buf, kLockFlags);
}

int index_write_new(struct store_index *index)
{
    if (index_write_unflushed(index, index->file_path, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK) < 0)
        return -1;
    index->changed = 0;
    index->loaded = 1;
    index_note_unsynced_object();
    index_cache_note_file(index);
    return 0;
}

int index_flush_staged(const char *staged)
{
    int fd = fs_sys_open(staged, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int r = fs_sys_fsync(fd);
    int saved = errno;
    close(fd);
    errno = saved;
    return r;
}

int index_replace_by_staged(struct store_index *index, const char *staged)
{
    if (fs_sys_rename(staged, index->file_path) < 0)
        return -1;
    index->changed = 0;
    index->deferred = 0;
    index_cache_note_file(index);
    return 0;
}

struct index_entry *index_new_entry(struct store_index *index, size_t name_len)
{
    if (!index->pool && !(index->pool = mem_pool_new(0)))
        return NULL;
    return (struct index_entry *)mem_pool_calloc(index->pool, sizeof(struct index_entry) + name_len + 1);
}

struct index_entry *index_make_entry(struct store_index *index, const char *name, size_t name_len)
{
    struct index_entry *e = index_new_entry(index, name_len);
    if (!e)
        return NULL;
    memcpy(e->name, name, name_len);
    e->name[name_len] = 0;
    e->name_len = (uint32_t)name_len;
    return e;
}

int index_name_pos(const struct store_index *index, const char *name, size_t len)
{
    uint32_t lo = 0, hi = index->count;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        const struct index_entry *e = index->entries[mid];
        int cmp = name_compare(name, len, e->name, e->name_len);
        if (!cmp)
            return (int)mid;
        if (cmp > 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return -(int)lo - 1;
}

static int index_grow(struct store_index *index)
{
    if (index->count < index->capacity)
        return 0;
    uint32_t cap = (index->capacity + 16) * 3 / 2;
    if (cap < index->count + 1)
        cap = index->count + 1;
    struct index_entry **grown = (struct index_entry **)realloc(index->entries, cap * sizeof(*grown));
    if (!grown) {
        errno = ENOMEM;
        return -1;
    }
    index->entries = grown;
    index->capacity = cap;
    return 0;
}

int index_add_entry(struct store_index *index, struct index_entry *entry)
{
    uint32_t pos;
    if (index->count) {
        const struct index_entry *last = index->entries[index->count - 1];
        if (name_compare(entry->name, entry->name_len, last->name, last->name_len) > 0) {
            pos = index->count;
            goto insert;
        }
    }
    {
        int found = index_name_pos(index, entry->name, entry->name_len);
        if (found >= 0) {
            index->entries[found] = entry;
            index->changed |= INDEX_REPLACED;
            return 0;
        }
        pos = (uint32_t)(-found - 1);
    }
insert:
    if (index_grow(index) < 0)
        return -1;
    memmove(index->entries + pos + 1, index->entries + pos, (index->count - pos) * sizeof(*index->entries));
    index->entries[pos] = entry;
    index->count++;
    index->changed |= INDEX_ADDED;
    return 0;
}

int index_remove_entry_at(struct store_index *index, uint32_t pos)
{
    index->count--;
    memmove(index->entries + pos, index->entries + pos + 1, (index->count - pos) * sizeof(*index->entries));
    index->changed |= INDEX_REMOVED;
    return pos < index->count;
}

int index_detach_file(struct store_index *index, const char *name, struct strbuf *pending)
{
    int pos = index_name_pos(index, name, strlen(name));
    if (pos < 0)
        return 0;
    if (object_path(pending, index->entries[pos]->id) < 0 || strbuf_addch(pending, 0) < 0)
        return -1;
    index_remove_entry_at(index, (uint32_t)pos);
    return 0;
}

void delete_pending_objects(struct strbuf *pending)
{
    for (size_t off = 0; off < pending->len; off += strlen(pending->buf + off) + 1)
        delete_object_file(pending->buf + off);
    strbuf_reset(pending);
}

int index_remove_file(struct store_index *index, const char *name)
{
    struct strbuf pending = STRBUF_INIT;
    int r = index_detach_file(index, name, &pending);
    delete_pending_objects(&pending);
    strbuf_release(&pending);
    return r;
}

int entry_match(const struct index_entry *entry, const char *component, size_t len)
{
    if (entry->name_len < len || name_compare(entry->name, len, component, len) != 0)
        return -1;
    if (entry->name_len == len)
        return INDEX_PATH_FILE;
    if (component[len - 1] == '/' || entry->name[len] == '/')
        return INDEX_PATH_FOLDER;
    return 0;
}

enum index_path_kind index_resolve_path(struct store_index *index, const char *path, unsigned char *id_out,
                                        uint64_t *size_out)
{
    if (!index->file_path && index_read(index) < 0)
        return INDEX_PATH_FAILED;
    struct strbuf running = STRBUF_INIT;
    struct strbuf key = STRBUF_INIT;
    struct strbuf objpath = STRBUF_INIT;
    enum index_path_kind result = INDEX_PATH_START;
    const char *p = path;
    if (strbuf_addstr(&running, index->folder_path) < 0)
        goto fail;

    for (;;) {
        while (is_dir_sep(*p))
            p++;
        const char *start = p;
        while (*p && !is_dir_sep(*p))
            p++;
        size_t clen = (size_t)(p - start);
        int more = *p != 0;
        if (!clen && !more)
            break;
        if (!clen)  // cannot happen: separators were skipped
            continue;
        strbuf_reset(&key);
        if (strbuf_add(&key, start, clen) < 0 || (more && strbuf_addch(&key, '/') < 0))
            goto fail;

        int pos = index_name_pos(index, key.buf, key.len);
        if (pos < 0)
            pos = -pos - 1;
        int match = -1;
        const struct index_entry *found = NULL;
        for (uint32_t i = (uint32_t)pos; i < index->count; i++) {
            int m = entry_match(index->entries[i], start, clen);
            if (m < 0)
                break;
            if (m > 0) {
                match = m;
                found = index->entries[i];
                break;
            }
        }
        if (!found || (more && match != INDEX_PATH_FOLDER)) {
            errno = ENOENT;
            goto fail;
        }
        if (id_out)
            memcpy(id_out, found->id, SHA1_RAWSZ);
        if (size_out)
            *size_out = found->size;
        if (!more) {
            result = match == INDEX_PATH_FOLDER ? INDEX_PATH_FOLDER : INDEX_PATH_FILE;
            break;
        }
        if (running.len && running.buf[running.len - 1] != '/' && strbuf_addch(&running, '/') < 0)
            goto fail;
        if (strbuf_add(&running, start, clen) < 0)
            goto fail;
        strbuf_reset(&objpath);
        if (object_path(&objpath, found->id) < 0)
            goto fail;
        if (index_release(index) < 0)
            goto fail;
        if (index_read_from(index, running.buf, objpath.buf) < 0)
            goto fail;
        if (!index->loaded) {
            // Every folder is made with its index: a missing one is damage, not an empty folder.
            errno = EBADMSG;
            goto fail;
        }
        result = INDEX_PATH_FOLDER;
    }
    strbuf_release(&running);
    strbuf_release(&key);
    strbuf_release(&objpath);
    return result;

fail : {
    int saved = errno;
    strbuf_release(&running);
    strbuf_release(&key);
    strbuf_release(&objpath);
    errno = saved;
    return INDEX_PATH_FAILED;
}
}
