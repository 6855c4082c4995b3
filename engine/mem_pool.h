// Bump allocator for index entries: freed all at once with its index.
#pragma once

#include <stddef.h>

enum { MEM_POOL_BLOCK_SIZE = 1048552 };

struct mp_block;

struct mem_pool {
    struct mp_block *blocks;
    size_t block_size;
};

// first_block: size of the first block (0 for the default).
struct mem_pool *mem_pool_new(size_t first_block);
void *mem_pool_calloc(struct mem_pool *pool, size_t len);
void mem_pool_discard(struct mem_pool *pool);
