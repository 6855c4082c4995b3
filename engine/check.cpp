// fs_check: every index and object of the store read through, nothing written. The folders
// are walked depth first with a stack of loaded indexes on the heap, so the depth of a
// (damaged) tree costs memory, never the thread's stack; every folder index is entered at
// most once, so a cycle ends the walk instead of repeating it.
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "context.h"
#include "engine_internal.h"
#include "fs.h"
#include "id_set.h"
#include "index.h"
#include "object.h"
#include "path.h"

namespace {

enum { CHECK_READ_BUFSZ = 1 << 20 };

// One folder of the walk: its loaded index, the next entry to look at, and how long the
// shared path buffer is while this folder is the current one.
struct check_frame {
    struct store_index index;
    uint32_t next;
    size_t path_len;
};

struct checker {
    fs_check_problem_fn on_problem;
    void *ctx;
    struct fs_check_summary sum;
    int problems;
    int failed;  // an errno that ends the check (ENOMEM), else 0
    int unfinished;  // the file being checked still carries the mark of an unfinished write
    struct id_set referenced;  // every object an entry names
    struct id_set folders;  // folder indexes entered
    struct strbuf path;  // store path of the current folder, no leading or final "/"
    struct strbuf shown;  // the entry being checked, as reported
    struct strbuf text, scratch;
    unsigned char *buffer;  // CHECK_READ_BUFSZ bytes for reading content
    struct check_frame *stack;
    size_t depth, stack_capacity;
};

void fail(struct checker *c)
{
    if (!c->failed)
        c->failed = errno ? errno : ENOMEM;
}

#ifdef __GNUC__
__attribute__((format(printf, 4, 5)))
#endif
void report(struct checker *c, int kind, const char *path, const char *fmt, ...)
{
    if (c->failed)
        return;
    strbuf_reset(&c->text);
    va_list ap;
    va_start(ap, fmt);
    int r = strbuf_vaddf(&c->text, fmt, ap);
    va_end(ap);
    if (r < 0) {
        fail(c);
        return;
    }
    c->problems++;
    if (c->on_problem) {
        struct fs_check_problem problem = {kind, path, c->text.buf, c->unfinished};
        c->on_problem(&problem, c->ctx);
    }
}

int reference(struct checker *c, const unsigned char *id)
{
    if (id_set_add(&c->referenced, id) < 0) {
        fail(c);
        return -1;
    }
    return 0;
}

// "/" + folder + "/" + name, the way entries are shown.
int set_shown(struct checker *c, const char *name, size_t len)
{
    strbuf_reset(&c->shown);
    if (strbuf_addch(&c->shown, '/') < 0 || strbuf_addbuf(&c->shown, &c->path) < 0 ||
        (c->path.len && strbuf_addch(&c->shown, '/') < 0) || strbuf_add(&c->shown, name, len) < 0) {
        fail(c);
        return -1;
    }
    return 0;
}

// Reads one content object through. Its length, or -1 once the problem is reported.
int64_t check_object(struct checker *c, const unsigned char *id, uint64_t header_size, const char *what)
{
    if (reference(c, id) < 0)
        return -1;
    strbuf_reset(&c->scratch);
    if (object_path(&c->scratch, id) < 0) {
        fail(c);
        return -1;
    }
    struct stat st;
    if (stat(c->scratch.buf, &st) < 0) {
        report(c, FS_CHECK_OBJECT_MISSING, c->shown.buf, "%s: object file missing (%s)", what,
               c->scratch.buf);
        return -1;
    }
    int type = 0;
    struct object_stream *s = object_stream_open_path(c->scratch.buf, &type);
    if (!s) {
        report(c, FS_CHECK_OBJECT_UNREADABLE, c->shown.buf, "%s: object cannot be decrypted or inflated",
               what);
        return -1;
    }
    if (type != OBJ_BLOB || object_stream_declared_size(s) != header_size) {
        object_stream_close(s);
        report(c, FS_CHECK_OBJECT_HEADER, c->shown.buf, "%s: object header does not match its entry", what);
        return -1;
    }
    int64_t total = 0;
    ssize_t n;
    while ((n = object_stream_read(s, c->buffer, CHECK_READ_BUFSZ)) > 0)
        total += n;
    object_stream_close(s);
    if (n < 0) {
        report(c, FS_CHECK_CONTENT_DAMAGED, c->shown.buf, "%s: content is damaged", what);
        return -1;
    }
    return total;
}

// Strict decimal without a leading zero, as part names are made; -1 for anything else.
int parse_part_number(const char *digits, size_t len, uint64_t *k)
{
    if (!len || (digits[0] == '0' && len > 1))
        return -1;
    uint64_t v = 0;
    for (size_t i = 0; i < len; i++) {
        if (digits[i] < '0' || digits[i] > '9' || v > (UINT64_MAX - 9) / 10)
            return -1;
        v = v * 10 + (uint64_t)(digits[i] - '0');
    }
    *k = v;
    return 0;
}

uint64_t parts_beyond_the_first(uint64_t size)
{
    return size ? (size - 1) / FS_PART_SIZE : 0;
}

int compare_u64(const void *a, const void *b)
{
    uint64_t x = *(const uint64_t *)a, y = *(const uint64_t *)b;
    return x < y ? -1 : x > y;
}

void report_missing_parts(struct checker *c, uint64_t from, uint64_t to)
{
    if (from == to)
        report(c, FS_CHECK_PART_MISSING, c->shown.buf, "%s: part %llu is missing", c->shown.buf,
               (unsigned long long)from);
    else
        report(c, FS_CHECK_PART_MISSING, c->shown.buf, "%s: parts %llu to %llu are missing", c->shown.buf,
               (unsigned long long)from, (unsigned long long)to);
}

// The part numbers of file name present in index, sorted and without repeats. Names that
// share a prefix sit together in the index's order, so only those entries are looked at:
// the work follows the parts present, not the size the entry declares.
uint64_t *present_parts(const struct store_index *index, const char *name, size_t len, size_t *count)
{
    struct strbuf prefix = STRBUF_INIT;
    *count = 0;
    if (strbuf_add(&prefix, name, len) < 0 || strbuf_addch(&prefix, '?') < 0)
        return NULL;
    int pos = index_name_pos(index, prefix.buf, prefix.len);
    uint32_t first = (uint32_t)(pos >= 0 ? pos : -pos - 1), end = first;
    while (end < index->count && index->entries[end]->name_len >= prefix.len &&
           !name_compare(index->entries[end]->name, prefix.len, prefix.buf, prefix.len))
        end++;
    uint64_t *parts = (uint64_t *)malloc(((size_t)(end - first) + 1) * sizeof(uint64_t));
    if (!parts) {
        strbuf_release(&prefix);
        errno = ENOMEM;
        return NULL;
    }
    for (uint32_t i = first; i < end; i++) {
        const struct index_entry *e = index->entries[i];
        uint64_t k;
        if (parse_part_number(e->name + prefix.len, e->name_len - prefix.len, &k) == 0)
            parts[(*count)++] = k;
    }
    strbuf_release(&prefix);
    qsort(parts, *count, sizeof(uint64_t), compare_u64);
    size_t unique = 0;
    for (size_t i = 0; i < *count; i++)
        if (!unique || parts[unique - 1] != parts[i])
            parts[unique++] = parts[i];
    *count = unique;
    return parts;
}

void check_parts(struct checker *c, const struct store_index *index, const struct index_entry *e)
{
    size_t count;
    uint64_t *parts = present_parts(index, e->name, e->name_len, &count);
    if (!parts) {
        fail(c);
        return;
    }
    const uint64_t last = parts_beyond_the_first(e->size);
    uint64_t expected = 1;
    struct strbuf part = STRBUF_INIT, what = STRBUF_INIT;
    for (size_t i = 0; i < count && parts[i] <= last && !c->failed; i++) {
        const uint64_t k = parts[i];
        if (k == 0)
            continue;  // reported with the part entry itself
        if (k > expected)
            report_missing_parts(c, expected, k - 1);
        expected = k + 1;
        if (part_entry_name(&part, e->name, k) < 0 ||
            strbuf_addf(&what, "%s part %llu", c->shown.buf, (unsigned long long)k) < 0) {
            fail(c);
            break;
        }
        const int pos = index_name_pos(index, part.buf, part.len);
        const uint64_t rest = e->size - k * FS_PART_SIZE;
        const uint64_t want = rest < FS_PART_SIZE ? rest : FS_PART_SIZE;
        const int64_t got = pos < 0 ? -1 : check_object(c, index->entries[pos]->id, 0, what.buf);
        if (got >= 0 && (uint64_t)got != want)
            report(c, FS_CHECK_SIZE_MISMATCH, c->shown.buf, "%s: part %llu holds %lld bytes, expected %llu",
                   c->shown.buf, (unsigned long long)k, (long long)got, (unsigned long long)want);
        strbuf_reset(&what);
    }
    if (expected <= last && !c->failed)
        report_missing_parts(c, expected, last);
    strbuf_release(&part);
    strbuf_release(&what);
    free(parts);
}

void check_file(struct checker *c, const struct store_index *index, const struct index_entry *e)
{
    c->sum.files++;
    c->sum.bytes = c->sum.bytes + e->size < c->sum.bytes ? UINT64_MAX : c->sum.bytes + e->size;
    const uint64_t first = e->size < FS_PART_SIZE ? e->size : FS_PART_SIZE;
    const int problems = c->problems;
    c->unfinished = (e->type_bits & INDEX_UNFINISHED) != 0;
    const int64_t got = check_object(c, e->id, first, c->shown.buf);
    if (got >= 0 && (uint64_t)got != first)
        report(c, FS_CHECK_SIZE_MISMATCH, c->shown.buf, "%s: holds %lld bytes, its entry says %llu",
               c->shown.buf, (long long)got, (unsigned long long)first);
    check_parts(c, index, e);
    c->unfinished = 0;
    if (problems == c->problems && !c->failed && (e->type_bits & INDEX_UNFINISHED))
        report(c, FS_CHECK_UNFINISHED_MARK, c->shown.buf, "%s: marked unfinished, but its content is whole",
               c->shown.buf);
}

void check_part_entry(struct checker *c, const struct store_index *index, const struct index_entry *e)
{
    const char *q = (const char *)memrchr(e->name, '?', e->name_len);
    const size_t base_len = (size_t)(q - e->name);
    const int pos = index_name_pos(index, e->name, base_len);
    uint64_t k;
    int belongs = pos >= 0 && parse_part_number(q + 1, e->name_len - base_len - 1, &k) == 0 && k >= 1 &&
        k <= parts_beyond_the_first(index->entries[pos]->size);
    if (!belongs)
        report(c, FS_CHECK_STRAY_PART, c->shown.buf, "%s: a part that belongs to no file", c->shown.buf);
    reference(c, e->id);
}

// Names a computer could take for a file or folder: not empty, "." or "..", no separator
// and no zero byte.
int is_safe_name(const char *name, size_t len)
{
    if (!len || (len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.'))
        return 0;
    for (size_t i = 0; i < len; i++)
        if (name[i] == '/' || name[i] == '\\' || name[i] == 0)
            return 0;
    return 1;
}

// Loads the root index into the first frame; 0, or -1 once reported (or failed).
int push_root(struct checker *c)
{
    struct check_frame *f = &c->stack[0];
    if (index_read(&f->index) < 0) {
        if (errno == ENOMEM)
            fail(c);
        else
            report(c, FS_CHECK_ROOT_INDEX, "/", "root index cannot be read: %s",
                   errno == EBADMSG      ? "it is damaged"
                       : errno == EACCES ? "wrong password or damage"
                                         : strerror(errno));
        return -1;
    }
    c->depth = 1;
    f->next = 0;
    f->path_len = 0;
    return 0;
}

// Enters the folder entry e of the current folder (its name without the final "/" is
// plain): on success a new frame is on top and the path names the folder.
void enter_folder(struct checker *c, const struct index_entry *e, const char *plain, size_t plain_len)
{
    c->sum.folders++;
    const size_t parent_len = c->path.len;
    if ((parent_len && strbuf_addch(&c->path, '/') < 0) || strbuf_add(&c->path, plain, plain_len) < 0 ||
        reference(c, e->id) < 0) {
        fail(c);
        return;
    }
    strbuf_reset(&c->scratch);
    if (object_path(&c->scratch, e->id) < 0) {
        fail(c);
        return;
    }
    int added = id_set_add(&c->folders, e->id);
    if (added < 0) {
        fail(c);
    } else if (!added) {
        // A damaged vault can name one folder index from two places, or from inside itself.
        report(c, FS_CHECK_FOLDER_SHARED, c->shown.buf,
               "%s: shares its folder index with another folder (%s)", c->shown.buf, c->scratch.buf);
    } else if (struct stat st; stat(c->scratch.buf, &st) < 0) {
        report(c, FS_CHECK_FOLDER_MISSING, c->shown.buf, "%s: folder index missing (%s)", c->shown.buf,
               c->scratch.buf);
    } else {
        if (c->depth == c->stack_capacity) {
            size_t capacity = c->stack_capacity * 2;
            struct check_frame *grown = (struct check_frame *)realloc(c->stack, capacity * sizeof(*grown));
            if (!grown) {
                errno = ENOMEM;
                fail(c);
                return;
            }
            c->stack = grown;
            c->stack_capacity = capacity;
        }
        struct check_frame *f = &c->stack[c->depth];
        struct store_index empty = INDEX_INIT;
        f->index = empty;
        f->next = 0;
        f->path_len = c->path.len;
        if (index_read_from(&f->index, c->path.buf, c->scratch.buf) < 0) {
            if (errno == ENOMEM)
                fail(c);
            else
                report(c, FS_CHECK_FOLDER_DAMAGED, c->shown.buf, "%s: folder index damaged (%s)",
                       c->shown.buf, strerror(errno));
            index_discard(&f->index);
        } else {
            // Never written: without its folder path the index cannot be, and a deep chain's
            // frames do not each hold a copy of their whole path.
            free(f->index.folder_path);
            f->index.folder_path = NULL;
            c->depth++;
            return;
        }
    }
    strbuf_setlen(&c->path, parent_len);
}

// One entry of the folder on top of the stack.
void check_entry(struct checker *c, const struct store_index *index, uint32_t i)
{
    const struct index_entry *e = index->entries[i];
    if (set_shown(c, e->name, e->name_len) < 0)
        return;
    if (i &&
        name_compare(index->entries[i - 1]->name, index->entries[i - 1]->name_len, e->name, e->name_len) >= 0)
        report(c, FS_CHECK_ENTRY_ORDER, c->shown.buf, "%s: entries out of order or named twice",
               c->shown.buf);
    if (memchr(e->name, '?', e->name_len)) {
        check_part_entry(c, index, e);
        return;
    }
    const int folder = e->name_len && e->name[e->name_len - 1] == '/';
    const size_t plain_len = e->name_len - (folder ? 1 : 0);
    if (!is_safe_name(e->name, plain_len)) {
        if (set_shown(c, e->name, plain_len) == 0)
            report(c, FS_CHECK_UNSAFE_NAME, c->shown.buf, "%s: unsafe name in the vault", c->shown.buf);
        // Still read through, so that nothing it names counts as orphaned.
        if (folder && set_shown(c, e->name, e->name_len) == 0)
            enter_folder(c, e, e->name, plain_len);
        else if (!folder && reference(c, e->id) == 0)
            check_file(c, index, e);
        return;
    }
    // Walked and read all the same, so that nothing below counts as orphaned.
    const size_t path_len = 1 + c->path.len + (c->path.len ? 1 : 0) + plain_len;
    if (path_len > FS_PATH_MAX && 1 + c->path.len <= FS_PATH_MAX)
        report(c, FS_CHECK_PATH_TOO_LONG, c->shown.buf,
               "%s: its path is longer than the vault allows (%zu bytes, at most %d)", c->shown.buf, path_len,
               FS_PATH_MAX);
    if (folder)
        enter_folder(c, e, e->name, plain_len);
    else
        check_file(c, index, e);
}

void walk(struct checker *c)
{
    while (c->depth && !c->failed) {
        struct check_frame *top = &c->stack[c->depth - 1];
        if (top->next < top->index.count) {
            // Entering a folder may move the stack; the copy still points at this frame's
            // entries, which stay where they are.
            const struct store_index held = top->index;
            check_entry(c, &held, top->next++);
            continue;
        }
        index_discard(&top->index);
        c->depth--;
        if (c->depth)
            strbuf_setlen(&c->path, c->stack[c->depth - 1].path_len);
    }
}

int is_lower_hex(const char *s, size_t len)
{
    for (size_t i = 0; i < len; i++)
        if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f')))
            return 0;
    return 1;
}

int has_lock_suffix(const char *name)
{
    size_t n = strlen(name);
    return n > 5 && !strcmp(name + n - 5, ".lock");
}

int skip_dots(const struct dirent *d)
{
    return strcmp(d->d_name, ".") && strcmp(d->d_name, "..");
}

// Whether the file name in fan-out folder two_digits is the rest of the hex text of an
// object some entry names.
int names_referenced_object(const struct checker *c, const char *two_digits, const char *name)
{
    const size_t len = strlen(name);
    char hex[2 * SHA1_RAWSZ + 1];
    unsigned char id[SHA1_RAWSZ];
    if (len != sizeof(hex) - 3 || !is_lower_hex(two_digits, 2) || !is_lower_hex(name, len))
        return 0;
    memcpy(hex, two_digits, 2);
    memcpy(hex + 2, name, len + 1);
    return hex_to_object_id(hex, id) == 0 && id_set_contains(&c->referenced, id);
}

void check_fan_out_file(struct checker *c, const char *dir, const char *two_digits, const char *name)
{
    strbuf_reset(&c->scratch);
    if (strbuf_addf(&c->scratch, "%s/%s", dir, name) < 0) {
        fail(c);
    } else if (has_lock_suffix(name)) {
        report(c, FS_CHECK_LEFTOVER_LOCK, c->scratch.buf, "leftover lock file %s", c->scratch.buf);
    } else if (!names_referenced_object(c, two_digits, name)) {
        c->sum.orphaned_objects++;
        report(c, FS_CHECK_ORPHANED_OBJECT, c->scratch.buf, "orphaned object file %s", c->scratch.buf);
    }
}

// A file or folder at the top of the store directory other than the root index and the
// settings: fan-out folders of objects, and the lock files of interrupted writes.
void check_top_level(struct checker *c, const char *store, const char *name, struct strbuf *full)
{
    strbuf_reset(full);
    if (strbuf_addf(full, "%s/%s", store, name) < 0) {
        fail(c);
        return;
    }
    if (strlen(name) == 2 && isxdigit((unsigned char)name[0]) && isxdigit((unsigned char)name[1])) {
        struct dirent **files = NULL;
        const int n = scandir(full->buf, &files, skip_dots, alphasort);
        for (int i = 0; i < n; i++) {
            if (!c->failed)
                check_fan_out_file(c, full->buf, name, files[i]->d_name);
            free(files[i]);
        }
        free(files);
    } else if (!strcmp(name, "config.lock")) {
        report(c, FS_CHECK_LEFTOVER_LOCK, full->buf,
               "leftover lock file %s (settings cannot be saved while it exists)", full->buf);
    } else if (!strcmp(name, "index.lock")) {
        report(c, FS_CHECK_LEFTOVER_LOCK, full->buf, "leftover lock file %s", full->buf);
    }
}

// Sorted, so that the report does not depend on the order the file system keeps.
void check_store_directory(struct checker *c)
{
    const char *store = the_store->store_dir.buf;
    struct dirent **names = NULL;
    const int n = scandir(store, &names, skip_dots, alphasort);
    struct strbuf full = STRBUF_INIT;
    for (int i = 0; i < n; i++) {
        if (!c->failed)
            check_top_level(c, store, names[i]->d_name, &full);
        free(names[i]);
    }
    free(names);
    strbuf_release(&full);
}

}  // namespace

int fs_check(fs_check_problem_fn on_problem, void *ctx, struct fs_check_summary *summary)
{
    if (require_mounted() < 0)
        return -1;
    struct checker c;
    memset(&c, 0, sizeof(c));
    c.on_problem = on_problem;
    c.ctx = ctx;
    strbuf_init(&c.path, 0);
    strbuf_init(&c.shown, 0);
    strbuf_init(&c.text, 0);
    strbuf_init(&c.scratch, 0);
    c.stack_capacity = 64;
    c.stack = (struct check_frame *)calloc(c.stack_capacity, sizeof(*c.stack));
    c.buffer = (unsigned char *)malloc(CHECK_READ_BUFSZ);
    if (!c.stack || !c.buffer) {
        errno = ENOMEM;
        fail(&c);
    } else {
        struct store_index empty = INDEX_INIT;
        c.stack[0].index = empty;
        if (push_root(&c) == 0) {
            walk(&c);
            if (!c.failed)
                check_store_directory(&c);
        }
    }
    // Frames left by a check that ended early; discarding twice is harmless.
    for (size_t i = 0; c.stack && i < (c.depth ? c.depth : 1); i++)
        index_discard(&c.stack[i].index);
    free(c.stack);
    free(c.buffer);
    id_set_release(&c.referenced);
    id_set_release(&c.folders);
    strbuf_release(&c.path);
    strbuf_release(&c.shown);
    strbuf_release(&c.text);
    strbuf_release(&c.scratch);
    if (summary)
        *summary = c.sum;
    if (c.failed) {
        errno = c.failed;
        return -1;
    }
    return c.problems;
}
