// Numbered handles for reading and writing stored files; files larger than the part size
// are split into a first object plus part objects named "<name>?<k>".
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "context.h"
#include "engine_internal.h"
#include "fs.h"
#include "index.h"
#include "index_cache.h"
#include "object.h"
#include "path.h"

enum { HANDLE_BLOCKS = 64, HANDLES_PER_BLOCK = 32 };

struct file_handle {
    int fd;  // write handle: the object file
    struct object_stream *stream;  // read handle: the current part's stream
    int in_use;
    uint32_t write_mode;
    uint32_t lock_created;
    pthread_mutex_t lock;
    char *path;  // normalised store path
    struct object_writer writer;
    int writer_active;
    uint64_t declared_size;
    uint64_t position;
    uint64_t stream_start;  // position at which the current stream began
    int write_failed;  // a write was refused: the content can no longer be whole
};

static struct {
    struct file_handle *blocks[HANDLE_BLOCKS];
    int count;
} table;

static void handle_clear(struct file_handle *h)
{
    if (h->writer_active)
        object_writer_release(&h->writer);
    h->writer_active = 0;
    if (h->fd >= 0)
        close(h->fd);
    h->fd = -1;
    object_stream_close(h->stream);
    h->stream = NULL;
    free(h->path);
    h->path = NULL;
    h->position = h->declared_size = h->stream_start = 0;
    h->write_failed = 0;
}

// Gives a freshly allocated handle back; its lock is held.
static void handle_give_up(struct file_handle *h)
{
    int saved = errno;
    handle_clear(h);
    h->in_use = 0;
    pthread_mutex_unlock(&h->lock);
    errno = saved;
}

static int slot_lock_create(struct file_handle *h)
{
    if (h->lock_created)
        return 0;
    if (engine_lock(ENGINE_LOCK_CREATE) < 0)
        return -1;
    int ok = h->lock_created || pthread_mutex_init(&h->lock, NULL) == 0;
    if (ok)
        h->lock_created = 1;
    engine_unlock(ENGINE_LOCK_CREATE);
    if (!ok)
        errno = ENOMEM;
    return ok ? 0 : -1;
}

// Returns a free handle marked in use, with its lock held.
static int handle_alloc(void)
{
    if (engine_lock(ENGINE_LOCK_HANDLES) < 0)
        return -1;
    for (int b = 0; b < HANDLE_BLOCKS; b++) {
        if (!table.blocks[b]) {
            struct file_handle *block = (struct file_handle *)calloc(HANDLES_PER_BLOCK, sizeof(*block));
            if (!block) {
                engine_unlock(ENGINE_LOCK_HANDLES);
                errno = ENOMEM;
                return -1;
            }
            for (int s = 0; s < HANDLES_PER_BLOCK; s++)
                block[s].fd = -1;
            table.blocks[b] = block;
            table.count += HANDLES_PER_BLOCK;
        }
        for (int s = 0; s < HANDLES_PER_BLOCK; s++) {
            struct file_handle *h = &table.blocks[b][s];
            if (slot_lock_create(h) < 0) {
                engine_unlock(ENGINE_LOCK_HANDLES);
                return -1;
            }
            // A slot whose lock is held is busy with a call; it is not free.
            if (pthread_mutex_trylock(&h->lock) != 0)
                continue;
            if (!h->in_use) {
                h->in_use = 1;
                h->fd = -1;
                h->stream = NULL;
                engine_unlock(ENGINE_LOCK_HANDLES);
                return b * HANDLES_PER_BLOCK + s;
            }
            pthread_mutex_unlock(&h->lock);
        }
    }
    engine_unlock(ENGINE_LOCK_HANDLES);
    errno = EMFILE;
    return -1;
}

static struct file_handle *slot_of(int h)
{
    return &table.blocks[h / HANDLES_PER_BLOCK][h % HANDLES_PER_BLOCK];
}

enum { ANY_MODE = -1 };

