// Reading and rewriting the configuration file. A set is a complete read-modify-replace:
// the new content goes to "config.lock", reaches the disk, and is renamed over the file.
#include "config.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "context.h"
#include "fs.h"
#include "object.h"
#include "lockfile.h"
#include "strbuf.h"

enum config_event {
    EVENT_SECTION = 0,
    EVENT_ENTRY = 1,
    EVENT_WHITESPACE = 2,
    EVENT_COMMENT = 3,
    EVENT_EOF = 4,
    EVENT_ERROR = 5,
};

typedef int (*config_event_fn)(int type, size_t begin, size_t end, void *data);

struct config_source {
    FILE *file;
    int linenr;
    int eof;
    size_t offset;  // bytes consumed so far
    size_t char_start;  // offset of the character last returned
    int subsection;  // the last section header had a quoted subsection
    struct strbuf var;  // full name being built
    struct strbuf value;
    config_event_fn event_fn;
    void *event_data;
    int has_pending;
    int pending_type;
    size_t pending_begin;
};

// The source being parsed; a callback may parse another file, so it is saved and restored.
static struct config_source *current_source;

static int is_key_char(int c)
{
    return isalnum(c) || c == '-';
}

static int is_config_space(int c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

static int next_char(void)
{
    struct config_source *cf = current_source;
    cf->char_start = cf->offset;
    if (cf->eof)
        return '\n';
    int c = getc_unlocked(cf->file);
    if (c == EOF) {
        cf->eof = 1;
        return '\n';
    }
    cf->offset++;
    if (c == '\r') {
        int next = getc_unlocked(cf->file);
        if (next == '\n') {
            cf->offset++;
            c = '\n';
        } else if (next != EOF) {
            ungetc(next, cf->file);
        }
    }
    if (c == '\n')
        cf->linenr++;
    return c;
}

// An element starts at begin: the previous one ends there. Runs of whitespace merge.
static int record_event(int type, size_t begin)
{
    struct config_source *cf = current_source;
    if (!cf->event_fn)
        return 0;
    if (cf->has_pending) {
        if (type == EVENT_WHITESPACE && cf->pending_type == EVENT_WHITESPACE)
            return 0;
        if (cf->event_fn(cf->pending_type, cf->pending_begin, begin, cf->event_data) < 0)
            return -1;
    }
    cf->has_pending = 1;
    cf->pending_type = type;
    cf->pending_begin = begin;
    return 0;
}

static int flush_last_event(void)
{
    struct config_source *cf = current_source;
    if (!cf->event_fn || !cf->has_pending)
        return 0;
    struct stat st;
    size_t end = fstat(fileno(cf->file), &st) == 0 ? (size_t)st.st_size : cf->offset;
    cf->has_pending = 0;
    return cf->event_fn(cf->pending_type, cf->pending_begin, end, cf->event_data);
}

static int parse_section_header(void)
{
    struct config_source *cf = current_source;
    strbuf_reset(&cf->var);
    cf->subsection = 0;
    for (;;) {
        int c = next_char();
        if (cf->eof || c == '\n')
            return -1;
        if (c == ']')
            return strbuf_addch(&cf->var, '.');
        if (c == ' ' || c == '\t')
            break;
        if (!is_key_char(c) && c != '.')
            return -1;
        if (strbuf_addch(&cf->var, tolower(c)) < 0)
            return -1;
    }
    int c;
    do
        c = next_char();
    while (c == ' ' || c == '\t');
    if (c != '"' || strbuf_addch(&cf->var, '.') < 0)
        return -1;
    for (;;) {
        c = next_char();
        if (c == '\n')
            return -1;
        if (c == '"')
            break;
        if (c == '\\') {
            c = next_char();
            if (c == '\n')
                return -1;
        }
        if (strbuf_addch(&cf->var, c) < 0)
            return -1;
    }
    if (next_char() != ']')
        return -1;
    cf->subsection = 1;
    return strbuf_addch(&cf->var, '.');
}

// Returns the value, or NULL on a syntax error.
static const char *parse_value(void)
{
    struct config_source *cf = current_source;
    struct strbuf *v = &cf->value;
    int quote = 0, comment = 0;
    size_t spaces = 0;
    strbuf_reset(v);
    for (;;) {
        int c = next_char();
        if (c == '\n')
            return quote ? NULL : v->buf;
        if (comment)
            continue;
        if (!quote && is_config_space(c)) {
            if (v->len)
                spaces++;
            continue;
        }
        if (!quote && (c == ';' || c == '#')) {
            comment = 1;
            continue;
        }
        for (; spaces; spaces--)
            if (strbuf_addch(v, ' ') < 0)
                return NULL;
        if (c == '\\') {
            c = next_char();
            switch (c) {
            case '\n':
                continue;
            case 't':
                c = '\t';
                break;
            case 'b':
                c = '\b';
                break;
            case 'n':
                c = '\n';
                break;
            case '\\':
            case '"':
                break;
            default:
                return NULL;
            }
        } else if (c == '"') {
            quote = !quote;
            continue;
        }
        if (strbuf_addch(v, c) < 0)
            return NULL;
    }
}

enum { PARSE_SYNTAX_ERROR = -2, PARSE_REFUSED = -1 };

static int parse_entry(int first, size_t baselen, config_fn fn, void *data)
{
    struct config_source *cf = current_source;
    strbuf_setlen(&cf->var, baselen);
    if (strbuf_addch(&cf->var, tolower(first)) < 0)
        return PARSE_REFUSED;
    int c;
    for (;;) {
        c = next_char();
        if (cf->eof || !is_key_char(c))
            break;
        if (strbuf_addch(&cf->var, tolower(c)) < 0)
            return PARSE_REFUSED;
    }
    while (c == ' ' || c == '\t')
        c = next_char();
    const char *value = NULL;
    if (c != '\n') {
        if (c != '=')
            return PARSE_SYNTAX_ERROR;
        value = parse_value();
        if (!value)
            return PARSE_SYNTAX_ERROR;
    }
    return fn(cf->var.buf, value, data) < 0 ? PARSE_REFUSED : 0;
}

static int skip_byte_order_mark(void)
{
    struct config_source *cf = current_source;
    int c = getc_unlocked(cf->file);
    if (c != 0xEF) {
        if (c != EOF)
            ungetc(c, cf->file);
        return 0;
    }
    cf->offset = 1;
    if (getc_unlocked(cf->file) != 0xBB || getc_unlocked(cf->file) != 0xBF)
        return -1;
    cf->offset = 3;
    return 0;
}

static int parse_source(config_fn fn, void *data)
{
    struct config_source *cf = current_source;
    int comment = 0;
    size_t baselen = 0;
    size_t begin = 0;
    if (skip_byte_order_mark() < 0)
        goto syntax_error;
    for (;;) {
        int c = next_char();
        begin = cf->char_start;
        if (cf->eof) {
            if (record_event(EVENT_EOF, begin) < 0 || flush_last_event() < 0)
                return -1;
            return 0;
        }
        if (comment) {
            if (c == '\n')
                comment = 0;
            continue;
        }
        if (c == '\n' || c == ' ' || c == '\t' || is_config_space(c)) {
            if (record_event(EVENT_WHITESPACE, begin) < 0)
                return -1;
            continue;
        }
        if (c == '#' || c == ';') {
            if (record_event(EVENT_COMMENT, begin) < 0)
                return -1;
            comment = 1;
            continue;
        }
        if (c == '[') {
            if (record_event(EVENT_SECTION, begin) < 0)
                return -1;
            if (parse_section_header() < 0)
                goto syntax_error;
            baselen = cf->var.len;
            continue;
        }
        if (!isalpha(c))
            goto syntax_error;
        if (record_event(EVENT_ENTRY, begin) < 0)
            return -1;
        int r = parse_entry(c, baselen, fn, data);
        if (r == PARSE_REFUSED)
            return -1;
        if (r == PARSE_SYNTAX_ERROR)
            goto syntax_error;
    }
syntax_error:
    // The entries before the problem have been delivered; the rest is ignored.
    if (record_event(EVENT_ERROR, begin) < 0 || flush_last_event() < 0)
        return -1;
    return 0;
}

static int parse_file(FILE *file, config_fn fn, config_event_fn event_fn, void *data)
{
    struct config_source source;
    memset(&source, 0, sizeof(source));
    source.file = file;
    source.linenr = 1;
    source.event_fn = event_fn;
    source.event_data = data;
    strbuf_init(&source.var, 1024);
    strbuf_init(&source.value, 1024);

    struct config_source *saved = current_source;
    current_source = &source;
    flockfile(file);
    int r = parse_source(fn, data);
    funlockfile(file);
    current_source = saved;
    strbuf_release(&source.var);
    strbuf_release(&source.value);
    return r;
}

// Never waits on a FIFO put in place of the file.
static FILE *open_config(const char *path)
{
    int fd = fs_sys_open_regular(path, O_RDONLY);
    if (fd < 0)
        return NULL;
    FILE *f = fdopen(fd, "r");
    if (!f) {
        int saved = errno;
        close(fd);
        errno = saved;
    }
    return f;
}

int config_from_file(config_fn fn, const char *path, void *data)
{
    FILE *f = open_config(path);
    if (!f)
        return -1;
    int r = parse_file(f, fn, NULL, data);
    fclose(f);
    return r;
}

int config_string(char **dest, const char *name, const char *value)
{
    (void)name;
    if (!value)
        return -1;
    *dest = strdup(value);
    if (!*dest) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int config_parse_key(const char *key, char **normalised, size_t *baselen)
{
    const char *last_dot = strrchr(key, '.');
    if (!last_dot || last_dot == key || !last_dot[1])
        return -2;
    const char *first_dot = strchr(key, '.');
    size_t len = strlen(key);
    char *out = (char *)malloc(len + 1);
    if (!out) {
        errno = ENOMEM;
        return -1;
    }
    for (size_t i = 0; i < len; i++) {
        const char *p = key + i;
        unsigned char c = (unsigned char)*p;
        if (p == first_dot || p == last_dot) {
            out[i] = '.';
        } else if (p > first_dot && p < last_dot) {
            if (c == '\n')
                goto invalid;
            out[i] = (char)c;
        } else {
            if (!is_key_char(c) || (p == last_dot + 1 && !isalpha(c)))
                goto invalid;
            out[i] = (char)tolower(c);
        }
    }
    out[len] = 0;
    *normalised = out;
    *baselen = (size_t)(last_dot - key);
    return 0;
invalid:
    free(out);
    return -1;
}

struct parsed_event {
    int type;
    size_t begin, end;
};

// What a set learns from one parse of the old file.
struct set_state {
    const char *key;  // normalised
    size_t baselen;
    struct parsed_event *events;
    size_t nr, alloc;
    size_t *matches;  // event numbers of matching entries
    size_t matches_nr, matches_alloc;
    int in_key_section;
    int section_seen;
    size_t insertion;  // event number of the last element of the key's section
    int syntax_error;  // the parse stopped before the end of the file
};

static int push_size(size_t **arr, size_t *nr, size_t *alloc, size_t value)
{
    if (*nr == *alloc) {
        size_t grown = (*alloc + 16) * 3 / 2;
        size_t *fresh = (size_t *)realloc(*arr, grown * sizeof(**arr));
        if (!fresh)
            return -1;
        *arr = fresh;
        *alloc = grown;
    }
    (*arr)[(*nr)++] = value;
    return 0;
}

static int section_matches(const struct set_state *st, const struct strbuf *name, int extended)
{
    if (name->len - 1 != st->baselen)
        return 0;
    return extended ? !strncmp(name->buf, st->key, st->baselen)
                    : !strncasecmp(name->buf, st->key, st->baselen);
}

static int set_event(int type, size_t begin, size_t end, void *data)
{
    struct set_state *st = (struct set_state *)data;
    if (st->nr == st->alloc) {
        size_t grown = (st->alloc + 16) * 3 / 2;
        struct parsed_event *fresh = (struct parsed_event *)realloc(st->events, grown * sizeof(*fresh));
        if (!fresh)
            return -1;
        st->events = fresh;
        st->alloc = grown;
    }
    if (type == EVENT_SECTION) {
        const struct strbuf *name = &current_source->var;
        if (name->len < 2 || name->buf[name->len - 1] != '.')
            return -1;
        st->in_key_section = section_matches(st, name, current_source->subsection);
        if (st->in_key_section) {
            st->section_seen = 1;
            st->insertion = st->nr;
        }
    }
    if (type == EVENT_ERROR)
        st->syntax_error = 1;
    st->events[st->nr].type = type;
    st->events[st->nr].begin = begin;
    st->events[st->nr].end = end;
    st->nr++;
    return 0;
}

// Entries are reported before their event is recorded: their event number is st->nr.
static int set_entry(const char *name, const char *value, void *data)
{
    (void)value;
    struct set_state *st = (struct set_state *)data;
    if (!strcmp(name, st->key) && push_size(&st->matches, &st->matches_nr, &st->matches_alloc, st->nr) < 0)
        return -1;
    if (st->in_key_section)
        st->insertion = st->nr;
    return 0;
}

static int write_section_header(struct strbuf *out, const char *key)
{
    const char *first_dot = strchr(key, '.');
    const char *last_dot = strrchr(key, '.');
    if (first_dot == last_dot)
        return strbuf_addf(out, "[%.*s]\n", (int)(first_dot - key), key);
    if (strbuf_addf(out, "[%.*s \"", (int)(first_dot - key), key) < 0)
        return -1;
    for (const char *p = first_dot + 1; p < last_dot; p++) {
        if ((*p == '\\' || *p == '"') && strbuf_addch(out, '\\') < 0)
            return -1;
        if (strbuf_addch(out, *p) < 0)
            return -1;
    }
    return strbuf_addstr(out, "\"]\n");
}

static int write_entry(struct strbuf *out, const char *key, const char *value)
{
    const char *name = strrchr(key, '.') + 1;
    size_t vlen = strlen(value);
    const char *quote =
        (vlen && (value[0] == ' ' || value[vlen - 1] == ' ')) || strpbrk(value, "#;") ? "\"" : "";
    if (strbuf_addf(out, "\t%.*s = %s", (int)strlen(name), name, quote) < 0)
        return -1;
    for (const char *p = value; *p; p++) {
        int r;
        switch (*p) {
        case '\n':
            r = strbuf_addstr(out, "\\n");
            break;
        case '\t':
            r = strbuf_addstr(out, "\\t");
            break;
        case '"':
        case '\\':
            r = strbuf_addch(out, '\\') < 0 ? -1 : strbuf_addch(out, *p);
            break;
        default:
            r = strbuf_addch(out, *p);
        }
        if (r < 0)
            return -1;
    }
    return strbuf_addf(out, "%s\n", quote);
}

// Builds the new file content from the old one and what the parse found.
static int build_content(struct strbuf *out, const struct set_state *st, const char *map, size_t size,
                         const char *key, const char *value)
{
    if (st->matches_nr) {
        size_t copy_from = 0;
        for (size_t i = 0; i < st->matches_nr; i++) {
            const struct parsed_event *e = &st->events[st->matches[i]];
            size_t stop = e->begin;
            while (stop > copy_from && (map[stop - 1] == ' ' || map[stop - 1] == '\t'))
                stop--;
            if (strbuf_add(out, map + copy_from, stop - copy_from) < 0)
                return -1;
            if (stop > 0 && map[stop - 1] != '\n' && strbuf_addch(out, '\n') < 0)
                return -1;
            if (i == st->matches_nr - 1 && write_entry(out, key, value) < 0)
                return -1;
            copy_from = e->end;
        }
        return strbuf_add(out, map + copy_from, size - copy_from);
    }
    if (st->section_seen) {
        size_t end = st->events[st->insertion].end;
        if (end > 0 && map[end - 1] != '\n' && end < size && map[end] == '\n')
            end++;
        if (strbuf_add(out, map, end) < 0)
            return -1;
        if ((end == 0 || map[end - 1] != '\n') && strbuf_addch(out, '\n') < 0)
            return -1;
        if (write_entry(out, key, value) < 0)
            return -1;
        return strbuf_add(out, map + end, size - end);
    }
    if (strbuf_add(out, map, size) < 0)
        return -1;
    if (size && map[size - 1] != '\n' && strbuf_addch(out, '\n') < 0)
        return -1;
    return write_section_header(out, key) < 0 ? -1 : write_entry(out, key, value);
}

struct read_back {
    const char *key;
    const char *value;
    int same;  // of the last entry named key
};

static int compare_last(const char *name, const char *value, void *data)
{
    struct read_back *rb = (struct read_back *)data;
    if (!strcmp(name, rb->key))
        rb->same = value && !strcmp(value, rb->value);
    return 0;
}

// The new file is read back before it replaces the old one: what came before the new entry
// can change how it reads (a line continuation at the end of the file swallows the next line),
// and a setting that reports success must be the one readers get.
static int commit_new_content(struct lock_file *lock, const struct strbuf *content, const char *key,
                              const char *value)
{
    struct read_back rb = {key, value, 0};
    if (write_in_full(lock->fd, content->buf, content->len) < 0 ||
        config_from_file(compare_last, lock->path.buf, &rb) < 0 || !rb.same) {
        lock_file_rollback(lock);
        return FS_CONFIG_WRITE_FAILED;
    }
    return lock_file_commit(lock) < 0 ? FS_CONFIG_WRITE_FAILED : FS_CONFIG_OK;
}

int config_set_in_file(const char *path, const char *key, const char *value, int replace_all)
{
    if (!key || !value)
        return FS_CONFIG_INVALID_KEY;
    char *normalised = NULL;
    size_t baselen = 0;
    int r = config_parse_key(key, &normalised, &baselen);
    if (r == -2)
        return FS_CONFIG_NO_SECTION_OR_NAME;
    if (r < 0)
        return FS_CONFIG_INVALID_KEY;

    struct strbuf store_path = STRBUF_INIT;
    struct strbuf content = STRBUF_INIT;
    struct lock_file lock = LOCK_INIT;
    struct set_state st;
    memset(&st, 0, sizeof(st));
    st.key = normalised;
    st.baselen = baselen;
    FILE *f = NULL;
    char *map = NULL;
    size_t size = 0;
    int status;

    if (!path) {
        if (!the_store ||
            strbuf_addf(&store_path, "%s/%s", the_store->store_dir.buf, the_store->config_name) < 0) {
            status = FS_CONFIG_READ_FAILED;
            goto done;
        }
        path = store_path.buf;
    }
    if (lock_file_hold(&lock, path) < 0) {
        status = FS_CONFIG_LOCK_FAILED;
        goto done;
    }
    f = open_config(path);
    if (!f) {
        if (errno != ENOENT) {
            status = FS_CONFIG_READ_FAILED;
        } else if (write_section_header(&content, key) < 0 || write_entry(&content, key, value) < 0) {
            status = FS_CONFIG_WRITE_FAILED;
        } else {
            status = commit_new_content(&lock, &content, normalised, value);
        }
        goto done;
    }
    // Readers stop at a syntax error, so a value written after one would never be read.
    if (parse_file(f, set_entry, set_event, &st) < 0 || st.syntax_error) {
        status = FS_CONFIG_READ_FAILED;
        goto done;
    }
    if (st.matches_nr > 1 && !replace_all) {
        status = FS_CONFIG_NOTHING_SET;
        goto done;
    }
    {
        struct stat info;
        if (fstat(fileno(f), &info) < 0) {
            status = FS_CONFIG_READ_FAILED;
            goto done;
        }
        size = (size_t)info.st_size;
        if (size) {
            void *m = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fileno(f), 0);
            if (m == MAP_FAILED) {
                status = FS_CONFIG_READ_FAILED;
                goto done;
            }
            map = (char *)m;
        }
        fclose(f);
        f = NULL;
        if (fchmod(lock.fd, info.st_mode & 07777) < 0) {
            status = FS_CONFIG_WRITE_FAILED;
            goto done;
        }
    }
    if (build_content(&content, &st, map ? map : "", size, key, value) < 0) {
        status = FS_CONFIG_WRITE_FAILED;
        goto done;
    }
    status = commit_new_content(&lock, &content, normalised, value);

done:
    if (map)
        munmap(map, size);
    if (f)
        fclose(f);
    lock_file_rollback(&lock);
    strbuf_release(&lock.path);
    strbuf_release(&store_path);
    strbuf_release(&content);
    free(st.events);
    free(st.matches);
    free(normalised);
    return status;
}
