// The engine's single global context and its lock table.
#pragma once

#include "crypto.h"
#include "strbuf.h"

struct store_context {
    struct strbuf store_dir;  // canonical path of the store directory
    char *index_name;  // "index"
    char *config_name;  // "config"
    const struct hash_algo *hash;
    unsigned char root_key[SHA1_RAWSZ];
    unsigned char object_key[SHA1_RAWSZ];
    int object_key_loaded;
};

// Set while a store is mounted, empty otherwise.
extern struct store_context *the_store;

// Lock 0 guards the creation of other locks; lock 1 guards the handle table.
enum { ENGINE_LOCK_CREATE = 0, ENGINE_LOCK_HANDLES = 1, ENGINE_LOCK_COUNT = 2 };
int engine_lock(int locknum);  // 0, or -1 with errno 12 when the lock cannot be created
void engine_unlock(int locknum);
int engine_locks_create_at_mount(void);
void engine_locks_destroy(void);

// Releases every handle of the handle table (at unmount).
void handle_table_release(void);