// Validates a handle for a call and takes its lock.
static struct file_handle *handle_acquire(int handle, int mode)
{
    if (handle < 0 || handle >= table.count || !table.blocks[handle / HANDLES_PER_BLOCK]) {
        errno = EBADF;
        return NULL;
    }
    struct file_handle *h = slot_of(handle);
    if (!h->in_use || !h->lock_created || (mode != ANY_MODE && h->write_mode != (uint32_t)mode)) {
        errno = EBADF;
        return NULL;
    }
    pthread_mutex_lock(&h->lock);
    if (!h->in_use || (mode != ANY_MODE && h->write_mode != (uint32_t)mode)) {
        pthread_mutex_unlock(&h->lock);
        errno = EBADF;
        return NULL;
    }
    return h;
}

void handle_table_release(void)
{
    for (int b = 0; b < HANDLE_BLOCKS; b++) {
        struct file_handle *block = table.blocks[b];
        if (!block)
            continue;
        for (int s = 0; s < HANDLES_PER_BLOCK; s++) {
            handle_clear(&block[s]);
            if (block[s].lock_created)
                pthread_mutex_destroy(&block[s].lock);
        }
        free(block);
        table.blocks[b] = NULL;
    }
    table.count = 0;
}

int resolve_parent(const char *path, struct store_index *index, struct strbuf *folder, struct strbuf *name)
{
    if (split_store_path(path, folder, name) < 0)
        return -1;
    if (folder->len && strbuf_addch(folder, '/') < 0)
        return -1;
    enum index_path_kind kind = index_resolve_path(index, folder->buf, NULL, NULL);
    if (kind == INDEX_PATH_FAILED)
        return -1;
    if (kind == INDEX_PATH_FILE) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

int check_new_name(const char *name, size_t len)
{
    if (!len || memchr(name, '?', len) || (len == 1 && name[0] == '.') ||
        (len == 2 && name[0] == '.' && name[1] == '.')) {
        errno = EINVAL;
        return -1;
    }
    if (len > 255) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

int check_new_path(const struct strbuf *folder, size_t name_len)
{
    if (1 + folder->len + name_len > FS_PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

int part_entry_name(struct strbuf *sb, const char *name, uint64_t k)
{
    strbuf_reset(sb);
    if (strbuf_addstr(sb, name) < 0)
        return -1;
    return k ? strbuf_addf(sb, "%c%llu", '?', (unsigned long long)k) : 0;
}

int present_parts(const struct store_index *index, const char *name, uint64_t size, uint64_t **parts,
                  size_t *count)
{
    *parts = NULL;
    *count = 0;
    struct strbuf prefix = STRBUF_INIT;
    if (strbuf_addstr(&prefix, name) < 0 || strbuf_addch(&prefix, '?') < 0)
        return -1;
    const uint64_t last = size / FS_PART_SIZE;
    int pos = index_name_pos(index, prefix.buf, prefix.len);
    uint32_t i = pos < 0 ? (uint32_t)(-pos - 1) : (uint32_t)pos;
    size_t cap = 0;
    int r = 0;
    // Entries sharing the prefix are adjacent in the name order.
    for (; i < index->count && r == 0; i++) {
        const struct index_entry *e = index->entries[i];
        if (e->name_len <= prefix.len || name_compare(e->name, prefix.len, prefix.buf, prefix.len) != 0)
            break;
        const char *d = e->name + prefix.len;
        if (*d < '1' || *d > '9')
            continue;
        uint64_t k = 0;
        for (; *d >= '0' && *d <= '9' && k <= last; d++)
            k = k * 10 + (uint64_t)(*d - '0');
        if (*d || k > last)
            continue;
        if (*count == cap) {
            cap = cap ? cap * 2 : 8;
            uint64_t *grown = (uint64_t *)realloc(*parts, cap * sizeof(**parts));
            if (!grown) {
                errno = ENOMEM;
                r = -1;
                break;
            }
            *parts = grown;
        }
        (*parts)[(*count)++] = k;
    }
    strbuf_release(&prefix);
    if (r < 0) {
        free(*parts);
        *parts = NULL;
        *count = 0;
        return -1;
    }
    // Highest first, the order in which a file's parts are taken out.
    if (*count > 1)
        qsort(*parts, *count, sizeof(**parts), [](const void *a, const void *b) {
            uint64_t x = *(const uint64_t *)a, y = *(const uint64_t *)b;
            return x > y ? -1 : x < y ? 1 : 0;
        });
    return 0;
}

static uint64_t min_u64(uint64_t a, uint64_t b)
{
    return a < b ? a : b;
}

static int open_for_read(struct store_index *index, const struct strbuf *full, const char *name)
{
    unsigned char id[SHA1_RAWSZ];
    uint64_t size = 0;
    enum index_path_kind kind = name[0] ? index_resolve_path(index, name, id, &size) : INDEX_PATH_START;
    if (kind == INDEX_PATH_FAILED)
        return -1;
    if (kind != INDEX_PATH_FILE) {
        errno = EISDIR;
        return -1;
    }
    int handle = handle_alloc();
    if (handle < 0)
        return -1;
    struct file_handle *h = slot_of(handle);
    int type = 0;
    h->stream = object_stream_open(id, &type);
    if (!h->stream || type != OBJ_BLOB) {
        if (h->stream)
            errno = ENOENT;
        handle_give_up(h);
        return -1;
    }
    h->write_mode = 0;
    h->path = strdup(full->buf);
    if (!h->path) {
        errno = ENOMEM;
        handle_give_up(h);
        return -1;
    }
    h->declared_size = size;
    h->position = 0;
    h->stream_start = 0;
    pthread_mutex_unlock(&h->lock);
    return handle;
}

// Takes a replaced file's entries (its parts, then the file) out of the index; their object
// paths go to replaced.
static int detach_old_content(struct store_index *index, const char *name, uint64_t old_size,
                              struct strbuf *replaced)
{
    struct strbuf part = STRBUF_INIT;
    uint64_t *parts = NULL;
    size_t count = 0;
    int r = present_parts(index, name, old_size, &parts, &count);
    for (size_t i = 0; i < count && r == 0; i++)
        r = part_entry_name(&part, name, parts[i]) < 0 || index_detach_file(index, part.buf, replaced) < 0
            ? -1
            : 0;
    free(parts);
    strbuf_release(&part);
    return r == 0 ? index_detach_file(index, name, replaced) : -1;
}

// Creates the object for new content of n bytes in its first part, a write handle on it, and
// records the entry on the disk before the handle is handed out.
static int create_write_handle(struct store_index *index, const struct strbuf *full,
                               struct index_entry *entry, uint64_t size, unsigned long long n)
{
    struct strbuf objpath = STRBUF_INIT;
    int handle = handle_alloc();
    if (handle < 0)
        return -1;
    struct file_handle *h = slot_of(handle);
    char header[OBJECT_HEADER_MAX];
    int hlen = object_format_header(header, "blob", n);
    h->fd = object_create_unique(&objpath, entry->id);
    int created = h->fd >= 0;
    int ok = created;
    if (ok) {
        ok = object_writer_start(&h->writer, h->fd, objpath.buf, header, (size_t)hlen) == 0;
        h->writer_active = ok;
    }
    if (ok) {
        h->write_mode = 1;
        h->declared_size = size;
        h->position = 0;
        h->path = strdup(full->buf);
        if (!h->path)
            errno = ENOMEM;
        entry->type_bits |= INDEX_UNFINISHED;
        ok = h->path && index_add_entry(index, entry) == 0;
        // In a batch a new name is recorded at the commit; a replacement is written now, as
        // it frees the old objects.
        if (ok && index_batch_active() && index->changed == INDEX_ADDED)
            index_defer(index);
        else if (ok)
            ok = index_write(index) == 0;
    }
    if (!ok) {
        int saved = errno;
        handle_give_up(h);
        if (created)
            delete_object_file(objpath.buf);
        strbuf_release(&objpath);
        errno = saved;
        return -1;
    }
    strbuf_release(&objpath);
    pthread_mutex_unlock(&h->lock);
    return handle;
}

static int open_for_write(struct store_index *index, const struct strbuf *full, const char *name,
                          uint64_t size)
{
    size_t len = strlen(name);
    if (check_new_name(name, len) < 0)
        return -1;
    if (1 + full->len > FS_PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    struct index_entry *entry = index_make_entry(index, name, len);
    if (!entry)
        return -1;
    entry->size = size;
    entry->time = (int64_t)time(NULL);
    unsigned long long n = min_u64(size, FS_PART_SIZE);
    if (object_hash(full->buf, n, "blob", entry->id) < 0)
        return -1;

    uint64_t old_size = 0;
    enum index_path_kind kind = index_resolve_path(index, name, entry->id, &old_size);
    if (kind == INDEX_PATH_FOLDER) {
        errno = EISDIR;
        return -1;
    }
    if (kind == INDEX_PATH_FAILED && errno != ENOENT)
        return -1;
    // A replaced file's objects go only once an index without it is on the disk, so a
    // replacement that fails keeps the old file whole. The new content starts from the old
    // entry's id; the unique-id search steps past the old object.
    struct strbuf replaced = STRBUF_INIT;
    int handle = -1;
    if (kind != INDEX_PATH_FILE || detach_old_content(index, name, old_size, &replaced) == 0)
        handle = create_write_handle(index, full, entry, size, n);
    int saved = errno;
    if (handle >= 0)
        delete_pending_objects(&replaced);
    else
        index_discard(index);  // nothing of the attempt is recorded
    strbuf_release(&replaced);
    errno = saved;
    return handle;
}

int fs_open(const char *path, int mode, ...)
{
    if (require_mounted() < 0)
        return -1;
    uint64_t size = 0;
    if (mode == FS_O_WRITE) {
        va_list ap;
        va_start(ap, mode);
        size = va_arg(ap, uint64_t);
        va_end(ap);
    } else if (mode != FS_O_READ) {
        errno = EBADF;
        return -1;
    }
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    struct store_index index = INDEX_INIT;
    struct strbuf folder = STRBUF_INIT, name = STRBUF_INIT;
    int r = resolve_parent(path, &index, &folder, &name);
    if (r == 0 && strbuf_addbuf(&folder, &name) < 0)
        r = -1;
    if (r == 0)
        r = mode == FS_O_READ ? open_for_read(&index, &folder, name.buf)
                              : open_for_write(&index, &folder, name.buf, size);
    int saved = errno;
    if (index_release(&index) < 0 && r >= 0) {
        saved = errno;
        fs_close(r);
        r = -1;
    }
    strbuf_release(&folder);
    strbuf_release(&name);
    errno = saved;
    return r;
}

// Loads the folder of the handle's file into index and splits off its name.
static int load_handle_folder(const struct file_handle *h, struct store_index *index, struct strbuf *name)
{
    struct strbuf folder = STRBUF_INIT;
    int r = resolve_parent(h->path, index, &folder, name);
    int saved = errno;
    strbuf_release(&folder);
    errno = saved;
    return r;
}

static int start_next_part(struct file_handle *h, struct store_index *index, struct strbuf *name,
                           struct strbuf *part)
{
    int ok = object_writer_finish(&h->writer) == 0;
    h->writer_active = 0;
    if (!ok || fs_sys_fsync(h->fd) < 0)
        return -1;
    if (!index->file_path && load_handle_folder(h, index, name) < 0)
        return -1;
    if (part_entry_name(part, name->buf, h->position / FS_PART_SIZE) < 0)
        return -1;
    struct strbuf seed = STRBUF_INIT;
    if (strbuf_addf(&seed, "%s/%s", index->folder_path, part->buf) < 0)
        return -1;
    struct index_entry *entry = index_make_entry(index, part->buf, part->len);
    int r = entry ? object_hash(seed.buf, 0, "blob", entry->id) : -1;
    strbuf_release(&seed);
    if (r < 0)
        return -1;

    struct strbuf objpath = STRBUF_INIT;
    enum index_path_kind kind = index_resolve_path(index, part->buf, entry->id, NULL);
    if (kind == INDEX_PATH_FOLDER) {
        errno = EISDIR;
        return -1;
    }
    if (kind == INDEX_PATH_FAILED && errno != ENOENT)
        return -1;
    r = kind == INDEX_PATH_FILE ? object_path(&objpath, entry->id) : object_unique_id(&objpath, entry->id);
    int fd = r < 0 ? -1 : object_create_file(objpath.buf);
    if (fd < 0) {
        strbuf_release(&objpath);
        return -1;
    }
    close(h->fd);
    h->fd = fd;
    char header[OBJECT_HEADER_MAX];
    int hlen = object_format_header(header, "blob", 0);
    r = object_writer_start(&h->writer, fd, objpath.buf, header, (size_t)hlen);
    h->writer_active = r == 0;
    strbuf_release(&objpath);
    if (r < 0)
        return -1;
    return index_add_entry(index, entry);
}

int fs_write(int handle, const void *bytes, uint32_t length)
{
    if (length > INT_MAX) {  // the count returned must fit the result
        errno = EINVAL;
        return -1;
    }
    struct file_handle *h = handle_acquire(handle, 1);
    if (!h)
        return -1;
    if (!length) {
        pthread_mutex_unlock(&h->lock);
        return 0;
    }
    if (h->writer_active && h->writer.sealed) {  // refused before anything is touched
        pthread_mutex_unlock(&h->lock);
        errno = EINVAL;
        return -1;
    }
    struct store_index index = INDEX_INIT;
    struct strbuf name = STRBUF_INIT, part = STRBUF_INIT;
    const unsigned char *p = (const unsigned char *)bytes;
    uint32_t left = length;
    int r = 0;
    while (left) {
        if (h->position && h->position % FS_PART_SIZE == 0 && h->stream_start != h->position) {
            if (start_next_part(h, &index, &name, &part) < 0) {
                r = -1;
                break;
            }
            h->stream_start = h->position;
        }
        if (!h->writer_active) {
            errno = EIO;
            r = -1;
            break;
        }
        uint64_t n = min_u64(FS_PART_SIZE - h->position % FS_PART_SIZE, left);
        if (object_writer_write(&h->writer, p, (size_t)n) < 0) {
            r = -1;
            break;
        }
        h->position += n;
        p += n;
        left -= (uint32_t)n;
    }
    int saved = errno;
    if (index_release(&index) < 0 && r == 0) {
        saved = errno;
        r = -1;
    }
    strbuf_release(&name);
    strbuf_release(&part);
    if (r < 0)
        h->write_failed = 1;
    pthread_mutex_unlock(&h->lock);
    errno = saved;
    return r < 0 ? -1 : (int)length;
}

int fs_write_deflated(int handle, const void *stream, uint32_t length)
{
    struct file_handle *h = handle_acquire(handle, 1);
    if (!h)
        return -1;
    int r = -1;
    if (!stream || length < 2 || h->position || h->declared_size > FS_DEFLATE_MAX || !h->writer_active)
        errno = EINVAL;  // refused before anything is touched
    else if (object_writer_put_deflated(&h->writer, stream, length) == 0) {
        h->position = h->declared_size;
        r = 0;
    } else {
        h->write_failed = 1;
    }
    pthread_mutex_unlock(&h->lock);
    return r;
}

static int open_next_part(struct file_handle *h, struct store_index *index, struct strbuf *name,
                          struct strbuf *part)
{
    object_stream_close(h->stream);
    h->stream = NULL;
    if (!index->file_path && load_handle_folder(h, index, name) < 0)
        return -1;
    if (part_entry_name(part, name->buf, h->position / FS_PART_SIZE) < 0)
        return -1;
    unsigned char id[SHA1_RAWSZ];
    enum index_path_kind kind = index_resolve_path(index, part->buf, id, NULL);
    if (kind == INDEX_PATH_FAILED)
        return -1;
    if (kind != INDEX_PATH_FILE) {
        errno = EISDIR;
        return -1;
    }
    int type = 0;
    h->stream = object_stream_open(id, &type);
    if (h->stream && type != OBJ_BLOB) {
        object_stream_close(h->stream);
        h->stream = NULL;
        errno = ENOENT;
    }
    return h->stream ? 0 : -1;
}

int fs_read(int handle, void *buffer, uint32_t length)
{
    if (length > INT_MAX) {  // the count returned must fit the result
        errno = EINVAL;
        return -1;
    }
    struct file_handle *h = handle_acquire(handle, 0);
    if (!h)
        return -1;
    struct store_index index = INDEX_INIT;
    struct strbuf name = STRBUF_INIT, part = STRBUF_INIT;
    unsigned char *out = (unsigned char *)buffer;
    uint32_t total = 0;
    int failed = 0;
    while (total < length) {
        if (h->position && h->position % FS_PART_SIZE == 0 && h->stream_start != h->position) {
            // A file that ends exactly at a part boundary has no further part: that is its end.
            if (h->position >= h->declared_size)
                break;
            if (open_next_part(h, &index, &name, &part) < 0) {
                failed = 1;
                break;
            }
            h->stream_start = h->position;
        }
        if (!h->stream) {
            errno = EIO;
            failed = 1;
            break;
        }
        uint64_t want = min_u64(FS_PART_SIZE - h->position % FS_PART_SIZE, length - total);
        ssize_t n = object_stream_read(h->stream, out + total, (size_t)want);
        if (n < 0) {
            failed = 1;
            break;
        }
        if (n == 0)
            break;
        h->position += (uint64_t)n;
        total += (uint32_t)n;
    }
    int saved = errno;
    index_discard(&index);
    strbuf_release(&name);
    strbuf_release(&part);
    pthread_mutex_unlock(&h->lock);
    errno = saved;
    return failed ? -1 : (int)total;
}

// The content is whole (all the declared bytes) and on its way to the volume: the entry loses
// its unfinished mark. In
// a batch the change goes with the next commit, after the sync that makes the content
// durable; otherwise it is written now. A mark left by a failure here costs nothing but a
// listing that says "incomplete" until check --repair: the content itself decides.
static void mark_finished(const struct file_handle *h)
{
    int saved = errno;
    struct store_index index = INDEX_INIT;
    struct strbuf name = STRBUF_INIT;
    if (load_handle_folder(h, &index, &name) == 0) {
        int pos = index_name_pos(&index, name.buf, name.len);
        if (pos >= 0 && (index.entries[pos]->type_bits & INDEX_UNFINISHED)) {
            index.entries[pos]->type_bits &= ~(uint32_t)INDEX_UNFINISHED;
            if (index_batch_active())
                index_defer(&index);
            else
                index.changed |= INDEX_REPLACED;
        }
    }
    index_release(&index);
    strbuf_release(&name);
    errno = saved;
}

int fs_close(int handle)
{
    struct file_handle *h = handle_acquire(handle, ANY_MODE);
    if (!h)
        return -1;
    int r = 0;
    if (h->write_mode && h->fd >= 0) {
        // The content is on the volume before the close reports success; in a batch, before
        // the commit that records it does.
        if (!h->writer_active || object_writer_finish(&h->writer) < 0)
            r = -1;
        else if (h->write_failed) {
            errno = EIO;  // bytes went missing: closing must not pass the file for whole
            r = -1;
        } else if (index_batch_active())
            index_note_unsynced_object();
        else if (fs_sys_fsync(h->fd) < 0)
            r = -1;
        h->writer_active = 0;
        int saved = errno;
        if (close(h->fd) < 0 && r == 0)
            r = -1;
        else
            errno = saved;
        h->fd = -1;
        if (r == 0 && h->position == h->declared_size)
            mark_finished(h);
    }
    int saved = errno;
    handle_clear(h);
    h->in_use = 0;
    pthread_mutex_unlock(&h->lock);
    errno = saved;
    return r;
}

int fs_batch_begin(void)
{
    if (require_mounted() < 0)
        return -1;
    index_batch_begin();
    return 0;
}

int fs_batch_commit(void)
{
    if (require_mounted() < 0)
        return -1;
    return index_cache_commit();
}

int fs_batch_end(void)
{
    if (require_mounted() < 0)
        return -1;
    return index_batch_end();
}
