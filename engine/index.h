// One folder's index: its entries in case-insensitive name order, read from and written to
// an encrypted index file that ends in a SHA-1 checksum of its plaintext.
#pragma once

#include <stdint.h>

#include "crypto.h"
#include "mem_pool.h"
#include "strbuf.h"

struct index_entry {
    uint64_t size;
    int64_t time;
    uint32_t type_bits;  // top four bits of the on-disk flags, kept as read
    uint32_t name_len;
    unsigned char id[SHA1_RAWSZ];
    char name[];  // NUL-terminated; folders end in "/", parts hold "?" and a number
};

enum index_changed { INDEX_REPLACED = 1, INDEX_REMOVED = 2, INDEX_ADDED = 4 };

struct store_index {
    char *folder_path;  // "" for the root index
    char *file_path;  // NULL while the index holds nothing
    struct index_entry **entries;
    uint32_t count;
    uint32_t capacity;
    uint32_t version;
    unsigned changed;
    int loaded;
    unsigned char checksum[SHA1_RAWSZ];
    struct mem_pool *pool;
    int deferred;  // holds new entries not yet written to its file
    int disk_known;  // the identity of the file as last read or written:
    uint64_t disk_ino, disk_size;
    int64_t disk_mtime, disk_ctime;
};

// clang-format off
#define INDEX_INIT { NULL, NULL, NULL, 0, 0, 0, 0, 0, {0}, NULL, 0, 0, 0, 0, 0, 0 }
// clang-format on

// The root index's trailer also holds the object key: with the header, no root index is
// shorter than 64 bytes, and a shorter one is damage whatever the password.
enum { INDEX_MIN_FILE = 32, INDEX_MIN_ROOT_FILE = 64, INDEX_NAME_MASK = 0xFFF, INDEX_TYPE_MASK = 0xF000 };
// A type bit set on a file's entry from its open for writing until its close: still marked,
// the entry is of a write that never finished (or is still running). Readers that do not know
// it keep it, as they keep every type bit; only reading the content tells for sure.
enum { INDEX_UNFINISHED = 0x1000 };

// On-disk length of an entry with a name of n bytes.
static inline uint32_t index_entry_disk_size(uint32_t n)
{
    return (n + 46) & ~7u;
}

int name_compare(const char *a, size_t alen, const char *b, size_t blen);

int index_read(struct store_index *index);
int index_read_from(struct store_index *index, const char *folder_path, const char *file_path);
int index_write(struct store_index *index);
// A commit of several indexes in three steps, so that one flush of the volume serves them
// all: index_stage writes the new content to the index's lock file and puts its path in
// staged; once the volume is synced, index_flush_staged makes sure it reached the disk, and
// index_replace_by_staged renames it over the old file. A failed step leaves the old file as
// it was; the caller unlinks what was staged.
int index_stage(struct store_index *index, struct strbuf *staged);
int index_flush_staged(const char *staged);
int index_replace_by_staged(struct store_index *index, const char *staged);
// Writes the index of a folder made in a batch to its file, which must not exist yet, without
// a flush: like a new object, it reaches the disk with the next sync, before any index that
// names it.
int index_write_new(struct store_index *index);
// Writes the index when it changed, then frees it; returns the write's result.
int index_release(struct store_index *index);
// Done with the index without writing it: unchanged content goes back to the cache, changed
// content is dropped.
void index_discard(struct store_index *index);
// Frees everything the index holds.
void index_discard_content(struct store_index *index);
struct index_entry *index_new_entry(struct store_index *index, size_t name_len);
struct index_entry *index_make_entry(struct store_index *index, const char *name, size_t name_len);
int index_name_pos(const struct store_index *index, const char *name, size_t len);
int index_add_entry(struct store_index *index, struct index_entry *entry);
int index_remove_entry_at(struct store_index *index, uint32_t pos);
int index_remove_file(struct store_index *index, const char *name);
// Removes the entry like index_remove_file but keeps its object file, appending the object's
// path (NUL-terminated) to pending; delete them with delete_pending_objects once the index
// that no longer names them is safely written.
int index_detach_file(struct store_index *index, const char *name, struct strbuf *pending);
void delete_pending_objects(struct strbuf *pending);
// -1 when the entry sorts past component, 0 when it only starts with it, else INDEX_PATH_FILE
// or INDEX_PATH_FOLDER for the entry component names.
int entry_match(const struct index_entry *entry, const char *component, size_t len);
// What a path resolved to. On INDEX_PATH_FAILED errno says why (ENOENT for a missing
// component). The id and size are those of the last entry found; INDEX_PATH_START found none.
enum index_path_kind {
    INDEX_PATH_FAILED = -1,
    INDEX_PATH_START = 0,  // no component: the folder the index holds itself
    INDEX_PATH_FILE = 1,
    INDEX_PATH_FOLDER = 2,  // after a trailing separator the index holds that folder
};
// Follows path from the folder the index holds, reading each folder's index on the way.
enum index_path_kind index_resolve_path(struct store_index *index, const char *path, unsigned char *id_out,
                                        uint64_t *size_out);
