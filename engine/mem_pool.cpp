#include "mem_pool.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

struct mp_block {
    struct mp_block *next;
    char *free;
    char *end;
    alignas(8) char space[];
};

static struct mp_block *block_new(size_t size)
{
    struct mp_block *b = (struct mp_block *)malloc(sizeof(struct mp_block) + size);
    if (!b) {
        errno = ENOMEM;
        return NULL;
    }
    b->next = NULL;
    b->free = b->space;
    b->end = b->space + size;
    return b;
}

struct mem_pool *mem_pool_new(size_t first_block)
{
    struct mem_pool *pool = (struct mem_pool *)calloc(1, sizeof(*pool));
    if (!pool) {
        errno = ENOMEM;
        return NULL;
    }
    pool->block_size = MEM_POOL_BLOCK_SIZE;
    if (first_block) {
        pool->blocks = block_new((first_block + 7) & ~(size_t)7);
        if (!pool->blocks) {
            free(pool);
            return NULL;
        }
    }
    return pool;
}

void *mem_pool_calloc(struct mem_pool *pool, size_t len)
{
    len = (len + 7) & ~(size_t)7;
    struct mp_block *b = pool->blocks;
    if (!b || (size_t)(b->end - b->free) < len) {
        // A large request gets a block of its own, behind the current one.
        if (len >= pool->block_size / 2) {
            struct mp_block *own = block_new(len);
            if (!own)
                return NULL;
            if (b) {
                own->next = b->next;
                b->next = own;
            } else {
                pool->blocks = own;
            }
            own->free = own->end;
            memset(own->space, 0, len);
            return own->space;
        }
        b = block_new(pool->block_size);
        if (!b)
            return NULL;
        b->next = pool->blocks;
        pool->blocks = b;
    }
    void *p = b->free;
    b->free += len;
    memset(p, 0, len);
    return p;
}

void mem_pool_discard(struct mem_pool *pool)
{
    if (!pool)
        return;
    struct mp_block *b = pool->blocks;
    while (b) {
        struct mp_block *next = b->next;
        free(b);
        b = next;
    }
    free(pool);
}
