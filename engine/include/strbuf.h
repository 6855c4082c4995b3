/* Growable byte strings: the engine builds every path, header and value in them. Usable from C. */
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

#ifdef __cplusplus
}
#endif
