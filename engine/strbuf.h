/* Growable byte strings and the path helpers of the store engine. Usable from C. */
#pragma once

#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The content is always followed by a 0 byte. A buffer that owns nothing points at
 * strbuf_slopbuf. Operations that can grow the buffer return 0, or -1 with errno 12
 * (ENOMEM) and the content unchanged when memory cannot be had. */
struct strbuf {
    size_t alloc;
    size_t len;
    char *buf;
};

extern char strbuf_slopbuf[];
// clang-format off
#define STRBUF_INIT { 0, 0, strbuf_slopbuf }
// clang-format on

int strbuf_init(struct strbuf *sb, size_t hint);
int strbuf_grow(struct strbuf *sb, size_t extra);
void strbuf_release(struct strbuf *sb);
char *strbuf_detach(struct strbuf *sb, size_t *len_out);
void strbuf_setlen(struct strbuf *sb, size_t len);
static inline void strbuf_reset(struct strbuf *sb)
{
    strbuf_setlen(sb, 0);
}
int strbuf_add(struct strbuf *sb, const void *data, size_t n);
int strbuf_addch(struct strbuf *sb, int c);
int strbuf_addstr(struct strbuf *sb, const char *s);
int strbuf_addbuf(struct strbuf *sb, const struct strbuf *other);
int strbuf_addf(struct strbuf *sb, const char *fmt, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;
int strbuf_vaddf(struct strbuf *sb, const char *fmt, va_list ap);
/* Bounds are the caller's duty: pos + len <= sb->len. */
int strbuf_splice(struct strbuf *sb, size_t pos, size_t len, const void *data, size_t dlen);
void strbuf_remove(struct strbuf *sb, size_t pos, size_t len);
void strbuf_tolower(struct strbuf *sb);
int strbuf_readlink(struct strbuf *sb, const char *path, size_t hint);
int strbuf_getcwd(struct strbuf *sb);
int strbuf_normalize_path(struct strbuf *sb);

/* Paths: both "/" and "\" separate components. */
int is_dir_sep(int c);
size_t root_part_length(const char *path);
int normalize_path(char *dst, const char *src);
void strip_last_component(struct strbuf *sb);
const char *strbuf_realpath(struct strbuf *resolved, const char *path);
size_t last_slash_pos(const char *path);
/* Store paths are relative to the store's root folder: leading "/" are removed. */
int normalize_store_path(struct strbuf *sb, const char *path);
int split_store_path(const char *path, struct strbuf *folder, struct strbuf *name);

/* Object ids as 40 lower-case hexadecimal digits. */
void object_id_to_hex(const unsigned char *id, char *hex_out /* 41 bytes */);
int hex_to_object_id(const char *hex, unsigned char *id_out /* 20 bytes */);

/* A lock on a file about to be replaced: the target path followed by ".lock". */
struct lock_file {
    int active;
    int fd;
    struct strbuf path;
};
// clang-format off
#define LOCK_INIT { 0, -1, STRBUF_INIT }
// clang-format on

int lock_file_hold(struct lock_file *lk, const char *path);
const char *lock_file_target(struct lock_file *lk, struct strbuf *out);
int lock_file_commit(struct lock_file *lk);
void lock_file_rollback(struct lock_file *lk);

#ifdef __cplusplus
}
#endif
