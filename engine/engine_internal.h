// Helpers shared by the engine's operations.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "fs.h"
#include "index.h"
#include "strbuf.h"

// 0 while a store is mounted; -1 with errno 9 otherwise.
int require_mounted(void);

// A name given for a new entry: not empty, not "." or "..", no "?" (it would collide with
// part entries), at most 255 bytes.
int check_new_name(const char *name, size_t len);

// A new entry's path within FS_PATH_MAX: folder is its folder's text with the final "/" (empty
// at the top), name_len its name's length. 0, or -1 with errno ENAMETOOLONG.
int check_new_path(const struct strbuf *folder, size_t name_len);

// The entry name of part k of a file: the name itself for k = 0, else name, "?" and k.
int part_entry_name(struct strbuf *sb, const char *name, uint64_t k);

// The numbers k >= 1 of the part entries of file name that index holds and its size allows,
// highest first, in a new array (NULL when none). Bounded by the entries present, not by the
// recorded size, which a damaged index may make absurd. 0, or -1 with errno 12.
int present_parts(const struct store_index *index, const char *name, uint64_t size, uint64_t **parts,
                  size_t *count);

// Splits a store path and loads its folder into index (fresh). The folder text ends with "/"
// when not empty. Returns 0, or -1 with errno.
int resolve_parent(const char *path, struct store_index *index, struct strbuf *folder, struct strbuf *name);

// Takes the folder entry at path out of its parent's index and leaves the folder's index
// object alone: for an entry that names the index of another folder, which keeps it. 0, or
// -1 with errno (ENOTDIR when path is not a folder).
int forget_folder_entry(const char *path);

// Clears the unfinished mark of the file entry at path (see INDEX_UNFINISHED). 0, or -1 with
// errno.
int clear_unfinished_mark(const char *path);
