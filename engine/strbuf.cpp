// Growable byte strings: the engine builds every path, header and value in them.
#include "strbuf.h"

#include <assert.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern "C" {
char strbuf_slopbuf[1];
}

int strbuf_init(struct strbuf *sb, size_t hint)
{
    sb->alloc = 0;
    sb->len = 0;
    sb->buf = strbuf_slopbuf;
    return hint ? strbuf_grow(sb, hint) : 0;
}

int strbuf_grow(struct strbuf *sb, size_t extra)
{
    if (sb->len + extra + 1 < sb->len + extra || sb->len + extra < sb->len) {
        errno = ENOMEM;
        return -1;
    }
    size_t need = sb->len + extra + 1;
    if (need <= sb->alloc)
        return 0;
    size_t grown = (sb->alloc + 16) * 3 / 2;
    size_t want = grown > need ? grown : need;
    char *fresh = (char *)realloc(sb->alloc ? sb->buf : NULL, want);
    if (!fresh) {
        errno = ENOMEM;
        return -1;
    }
    if (!sb->alloc)
        fresh[0] = 0;
    sb->buf = fresh;
    sb->alloc = want;
    return 0;
}

void strbuf_release(struct strbuf *sb)
{
    if (sb->alloc) {
        free(sb->buf);
        strbuf_init(sb, 0);
    }
}

char *strbuf_detach(struct strbuf *sb, size_t *len_out)
{
    if (strbuf_grow(sb, 0) < 0)
        return NULL;
    char *bytes = sb->buf;
    if (len_out)
        *len_out = sb->len;
    strbuf_init(sb, 0);
    return bytes;
}

void strbuf_setlen(struct strbuf *sb, size_t len)
{
    if (sb->buf == strbuf_slopbuf) {
        assert(len == 0 && "!strbuf_slopbuf[0]");
        return;
    }
    assert(len < sb->alloc);
    sb->len = len;
    sb->buf[len] = 0;
}

int strbuf_add(struct strbuf *sb, const void *data, size_t n)
{
    if (strbuf_grow(sb, n) < 0)
        return -1;
    if (n)
        memcpy(sb->buf + sb->len, data, n);
    strbuf_setlen(sb, sb->len + n);
    return 0;
}

int strbuf_addch(struct strbuf *sb, int c)
{
    if (sb->len + 1 >= sb->alloc && strbuf_grow(sb, 1) < 0)
        return -1;
    sb->buf[sb->len++] = (char)c;
    sb->buf[sb->len] = 0;
    return 0;
}

int strbuf_addstr(struct strbuf *sb, const char *s)
{
    return strbuf_add(sb, s, strlen(s));
}

int strbuf_addbuf(struct strbuf *sb, const struct strbuf *other)
{
    // Grow first: other may be sb itself.
    size_t n = other->len;
    if (strbuf_grow(sb, n) < 0)
        return -1;
    memmove(sb->buf + sb->len, other->buf, n);
    strbuf_setlen(sb, sb->len + n);
    return 0;
}

int strbuf_vaddf(struct strbuf *sb, const char *fmt, va_list ap)
{
    if (sb->alloc <= sb->len + 1 && strbuf_grow(sb, 64) < 0)
        return -1;
    va_list again;
    va_copy(again, ap);
    int n = vsnprintf(sb->buf + sb->len, sb->alloc - sb->len, fmt, ap);
    if (n < 0) {
        va_end(again);
        sb->buf[sb->len] = 0;
        return -1;
    }
    if ((size_t)n >= sb->alloc - sb->len) {
        if (strbuf_grow(sb, (size_t)n) < 0) {
            va_end(again);
            sb->buf[sb->len] = 0;
            return -1;
        }
        n = vsnprintf(sb->buf + sb->len, sb->alloc - sb->len, fmt, again);
    }
    va_end(again);
    if (n < 0) {
        sb->buf[sb->len] = 0;
        return -1;
    }
    strbuf_setlen(sb, sb->len + (size_t)n);
    return 0;
}

int strbuf_addf(struct strbuf *sb, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = strbuf_vaddf(sb, fmt, ap);
    va_end(ap);
    return r;
}

int strbuf_splice(struct strbuf *sb, size_t pos, size_t len, const void *data, size_t dlen)
{
    if (dlen > len && strbuf_grow(sb, dlen - len) < 0)
        return -1;
    if (sb->buf == strbuf_slopbuf)
        return 0;  // nothing to replace and nothing to insert
    memmove(sb->buf + pos + dlen, sb->buf + pos + len, sb->len - pos - len);
    if (dlen)
        memcpy(sb->buf + pos, data, dlen);
    strbuf_setlen(sb, sb->len + dlen - len);
    return 0;
}

void strbuf_remove(struct strbuf *sb, size_t pos, size_t len)
{
    strbuf_splice(sb, pos, len, "", 0);
}

void strbuf_tolower(struct strbuf *sb)
{
    for (size_t i = 0; i < sb->len; i++) {
        char c = sb->buf[i];
        if (c >= 'A' && c <= 'Z')
            sb->buf[i] = (char)(c + ('a' - 'A'));
    }
}

int strbuf_readlink(struct strbuf *sb, const char *path, size_t hint)
{
    size_t oldalloc = sb->alloc;
    for (size_t size = hint < 32 ? 32 : hint; size <= 1024; size *= 2) {
        if (strbuf_grow(sb, size) < 0)
            break;
        ssize_t n = readlink(path, sb->buf, size);
        if (n < 0)
            break;
        if ((size_t)n < size) {
            strbuf_setlen(sb, (size_t)n);
            return 0;
        }
    }
    if (!oldalloc)
        strbuf_release(sb);
    return -1;
}

int strbuf_getcwd(struct strbuf *sb)
{
    size_t oldalloc = sb->alloc;
    for (size_t size = 128;; size *= 2) {
        if (strbuf_grow(sb, size) < 0)
            break;
        if (getcwd(sb->buf, sb->alloc)) {
            strbuf_setlen(sb, strlen(sb->buf));
            return 0;
        }
        if (errno == EACCES && size < 1024)
            continue;
        if (errno != ERANGE)
            break;
    }
    int saved = errno;
    if (oldalloc == 0)
        strbuf_release(sb);
    else
        strbuf_reset(sb);
    errno = saved;
    return -1;
}
