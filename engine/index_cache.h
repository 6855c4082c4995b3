// Folder indexes kept in memory between engine calls, and the batching of new entries.
//
// An index read from its file, or written by this process, goes back to the cache when its
// holder is done with it unchanged, so the next call that needs it takes it without reading,
// decrypting and parsing the file again. A cached index is checked against its file (inode,
// size, times) before it is handed out, so a file replaced from outside is read again; one
// whose holder changed it and then dropped it is forgotten. The cache is emptied at mount,
// login, password change and unmount.
//
// While a batch is open, a new file's or folder's entry is only recorded in the cached index
// ("deferred"); objects, and a new folder's own empty index, are written without fsync. A
// commit stages each deferred index once, makes objects and staged indexes durable with one
// syncfs pass, and then lets them replace their files. Any other index write in between does
// the same syncfs first, so no index on the disk ever names an object that is not on the disk.
#pragma once

#include "index.h"

// Moves the cached content of index->file_path into index (whose paths are set); 1 when it
// did, 0 when nothing usable is cached, -1 (EBUSY) when that file's uncommitted content is
// held by another caller.
int index_cache_take(struct store_index *index);
// Keeps the unchanged content of index; the index is left empty.
void index_cache_put(struct store_index *index);
// Notes the file's current identity in index, after index read or wrote it.
void index_cache_note_file(struct store_index *index);
// Writes every deferred index; -1 when one failed or an uncommitted entry was lost (whose
// objects are then left for check to report as orphans).
int index_cache_commit(void);
// Commits, then forgets everything.
int index_cache_drop(void);
// The holder of file_path's content changed it and gave it up; with deferred, entries that
// were never written went with it.
void index_cache_forget(const char *file_path, int deferred);

void index_batch_begin(void);
int index_batch_end(void);
int index_batch_active(void);
// Records the entry change in index without writing it; only pure additions may be deferred.
void index_defer(struct store_index *index);
// An object was closed without fsync; the next index write syncs the volume first.
void index_note_unsynced_object(void);
int index_make_objects_durable(void);
