// The folder-index cache and entry batches; see index_cache.h. Engine calls run one at a
// time, so the cache needs no lock of its own.
#include "index_cache.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <new>
#include <vector>
#include <string_view>
#include <unordered_map>

#include "context.h"
#include "fs.h"

// Enough for every level of the deepest path the system allows (4,096 bytes, 2,048 levels),
// so each operation in a deep folder finds all its ancestors here; the entry bound keeps
// memory in check when folders are huge.
enum { CACHE_SLOTS = 4096, CACHE_ENTRY_BUDGET = 400000 };

struct cache_slot {
    struct store_index index;  // file_path NULL: free slot
    int out;  // content handed to a caller, slot kept to mark it
    uint64_t used;
};

static struct {
    struct cache_slot slots[CACHE_SLOTS];
    uint64_t clock;
    uint64_t entries;  // summed over the slots' content
    int batch;
    int unsynced;
    int lost;  // errno of the failure that lost uncommitted entries, else 0
} cache;

// Slot numbers by file path; the keys point at the slots' own file_path texts.
static std::unordered_map<std::string_view, int> &slot_numbers()
{
    static std::unordered_map<std::string_view, int> numbers;
    return numbers;
}

static struct cache_slot *find_slot(const char *file_path)
{
    auto &numbers = slot_numbers();
    auto it = numbers.find(std::string_view(file_path));
    return it == numbers.end() ? NULL : &cache.slots[it->second];
}

