// A set of 20-byte object ids, for walks that must know which objects they have met.
#pragma once

#include <stddef.h>

#include "crypto.h"

struct id_set {
    unsigned char (*slots)[SHA1_RAWSZ];
    unsigned char *used;
    size_t capacity;  // a power of two, or 0
    size_t count;
};

// clang-format off
#define ID_SET_INIT { NULL, NULL, 0, 0 }
// clang-format on

int id_set_contains(const struct id_set *set, const unsigned char *id);
// 1 when added, 0 when it was there already, -1 with errno 12 (ENOMEM).
int id_set_add(struct id_set *set, const unsigned char *id);
void id_set_release(struct id_set *set);
