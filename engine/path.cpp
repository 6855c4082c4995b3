// Path helpers shared by the engine: normalisation, store path splitting, canonical
// resolution on the volume and object id hex text.
#include "path.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <cctype>

int is_dir_sep(int c)
{
    return c == '/' || c == '\\';
}

static int has_drive_prefix(const char *path)
{
    return isalpha((unsigned char)path[0]) && path[1] == ':';
}

size_t root_part_length(const char *path)
{
    if (has_drive_prefix(path))
        return is_dir_sep(path[2]) ? 3 : 2;
    if (is_dir_sep(path[0]) && !is_dir_sep(path[1]))
        return 1;
    if (is_dir_sep(path[0]) && is_dir_sep(path[1])) {
        // //host/share/: the root runs to the end of the share name.
        size_t i = 2;
        while (path[i] && !is_dir_sep(path[i]))
            i++;
        if (!path[i])
            return 0;
        i++;
        while (path[i] && !is_dir_sep(path[i]))
            i++;
        return path[i] ? i + 1 : i;
    }
    return 0;
}

int normalize_path(char *dst, const char *src)
{
    char *out = dst;
    size_t root = root_part_length(src);
    for (size_t i = 0; i < root; i++)
        *out++ = is_dir_sep(src[i]) ? '/' : src[i];
    char *floor = out;
    src += root;
    while (is_dir_sep(*src))
        src++;

    while (*src) {
        if (src[0] == '.') {
            if (!src[1]) {
                src++;
                break;
            }
            if (is_dir_sep(src[1])) {
                src += 2;
                while (is_dir_sep(*src))
                    src++;
                continue;
            }
            if (src[1] == '.' && (!src[2] || is_dir_sep(src[2]))) {
                src += 2;
                while (is_dir_sep(*src))
                    src++;
                if (out <= floor)
                    return -1;
                out--;  // the "/" that ended the previous component
                while (out > floor && out[-1] != '/')
                    out--;
                continue;
            }
        }
        while (*src && !is_dir_sep(*src))
            *out++ = *src++;
        if (is_dir_sep(*src)) {
            *out++ = '/';
            while (is_dir_sep(*src))
                src++;
        }
    }
    *out = 0;
    return 0;
}

int strbuf_normalize_path(struct strbuf *sb)
{
    struct strbuf dst = STRBUF_INIT;
    if (strbuf_grow(&dst, sb->len) < 0)
        return -1;
    if (normalize_path(dst.buf, sb->buf) < 0) {
        strbuf_release(&dst);
        return -1;
    }
    strbuf_setlen(&dst, strlen(dst.buf));
    struct strbuf old = *sb;
    *sb = dst;
    strbuf_release(&old);
    return 0;
}

void strip_last_component(struct strbuf *sb)
{
    size_t floor = root_part_length(sb->buf);
    size_t len = sb->len;
    while (len > floor && !is_dir_sep(sb->buf[len - 1]))
        len--;
    while (len > floor && is_dir_sep(sb->buf[len - 1]))
        len--;
    strbuf_setlen(sb, len);
}

static int only_separators(const struct strbuf *sb)
{
    for (size_t i = 0; i < sb->len; i++)
        if (!is_dir_sep(sb->buf[i]))
            return 0;
    return 1;
}

enum { MAX_SYMLINKS = 33 };

