/* Path helpers of the store engine: normalisation, store paths, canonical resolution on
 * the volume, and object ids as hexadecimal text. Not used outside the engine; usable from C. */
#pragma once

#include <stddef.h>

#include "strbuf.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Both "/" and "\" separate components. */
int is_dir_sep(int c);
size_t root_part_length(const char *path);
/* dst must have room for strlen(src) + 1 bytes. -1 only for ".." above the root. */
int normalize_path(char *dst, const char *src);
/* 0, or -1 with the content as it was. */
int strbuf_normalize_path(struct strbuf *sb);
void strip_last_component(struct strbuf *sb);
/* The last component may be missing; every other one must exist. NULL and an empty
 * buffer on failure. */
const char *strbuf_realpath(struct strbuf *resolved, const char *path);
size_t last_slash_pos(const char *path);

/* Store paths are relative to the store's root folder: leading "/" are removed. */
int normalize_store_path(struct strbuf *sb, const char *path);
int split_store_path(const char *path, struct strbuf *folder, struct strbuf *name);

/* Object ids as 40 lower-case hexadecimal digits. */
void object_id_to_hex(const unsigned char *id, char *hex_out /* 41 bytes */);
int hex_to_object_id(const char *hex, unsigned char *id_out /* 20 bytes */);

#ifdef __cplusplus
}
#endif
