// A set of object ids in an open-addressing table keyed by the ids' own first bytes: they are
// SHA-1 digests, so already evenly spread.
#include "id_set.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

static size_t id_slot(const struct id_set *set, const unsigned char *id)
{
    size_t h = 0;
    memcpy(&h, id, sizeof(h));
    return h & (set->capacity - 1);
}

int id_set_contains(const struct id_set *set, const unsigned char *id)
{
    if (!set->capacity)
        return 0;
    for (size_t i = id_slot(set, id);; i = (i + 1) & (set->capacity - 1)) {
        if (!set->used[i])
            return 0;
        if (!memcmp(set->slots[i], id, SHA1_RAWSZ))
            return 1;
    }
}

void id_set_release(struct id_set *set)
{
    free(set->slots);
    free(set->used);
    memset(set, 0, sizeof(*set));
}

static int id_set_grow(struct id_set *set)
{
    struct id_set bigger;
    bigger.capacity = set->capacity ? set->capacity * 2 : 1024;
    bigger.count = 0;
    bigger.slots = (unsigned char(*)[SHA1_RAWSZ])malloc(bigger.capacity * SHA1_RAWSZ);
    bigger.used = (unsigned char *)calloc(bigger.capacity, 1);
    if (!bigger.slots || !bigger.used) {
        id_set_release(&bigger);
        errno = ENOMEM;
        return -1;
    }
    for (size_t i = 0; i < set->capacity; i++) {
        if (!set->used[i])
            continue;
        size_t j = id_slot(&bigger, set->slots[i]);
        while (bigger.used[j])
            j = (j + 1) & (bigger.capacity - 1);
        memcpy(bigger.slots[j], set->slots[i], SHA1_RAWSZ);
        bigger.used[j] = 1;
        bigger.count++;
    }
    id_set_release(set);
    *set = bigger;
    return 0;
}

// 1 when added, 0 when it was there already, -1 (ENOMEM).
int id_set_add(struct id_set *set, const unsigned char *id)
{
    if (id_set_contains(set, id))
        return 0;
    if ((set->count + 1) * 2 > set->capacity && id_set_grow(set) < 0)
        return -1;
    size_t i = id_slot(set, id);
    while (set->used[i])
        i = (i + 1) & (set->capacity - 1);
    memcpy(set->slots[i], id, SHA1_RAWSZ);
    set->used[i] = 1;
    set->count++;
    return 1;
}