const char *strbuf_realpath(struct strbuf *resolved, const char *path)
{
    struct strbuf remaining = STRBUF_INIT;
    struct strbuf target = STRBUF_INIT;
    int links = 0;
    int saved;

    strbuf_reset(resolved);
    if (!*path) {
        errno = ENOENT;
        goto fail;
    }
    {
        size_t root = root_part_length(path);
        if (strbuf_add(resolved, path, root) < 0 || strbuf_addstr(&remaining, path + root) < 0)
            goto fail;
    }
    if (!resolved->len && strbuf_getcwd(resolved) < 0)
        goto fail;

    while (remaining.len) {
        size_t start = 0;
        while (start < remaining.len && is_dir_sep(remaining.buf[start]))
            start++;
        size_t end = start;
        while (end < remaining.len && !is_dir_sep(remaining.buf[end]))
            end++;
        size_t clen = end - start;
        struct strbuf component = STRBUF_INIT;
        if (strbuf_add(&component, remaining.buf + start, clen) < 0)
            goto fail;
        strbuf_remove(&remaining, 0, end);

        if (!clen || (clen == 1 && component.buf[0] == '.')) {
            strbuf_release(&component);
            continue;
        }
        if (clen == 2 && component.buf[0] == '.' && component.buf[1] == '.') {
            strbuf_release(&component);
            strip_last_component(resolved);
            continue;
        }
        if (resolved->len && !is_dir_sep(resolved->buf[resolved->len - 1]) &&
            strbuf_addch(resolved, '/') < 0) {
            strbuf_release(&component);
            goto fail;
        }
        if (strbuf_addbuf(resolved, &component) < 0) {
            strbuf_release(&component);
            goto fail;
        }
        strbuf_release(&component);

        struct stat st;
        if (lstat(resolved->buf, &st) < 0) {
            // The last component may name something yet to be created.
            if (errno != ENOENT || !only_separators(&remaining))
                goto fail;
            continue;
        }
        if (!S_ISLNK(st.st_mode))
            continue;
        if (links >= MAX_SYMLINKS) {
            errno = ELOOP;
            goto fail;
        }
        links++;
        if (strbuf_readlink(&target, resolved->buf, (size_t)st.st_size) < 0)
            goto fail;
        {
            size_t troot = root_part_length(target.buf);
            if (troot) {
                strbuf_reset(resolved);
                if (strbuf_add(resolved, target.buf, troot) < 0)
                    goto fail;
                strbuf_remove(&target, 0, troot);
            } else {
                strip_last_component(resolved);
            }
        }
        if (remaining.len && (strbuf_addch(&target, '/') < 0 || strbuf_addbuf(&target, &remaining) < 0))
            goto fail;
        {
            struct strbuf swap = remaining;
            remaining = target;
            target = swap;
            strbuf_reset(&target);
        }
    }
    strbuf_release(&remaining);
    strbuf_release(&target);
    return resolved->buf;

fail:
    saved = errno;
    strbuf_release(&remaining);
    strbuf_release(&target);
    strbuf_reset(resolved);
    errno = saved;
    return NULL;
}

size_t last_slash_pos(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? (size_t)(slash - path) + 1 : 0;
}

int normalize_store_path(struct strbuf *sb, const char *path)
{
    // Any run of leading separators means the vault's top: as one "/", so that a run is not
    // taken for a network root whose next component would then be kept as it stands.
    while (is_dir_sep(*path))
        path++;
    if (strbuf_addch(sb, '/') < 0 || strbuf_addstr(sb, path) < 0)
        return -1;
    if (strbuf_normalize_path(sb) < 0 && errno == ENOMEM)
        return -1;  // ".." above the root leaves the text as it was; running out of memory does not
    size_t lead = 0;
    while (lead < sb->len && sb->buf[lead] == '/')
        lead++;
    strbuf_remove(sb, 0, lead);
    return 0;
}

int split_store_path(const char *path, struct strbuf *folder, struct strbuf *name)
{
    if (normalize_store_path(name, path) < 0)
        return -1;
    const char *slash = strrchr(name->buf, '/');
    if (slash) {
        size_t pos = (size_t)(slash - name->buf);
        if (strbuf_add(folder, name->buf, pos) < 0)
            return -1;
        strbuf_remove(name, 0, pos + 1);
    }
    return 0;
}

void object_id_to_hex(const unsigned char *id, char *hex_out)
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 20; i++) {
        hex_out[2 * i] = digits[id[i] >> 4];
        hex_out[2 * i + 1] = digits[id[i] & 15];
    }
    hex_out[40] = 0;
}

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int hex_to_object_id(const char *hex, unsigned char *id_out)
{
    for (int i = 0; i < 20; i++) {
        int hi = hex_value(hex[2 * i]);
        int lo = hi < 0 ? -1 : hex_value(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return -1;
        id_out[i] = (unsigned char)(hi << 4 | lo);
    }
    return 0;
}
