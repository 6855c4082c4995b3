// Creating, removing, renaming and listing entries without opening files. Removals write
// the folder's index first and delete object files only once that index no longer names
// them, so a failed write leaves every file readable, on a full volume too.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "context.h"
#include "engine_internal.h"
#include "fs.h"
#include "id_set.h"
#include "index.h"
#include "index_cache.h"
#include "object.h"
#include "path.h"

static int fail_with(int err)
{
    errno = err;
    return -1;
}

// Releases the indexes and buffers of one operation, keeping errno.
struct op_scratch {
    struct store_index index;
    struct strbuf folder, name, work, pending;
};

static void scratch_init(struct op_scratch *s)
{
    struct store_index empty = INDEX_INIT;
    s->index = empty;
    strbuf_init(&s->folder, 0);
    strbuf_init(&s->name, 0);
    strbuf_init(&s->work, 0);
    strbuf_init(&s->pending, 0);
}

static int scratch_done(struct op_scratch *s, int r)
{
    int saved = errno;
    index_discard(&s->index);
    strbuf_release(&s->folder);
    strbuf_release(&s->name);
    strbuf_release(&s->work);
    strbuf_release(&s->pending);
    errno = saved;
    return r;
}

static int out_of_space(int err)
{
    return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

// The bytes cut off the end of an object to make room, kept until they are no longer needed.
struct cut_tail {
    const char *path;
    off_t offset;
    unsigned char *bytes;
    size_t len;
};

static int read_at(int fd, unsigned char *buf, size_t len, off_t offset)
{
    while (len) {
        ssize_t n = pread(fd, buf, len, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        buf += n;
        len -= (size_t)n;
        offset += n;
    }
    return 0;
}

static int write_at(int fd, const unsigned char *buf, size_t len, off_t offset)
{
    while (len) {
        ssize_t n = pwrite(fd, buf, len, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        buf += n;
        len -= (size_t)n;
        offset += n;
    }
    return 0;
}

// Cuts up to want bytes (in whole 4 KiB blocks, so they are freed) off the end of the object
// at path, keeping them in *cut; the bytes cut, or -1.
static ssize_t cut_object_tail(const char *path, size_t want, struct cut_tail *cut)
{
    int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) < 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        if (fd >= 0)
            close(fd);
        return 0;  // nothing there to make room with
    }
    const off_t size = st.st_size;
    off_t keep = size > (off_t)want ? (size - (off_t)want) & ~(off_t)4095 : 0;
    size_t len = (size_t)(size - keep);
    unsigned char *bytes = (unsigned char *)malloc(len);
    if (!bytes || read_at(fd, bytes, len, keep) < 0 || ftruncate(fd, keep) < 0) {
        int saved = bytes ? errno : ENOMEM;
        free(bytes);
        close(fd);
        errno = saved;
        return -1;
    }
    close(fd);
    *cut = {path, keep, bytes, len};
    return (ssize_t)len;
}

// Puts cut bytes back where they were; 0, or -1 when the object could not be made whole.
static int restore_tail(const struct cut_tail *cut)
{
    int fd = open(cut->path, O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    int ok = fd >= 0 && write_at(fd, cut->bytes, cut->len, cut->offset) == 0 && fsync(fd) == 0;
    if (fd >= 0)
        close(fd);
    return ok ? 0 : -1;
}

// About the bytes the index's file will take, trailer included.
static size_t index_file_estimate(const struct store_index *index)
{
    size_t total = 12 + 16 + 2 * SHA1_RAWSZ;
    for (uint32_t i = 0; i < index->count; i++)
        total += index_entry_disk_size(index->entries[i]->name_len & INDEX_NAME_MASK);
    return total;
}

// A full volume has no room for the new index beside the old one. The objects the user asked
// to be rid of give it: their ends are cut off, largest objects first, and kept in memory
// until the index that no longer names them is on the disk; should it still not fit, they are
// put back and the entries stay whole. What is kept is bounded by the room the index needs.
static int write_index_making_room(struct store_index *index, struct strbuf *pending)
{
    struct object_size {
        const char *path;
        off_t size;
    };
    size_t objects = 0;
    for (size_t off = 0; off < pending->len; off += strlen(pending->buf + off) + 1)
        objects++;
    struct object_size *by_size = (struct object_size *)calloc(objects, sizeof(*by_size));
    // An object may be cut more than once, each cut its own record.
    const size_t max_cuts = objects + 32;
    struct cut_tail *cuts = (struct cut_tail *)calloc(max_cuts, sizeof(*cuts));
    if (!by_size || !cuts) {
        free(by_size);
        free(cuts);
        errno = ENOSPC;
        return -1;
    }
    size_t n = 0;
    for (size_t off = 0; off < pending->len; off += strlen(pending->buf + off) + 1) {
        struct stat st;
        const char *path = pending->buf + off;
        by_size[n++] = {path, stat(path, &st) == 0 ? st.st_size : 0};
    }
    qsort(by_size, n, sizeof(*by_size), [](const void *a, const void *b) {
        off_t x = ((const struct object_size *)a)->size, y = ((const struct object_size *)b)->size;
        return x > y ? -1 : x < y;
    });

    const size_t need = index_file_estimate(index);
    size_t target = need + 8192, cut_total = 0, ncuts = 0, next = 0;
    int written = -1, err = ENOSPC;
    while (target <= 2 * need + (1 << 20)) {
        // Cut until target bytes are free, or nothing is left to cut.
        while (cut_total < target && next < n && ncuts < max_cuts) {
            ssize_t got = cut_object_tail(by_size[next].path, target - cut_total, &cuts[ncuts]);
            if (got < 0)
                break;
            if (got > 0)
                ncuts++;
            cut_total += (size_t)got;
            by_size[next].size -= got;
            if (by_size[next].size <= 0 || got == 0)
                next++;
        }
        written = index_write(index);
        if (written == 0 || !out_of_space(errno) || next >= n)
            break;
        target *= 2;
    }
    if (written < 0)
        err = errno;
    int lost = 0;
    for (size_t i = ncuts; i-- > 0;) {
        if (written < 0 && restore_tail(&cuts[i]) < 0)
            lost = 1;
        free(cuts[i].bytes);
    }
    free(cuts);
    free(by_size);
    if (written < 0)
        errno = lost ? EIO : err;
    return written;
}

// Writes the folder's index without the removed entries, then deletes their objects: the
// index change is on the disk before any object goes, so a failure keeps every entry whole.
static int release_after_removal(struct op_scratch *s)
{
    if (index_write(&s->index) < 0 &&
        (!out_of_space(errno) || !s->pending.len || write_index_making_room(&s->index, &s->pending) < 0))
        return -1;
    delete_pending_objects(&s->pending);
    return 0;
}

int fs_mkdir(const char *path)
{
    if (require_mounted() < 0)
        return -1;
    if (!path)
        return fail_with(EINVAL);
    struct op_scratch s;
    scratch_init(&s);
    if (resolve_parent(path, &s.index, &s.folder, &s.name) < 0)
        return scratch_done(&s, -1);
    if (check_new_name(s.name.buf, s.name.len) < 0 || check_new_path(&s.folder, s.name.len) < 0)
        return scratch_done(&s, -1);
    enum index_path_kind kind = index_resolve_path(&s.index, s.name.buf, NULL, NULL);
    if (kind == INDEX_PATH_FILE || kind == INDEX_PATH_FOLDER)
        return scratch_done(&s, fail_with(EEXIST));
    if (kind == INDEX_PATH_FAILED && errno != ENOENT)
        return scratch_done(&s, -1);

    struct strbuf *full = &s.folder;
    struct strbuf *objpath = &s.work;
    if (strbuf_addbuf(full, &s.name) < 0)
        return scratch_done(&s, -1);
    struct index_entry *entry = index_make_entry(&s.index, s.name.buf, s.name.len + 1);
    if (!entry)
        return scratch_done(&s, -1);
    entry->name[s.name.len] = '/';
    entry->time = (int64_t)time(NULL);
    if (object_hash(full->buf, 0, "dirc", entry->id) < 0 || object_unique_id(objpath, entry->id) < 0)
        return scratch_done(&s, -1);
    if (index_add_entry(&s.index, entry) < 0)
        return scratch_done(&s, -1);

    struct store_index folder_index = INDEX_INIT;
    if (index_read_from(&folder_index, full->buf, objpath->buf) < 0) {
        index_discard(&folder_index);
        return scratch_done(&s, -1);
    }
    if (index_batch_active() && s.index.changed == INDEX_ADDED) {
        // The new folder's index is written now but flushed with the batch's objects; its
        // entry goes with the next commit, after that flush.
        int made = index_write_new(&folder_index);
        index_discard(&folder_index);
        if (made < 0)
            return scratch_done(&s, -1);
        index_defer(&s.index);
        return scratch_done(&s, 0);
    }
    folder_index.changed = INDEX_ADDED;
    if (index_release(&folder_index) < 0)
        return scratch_done(&s, -1);
    if (index_release(&s.index) < 0) {
        delete_object_file(objpath->buf);
        return scratch_done(&s, -1);
    }
    return scratch_done(&s, 0);
}

// Loads the folder that holds path's last component and finds that entry: INDEX_PATH_FILE or
// INDEX_PATH_FOLDER, INDEX_PATH_START when the path names no entry (it ends in "/"), and
// INDEX_PATH_FAILED with errno.
static enum index_path_kind resolve_existing(const char *path, struct op_scratch *s, unsigned char *id,
                                             uint64_t *size)
{
    if (require_mounted() < 0)
        return INDEX_PATH_FAILED;
    if (!path) {
        errno = EINVAL;
        return INDEX_PATH_FAILED;
    }
    if (resolve_parent(path, &s->index, &s->folder, &s->name) < 0)
        return INDEX_PATH_FAILED;
    if (!s->name.len)
        return INDEX_PATH_START;
    return index_resolve_path(&s->index, s->name.buf, id, size);
}

int fs_rmdir(const char *path)
{
    struct op_scratch s;
    scratch_init(&s);
    unsigned char id[SHA1_RAWSZ];
    enum index_path_kind kind = resolve_existing(path, &s, id, NULL);
    if (kind == INDEX_PATH_FAILED)
        return scratch_done(&s, -1);
    if (kind != INDEX_PATH_FOLDER)
        return scratch_done(&s, fail_with(EINVAL));

    struct strbuf *full = &s.folder;
    if (strbuf_addbuf(full, &s.name) < 0 || object_path(&s.work, id) < 0)
        return scratch_done(&s, -1);
    struct store_index folder_index = INDEX_INIT;
    int r = index_read_from(&folder_index, full->buf, s.work.buf);
    uint32_t entries = folder_index.count;
    index_discard(&folder_index);
    if (r < 0)
        return scratch_done(&s, -1);
    if (entries)
        return scratch_done(&s, fail_with(ENOTEMPTY));

    if (strbuf_addch(&s.name, '/') < 0 || index_detach_file(&s.index, s.name.buf, &s.pending) < 0)
        return scratch_done(&s, -1);
    return scratch_done(&s, release_after_removal(&s));
}

// Resolves path to an entry of the kind wanted (else fails with wrong_kind), lets edit change
// it in its folder's index, and writes that index.
static int edit_one_entry(const char *path, enum index_path_kind kind, int wrong_kind,
                          void (*edit)(struct store_index *index, uint32_t pos))
{
    struct op_scratch s;
    scratch_init(&s);
    enum index_path_kind found = resolve_existing(path, &s, NULL, NULL);
    if (found == INDEX_PATH_FAILED)
        return scratch_done(&s, -1);
    if (found != kind)
        return scratch_done(&s, fail_with(wrong_kind));
    if (kind == INDEX_PATH_FOLDER && strbuf_addch(&s.name, '/') < 0)
        return scratch_done(&s, -1);
    int pos = index_name_pos(&s.index, s.name.buf, s.name.len);
    if (pos < 0)
        return scratch_done(&s, fail_with(ENOENT));
    edit(&s.index, (uint32_t)pos);
    return scratch_done(&s, index_release(&s.index));
}

static void remove_entry(struct store_index *index, uint32_t pos)
{
    index_remove_entry_at(index, pos);
}

static void clear_mark(struct store_index *index, uint32_t pos)
{
    index->entries[pos]->type_bits &= ~(uint32_t)INDEX_UNFINISHED;
    index->changed |= INDEX_REPLACED;
}

int forget_folder_entry(const char *path)
{
    return edit_one_entry(path, INDEX_PATH_FOLDER, ENOTDIR, remove_entry);
}

int clear_unfinished_mark(const char *path)
{
    return edit_one_entry(path, INDEX_PATH_FILE, EISDIR, clear_mark);
}

// Takes file name (of the recorded size) and its parts out of s->index; their objects go to
// s->pending. 0, or -1 with errno.
static int detach_file_and_parts(struct op_scratch *s, const char *name, uint64_t size)
{
    uint64_t *parts = NULL;
    size_t count = 0;
    if (present_parts(&s->index, name, size, &parts, &count) < 0)
        return -1;
    int r = 0;
    for (size_t i = 0; i <= count && r == 0; i++)
        if (part_entry_name(&s->work, name, i < count ? parts[i] : 0) < 0 ||
            index_detach_file(&s->index, s->work.buf, &s->pending) < 0)
            r = -1;
    free(parts);
    return r;
}

int fs_unlink(const char *path)
{
    struct op_scratch s;
    scratch_init(&s);
    uint64_t size = 0;
    enum index_path_kind kind = resolve_existing(path, &s, NULL, &size);
    if (kind == INDEX_PATH_FAILED)
        return scratch_done(&s, -1);
    if (kind != INDEX_PATH_FILE)
        return scratch_done(&s, fail_with(EISDIR));
    if (detach_file_and_parts(&s, s.name.buf, size) < 0)
        return scratch_done(&s, -1);
    return scratch_done(&s, release_after_removal(&s));
}

int fs_unlink_names(const char *folder, const char *const *names, size_t count)
{
    if (require_mounted() < 0)
        return -1;
    if (!folder || (count && !names))
        return fail_with(EINVAL);
    for (size_t i = 0; i < count; i++)
        if (!names[i] || !*names[i] || strpbrk(names[i], "/\\"))
            return fail_with(EINVAL);
    struct op_scratch s;
    scratch_init(&s);
    if (normalize_store_path(&s.folder, folder) < 0 ||
        (s.folder.len && s.folder.buf[s.folder.len - 1] != '/' && strbuf_addch(&s.folder, '/') < 0))
        return scratch_done(&s, -1);
    enum index_path_kind kind = index_resolve_path(&s.index, s.folder.buf, NULL, NULL);
    if (kind == INDEX_PATH_FAILED)
        return scratch_done(&s, -1);
    if (kind == INDEX_PATH_FILE)
        return scratch_done(&s, fail_with(ENOENT));
    for (size_t i = 0; i < count; i++) {
        uint64_t size = 0;
        // One component, so the index stays on the folder.
        kind = index_resolve_path(&s.index, names[i], NULL, &size);
        if (kind == INDEX_PATH_FAILED)
            return scratch_done(&s, -1);
        if (kind != INDEX_PATH_FILE)
            return scratch_done(&s, fail_with(EISDIR));
        if (detach_file_and_parts(&s, names[i], size) < 0)
            return scratch_done(&s, -1);
    }
    if (!s.index.changed)
        return scratch_done(&s, 0);
    return scratch_done(&s, release_after_removal(&s));
}

// True when folder text c (with its final "/") is the folder a/b itself or lies below it,
// compared by whole components and without regard to ASCII case.
static int is_same_or_below(const char *moved_folder, size_t moved_len, const char *c)
{
    return strlen(c) >= moved_len && !strncasecmp(c, moved_folder, moved_len);
}

// 1 when every entry below the folder whose index is id has a path within budget bytes counted
// from that folder's own path ("/" and the names below it), 0 when one passes it, -1 with errno.
// What cannot be read (damage) has no length here, and a folder met twice is not entered again.
static int subtree_fits(const unsigned char *id, size_t budget)
{
    struct frame {
        struct strbuf objpath;
        size_t len;
    };
    struct frame *stack = NULL;
    size_t depth = 0, capacity = 0;
    struct id_set met = ID_SET_INIT;
    int result = 1;
    auto push = [&](const unsigned char *folder_id, size_t len) {
        if (id_set_add(&met, folder_id) == 0)
            return 0;
        if (depth == capacity) {
            size_t grown = capacity ? capacity * 2 : 16;
            struct frame *more = (struct frame *)realloc(stack, grown * sizeof(*stack));
            if (!more)
                return -1;
            stack = more;
            capacity = grown;
        }
        strbuf_init(&stack[depth].objpath, 0);
        stack[depth].len = len;
        return object_path(&stack[depth++].objpath, folder_id) < 0 ? -1 : 0;
    };
    if (push(id, 0) < 0)
        result = -1;
    while (depth && result == 1) {
        struct frame top = stack[--depth];
        struct store_index index = INDEX_INIT;
        // Any folder path reads it; it is never written from here.
        if (index_read_from(&index, "?", top.objpath.buf) >= 0) {
            for (uint32_t i = 0; i < index.count && result == 1; i++) {
                const struct index_entry *e = index.entries[i];
                if (memchr(e->name, '?', e->name_len))
                    continue;
                const int folder = e->name_len && e->name[e->name_len - 1] == '/';
                const size_t len = top.len + 1 + e->name_len - (folder ? 1 : 0);
                if (len > budget)
                    result = 0;
                else if (folder && push(e->id, len) < 0)
                    result = -1;
            }
        } else if (errno == ENOMEM) {
            result = -1;
        }
        index_discard(&index);
        strbuf_release(&top.objpath);
    }
    int saved = errno;
    while (depth)
        strbuf_release(&stack[--depth].objpath);
    free(stack);
    id_set_release(&met);
    if (result < 0)
        errno = saved ? saved : ENOMEM;
    return result;
}

// Takes the entries a move added to folder back out again (their objects stay: the old
// folder still names them).
static void undo_move(const char *folder, const char *name, uint64_t size)
{
    int saved = errno;
    struct store_index index = INDEX_INIT;
    struct strbuf part = STRBUF_INIT;
    enum index_path_kind kind = index_resolve_path(&index, folder, NULL, NULL);
    if (kind == INDEX_PATH_START || kind == INDEX_PATH_FOLDER) {
        uint64_t *parts = NULL;
        size_t count = 0;
        if (present_parts(&index, name, size, &parts, &count) == 0) {
            for (size_t i = 0; i <= count; i++) {
                if (part_entry_name(&part, name, i < count ? parts[i] : 0) < 0)
                    break;
                int pos = index_name_pos(&index, part.buf, part.len);
                if (pos >= 0)
                    index_remove_entry_at(&index, (uint32_t)pos);
            }
            free(parts);
            index_release(&index);
        }
    }
    index_discard(&index);
    strbuf_release(&part);
    errno = saved;
}

int fs_rename(const char *old_path, const char *new_path)
{
    if (require_mounted() < 0)
        return -1;
    if (!old_path || !new_path)
        return fail_with(EINVAL);
    struct op_scratch s;
    scratch_init(&s);
    struct store_index target_index = INDEX_INIT;
    struct strbuf to_folder = STRBUF_INIT, to_name = STRBUF_INIT, old_name = STRBUF_INIT;
    struct store_index *target = &s.index;
    uint64_t size = 0;
    unsigned char moved_id[SHA1_RAWSZ];
    enum index_path_kind kind;
    int result = 0;

#define RENAME_DONE(r) \
    do { \
        int saved_ = errno; \
        index_discard(&target_index); \
        strbuf_release(&to_folder); \
        strbuf_release(&to_name); \
        strbuf_release(&old_name); \
        errno = saved_; \
        return scratch_done(&s, (r)); \
    } while (0)

    if (resolve_parent(old_path, &s.index, &s.folder, &s.name) < 0)
        RENAME_DONE(-1);
    if (!s.name.len)
        RENAME_DONE(fail_with(EINVAL));
    kind = index_resolve_path(&s.index, s.name.buf, moved_id, &size);
    if (kind == INDEX_PATH_FAILED)
        RENAME_DONE(-1);
    if (kind == INDEX_PATH_START)
        RENAME_DONE(fail_with(EINVAL));

    if (split_store_path(new_path, &to_folder, &to_name) < 0 ||
        (to_folder.len && strbuf_addch(&to_folder, '/') < 0))
        RENAME_DONE(-1);
    if (check_new_name(to_name.buf, to_name.len) < 0 || check_new_path(&to_folder, to_name.len) < 0)
        RENAME_DONE(-1);
    // A folder that goes deeper, or gets a longer name, takes its deepest entry along.
    if (kind == INDEX_PATH_FOLDER && to_folder.len + to_name.len > s.folder.len + s.name.len) {
        int fits = subtree_fits(moved_id, FS_PATH_MAX - 1 - to_folder.len - to_name.len);
        if (fits <= 0)
            RENAME_DONE(fits < 0 ? -1 : fail_with(ENAMETOOLONG));
    }
    if (kind == INDEX_PATH_FOLDER) {
        // Moving a folder into itself would cut its subtree off from the tree.
        struct strbuf moved = STRBUF_INIT;
        int inside = strbuf_addbuf(&moved, &s.folder) == 0 && strbuf_addbuf(&moved, &s.name) == 0 &&
            strbuf_addch(&moved, '/') == 0 && is_same_or_below(moved.buf, moved.len, to_folder.buf);
        strbuf_release(&moved);
        if (inside)
            RENAME_DONE(fail_with(EINVAL));
    }
    if (strcasecmp(s.folder.buf, to_folder.buf) != 0) {
        enum index_path_kind found = index_resolve_path(&target_index, to_folder.buf, NULL, NULL);
        if (found == INDEX_PATH_FAILED)
            RENAME_DONE(-1);
        if (found == INDEX_PATH_FILE)
            RENAME_DONE(fail_with(ENOENT));
        target = &target_index;
    }
    {
        enum index_path_kind found = index_resolve_path(target, to_name.buf, NULL, NULL);
        if (found == INDEX_PATH_FILE || found == INDEX_PATH_FOLDER)
            RENAME_DONE(fail_with(EEXIST));
        if (found == INDEX_PATH_FAILED && errno != ENOENT)
            RENAME_DONE(-1);
    }
    if (kind == INDEX_PATH_FOLDER && (strbuf_addch(&s.name, '/') < 0 || strbuf_addch(&to_name, '/') < 0))
        RENAME_DONE(-1);

    uint64_t *parts = NULL;
    size_t part_count = 0;
    if (present_parts(&s.index, s.name.buf, size, &parts, &part_count) < 0)
        RENAME_DONE(-1);
    for (size_t i = 0; i <= part_count; i++) {
        uint64_t k = i < part_count ? parts[i] : 0;
        if (part_entry_name(&old_name, s.name.buf, k) < 0 || part_entry_name(&s.work, to_name.buf, k) < 0) {
            free(parts);
            RENAME_DONE(-1);
        }
        int pos = index_name_pos(&s.index, old_name.buf, old_name.len);
        if (pos < 0)
            continue;
        const struct index_entry *old = s.index.entries[pos];
        struct index_entry *moved = index_make_entry(target, s.work.buf, s.work.len);
        if (!moved) {
            result = -1;
            continue;
        }
        moved->size = old->size;
        moved->time = old->time;
        moved->type_bits = old->type_bits;
        memcpy(moved->id, old->id, SHA1_RAWSZ);
        index_remove_entry_at(&s.index, (uint32_t)pos);
        if (index_add_entry(target, moved) < 0)
            result = -1;
    }
    free(parts);
    if (result < 0)
        RENAME_DONE(-1);  // nothing written: the entry stays where it was
    // The new folder is written first, so a failure never leaves the entry in neither place;
    // when the old folder then cannot be written, the new one is put back as it was.
    if (target != &s.index && index_release(target) < 0)
        RENAME_DONE(-1);
    if (index_release(&s.index) < 0) {
        if (target != &s.index)
            undo_move(to_folder.buf, to_name.buf, size);
        RENAME_DONE(-1);
    }
    RENAME_DONE(0);
#undef RENAME_DONE
}

// The listing of the folder index that s->index holds.
static fs_dir *listing_of(struct op_scratch *s)
{
    fs_dir *dir = (fs_dir *)calloc(1, sizeof(fs_dir) + (size_t)s->index.count * sizeof(struct fs_dirent));
    if (!dir) {
        errno = ENOMEM;
        scratch_done(s, -1);
        return NULL;
    }
    dir->count = s->index.count;
    for (uint32_t i = 0; i < s->index.count; i++) {
        const struct index_entry *e = s->index.entries[i];
        struct fs_dirent *d = &dir->records[i];
        size_t len = e->name_len;
        int folder = len && e->name[len - 1] == '/';
        if (folder)
            len--;
        if (len >= FS_NAME_MAX)
            len = FS_NAME_MAX - 1;
        d->type = folder ? FS_DT_DIR : FS_DT_FILE;
        d->unfinished = !folder && (e->type_bits & INDEX_UNFINISHED);
        d->size = e->size;
        d->time = e->time;
        memcpy(d->name, e->name, len);
        memcpy(d->id, e->id, FS_ID_SIZE);
    }
    scratch_done(s, 0);
    return dir;
}

fs_dir *fs_opendir(const char *path)
{
    if (require_mounted() < 0)
        return NULL;
    struct op_scratch s;
    scratch_init(&s);
    if (normalize_store_path(&s.work, path ? path : "") < 0 ||
        (s.work.len && s.work.buf[s.work.len - 1] != '/' && strbuf_addch(&s.work, '/') < 0)) {
        scratch_done(&s, -1);
        return NULL;
    }
    enum index_path_kind kind = index_resolve_path(&s.index, s.work.buf, NULL, NULL);
    if (kind == INDEX_PATH_FAILED || kind == INDEX_PATH_FILE) {
        if (kind == INDEX_PATH_FILE)
            errno = ENOENT;
        scratch_done(&s, -1);
        return NULL;
    }
    return listing_of(&s);
}

fs_dir *fs_opendir_id(const char *path, const unsigned char *id)
{
    if (require_mounted() < 0)
        return NULL;
    if (!id) {
        errno = EINVAL;
        return NULL;
    }
    struct op_scratch s;
    scratch_init(&s);
    if (normalize_store_path(&s.folder, path ? path : "") < 0 || object_path(&s.work, id) < 0 ||
        index_read_from(&s.index, s.folder.buf, s.work.buf) < 0) {
        scratch_done(&s, -1);
        return NULL;
    }
    if (!s.index.loaded) {
        // Every folder is made with its index: a missing one is damage, not an empty folder.
        scratch_done(&s, -1);
        errno = EBADMSG;
        return NULL;
    }
    return listing_of(&s);
}

struct fs_dirent *fs_readdir(fs_dir *dir)
{
    while (dir && dir->cursor < dir->count) {
        struct fs_dirent *d = &dir->records[dir->cursor++];
        if (!strchr(d->name, '?'))
            return d;
    }
    errno = ENOENT;
    return NULL;
}

int fs_closedir(fs_dir *dir)
{
    free(dir);
    return 0;
}