// Makes the slot findable by its index's file path; a slot that cannot be indexed (no memory)
// is given up, which costs a read later, never content.
static int name_slot(struct cache_slot *slot)
{
    try {
        slot_numbers()[std::string_view(slot->index.file_path)] = (int)(slot - cache.slots);
        return 0;
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

static void unname_slot(struct cache_slot *slot)
{
    if (slot->index.file_path)
        slot_numbers().erase(std::string_view(slot->index.file_path));
}

static void identity_of(const struct stat *st, struct store_index *index)
{
    index->disk_ino = (uint64_t)st->st_ino;
    index->disk_size = (uint64_t)st->st_size;
    index->disk_mtime = (int64_t)st->st_mtim.tv_sec * 1000000000 + st->st_mtim.tv_nsec;
    index->disk_ctime = (int64_t)st->st_ctim.tv_sec * 1000000000 + st->st_ctim.tv_nsec;
}

void index_cache_note_file(struct store_index *index)
{
    struct stat st;
    index->disk_known = index->file_path && stat(index->file_path, &st) == 0;
    if (index->disk_known)
        identity_of(&st, index);
}

static int still_on_disk(const struct store_index *cached)
{
    struct stat st;
    if (!cached->disk_known || stat(cached->file_path, &st) != 0)
        return 0;
    struct store_index now = INDEX_INIT;
    identity_of(&st, &now);
    return now.disk_ino == cached->disk_ino && now.disk_size == cached->disk_size &&
        now.disk_mtime == cached->disk_mtime && now.disk_ctime == cached->disk_ctime;
}

// Free slot numbers, so that taking one does not scan the whole table.
static int free_numbers[CACHE_SLOTS];
static int free_count = -1;  // -1 until first used: then every slot is free

static void note_free(struct cache_slot *slot)
{
    if (free_count >= 0 && free_count < CACHE_SLOTS)
        free_numbers[free_count++] = (int)(slot - cache.slots);
}

static void free_slot(struct cache_slot *slot)
{
    if (slot->index.file_path)
        note_free(slot);
    unname_slot(slot);
    cache.entries -= slot->index.count;
    index_discard_content(&slot->index);
    slot->out = 0;
}

int index_cache_take(struct store_index *index)
{
    struct cache_slot *slot = find_slot(index->file_path);
    if (!slot)
        return 0;
    if (slot->out) {
        if (slot->index.deferred) {
            errno = EBUSY;
            return -1;
        }
        return 0;
    }
    if (!slot->index.deferred && !still_on_disk(&slot->index)) {
        free_slot(slot);
        return 0;
    }
    struct store_index *from = &slot->index;
    index->entries = from->entries;
    index->count = from->count;
    index->capacity = from->capacity;
    index->version = from->version;
    index->loaded = from->loaded;
    index->deferred = from->deferred;
    index->pool = from->pool;
    memcpy(index->checksum, from->checksum, sizeof(index->checksum));
    index->disk_known = from->disk_known;
    index->disk_ino = from->disk_ino;
    index->disk_size = from->disk_size;
    index->disk_mtime = from->disk_mtime;
    index->disk_ctime = from->disk_ctime;
    cache.entries -= from->count;
    from->entries = NULL;
    from->pool = NULL;
    from->count = from->capacity = 0;
    slot->out = 1;
    return 1;
}

// A free slot, made by evicting the least recently used index that is not handed out.
static struct cache_slot *free_a_slot(void)
{
    if (free_count < 0) {
        for (int i = 0; i < CACHE_SLOTS; i++)
            free_numbers[i] = CACHE_SLOTS - 1 - i;
        free_count = CACHE_SLOTS;
    }
    while (free_count > 0) {
        struct cache_slot *s = &cache.slots[free_numbers[--free_count]];
        if (!s->index.file_path)
            return s;
    }
    struct cache_slot *victim = NULL;
    for (int i = 0; i < CACHE_SLOTS; i++) {
        struct cache_slot *s = &cache.slots[i];
        if (!s->index.file_path)
            return s;
        if (!s->out && (!victim || s->used < victim->used))
            victim = s;
    }
    // A deferred victim is committed with the rest of its batch: one sync for them all.
    if (victim && victim->index.deferred && index_cache_commit() < 0)
        cache.lost = errno ? errno : EIO;
    if (victim)
        free_slot(victim);
    return victim;
}

void index_cache_put(struct store_index *index)
{
    struct cache_slot *slot = find_slot(index->file_path);
    if (slot)
        free_slot(slot);  // an older copy, or the mark of the content handed out
    slot = free_a_slot();
    if (!slot) {
        // Every slot is handed out (a walk holding more folders open than there are slots):
        // this content is not kept. Uncommitted entries are written rather than lost.
        if (index->deferred) {
            index->changed |= INDEX_ADDED;
            if (index_write(index) < 0)
                cache.lost = errno ? errno : EIO;
        }
        index_discard_content(index);
        return;
    }
    slot->index = *index;
    slot->out = 0;
    slot->used = ++cache.clock;
    struct store_index empty = INDEX_INIT;
    *index = empty;
    if (name_slot(slot) < 0) {
        if (slot->index.deferred)
            cache.lost = ENOMEM;  // entries never written went with it
        index_discard_content(&slot->index);
        return;
    }
    cache.entries += slot->index.count;
    // A huge walk must not keep every folder it passed: drop the oldest clean ones.
    while (cache.entries > CACHE_ENTRY_BUDGET) {
        struct cache_slot *oldest = NULL;
        for (int i = 0; i < CACHE_SLOTS; i++) {
            struct cache_slot *s = &cache.slots[i];
            if (s->index.file_path && !s->out && !s->index.deferred && s != slot &&
                (!oldest || s->used < oldest->used))
                oldest = s;
        }
        if (!oldest)
            break;
        free_slot(oldest);
    }
}

void index_cache_forget(const char *file_path, int deferred)
{
    struct cache_slot *slot = find_slot(file_path);
    if (slot)
        free_slot(slot);
    if (deferred)
        cache.lost = errno ? errno : EIO;  // as the holder's failed write left it
}

struct staged_slot {
    struct cache_slot *slot;
    struct strbuf path;
};

// Drops a staged index that will not replace its file: memory must not claim what the disk
// does not hold.
static void give_up_staged(struct staged_slot *st)
{
    cache.lost = errno ? errno : EIO;
    fs_sys_unlink(st->path.buf);
    free_slot(st->slot);
}

// A FUSE file system's syncfs reaches its server only when the server implements it (exfat-fuse
// does not), while its fsync always does. The servers of sticks (exfat-fuse, ntfs-3g) flush the
// whole volume on any fsync: the objects a batch closed without one rely on that.
static int syncfs_reaches_the_disk(void)
{
    enum { FUSE_MAGIC = 0x65735546 };
    struct statfs st;
    return statfs(the_store->store_dir.buf, &st) == 0 && st.f_type != FUSE_MAGIC;
}

// Every deferred index is staged first; then one syncfs makes the objects and the staged
// indexes durable together, where an fsync per folder would cost a pass of the volume each.
// Where syncfs may not reach the disk, one fsync of the last staged index flushes the volume
// instead, with everything written before it. Only then do they replace their files, so no
// index on the disk names an object that is not.
int index_cache_commit(void)
{
    int r = 0, saved = 0;
    auto fail = [&](int err) {
        if (!r) {
            r = -1;
            saved = err;
        }
    };
    std::vector<staged_slot> staged;
    try {
        for (int i = 0; i < CACHE_SLOTS; i++)
            if (cache.slots[i].index.file_path && !cache.slots[i].out && cache.slots[i].index.deferred)
                staged.push_back({&cache.slots[i], STRBUF_INIT});
    } catch (const std::bad_alloc &) {
        staged.clear();
        fail(ENOMEM);
    }
    for (staged_slot &st : staged) {
        st.slot->index.changed |= INDEX_ADDED;
        if (index_stage(&st.slot->index, &st.path) < 0) {
            fail(errno);
            free_slot(st.slot);
            cache.lost = errno ? errno : EIO;
        } else {
            cache.unsynced = 1;
        }
    }
    int durable = index_make_objects_durable() == 0;
    if (!durable)
        fail(errno);
    const staged_slot *last = NULL;
    for (const staged_slot &st : staged)
        if (st.slot->index.file_path)
            last = &st;
    if (durable && last && !syncfs_reaches_the_disk() && index_flush_staged(last->path.buf) < 0) {
        durable = 0;
        fail(errno);
    }
    for (staged_slot &st : staged) {
        if (st.slot->index.file_path &&
            (!durable || index_replace_by_staged(&st.slot->index, st.path.buf) < 0)) {
            fail(errno);
            give_up_staged(&st);
        }
        strbuf_release(&st.path);
    }
    if (cache.lost && r == 0)
        fail(cache.lost);
    cache.lost = 0;
    errno = saved ? saved : errno;
    return r;
}

int index_cache_drop(void)
{
    int r = the_store ? index_cache_commit() : 0;
    int saved = errno;
    for (int i = 0; i < CACHE_SLOTS; i++)
        free_slot(&cache.slots[i]);
    cache.unsynced = 0;
    cache.lost = 0;
    cache.batch = 0;
    errno = saved;
    return r;
}

void index_batch_begin(void)
{
    cache.batch = 1;
}

int index_batch_end(void)
{
    int r = index_cache_commit();
    cache.batch = 0;
    return r;
}

int index_batch_active(void)
{
    return cache.batch;
}

void index_defer(struct store_index *index)
{
    index->changed = 0;
    index->deferred = 1;
}

void index_note_unsynced_object(void)
{
    cache.unsynced = 1;
}

int index_make_objects_durable(void)
{
    if (!cache.unsynced)
        return 0;
    int fd = open(the_store->store_dir.buf, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int r = syncfs(fd);
    int saved = errno;
    close(fd);
    errno = saved;
    if (r == 0)
        cache.unsynced = 0;
    return r;
}
