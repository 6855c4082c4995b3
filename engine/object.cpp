// Object ids and paths, the key and IV of every store file, and the streaming writer and
// reader of content objects (zlib stream inside AES-256-CBC, no clear-text header).
#include "object.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "async_write.h"
#include "block_deflate.h"
#include "context.h"
#include "fs.h"
#include "path.h"

static const char *const type_names[] = {NULL, "blob", "dirc"};

const char *type_name(int type)
{
    return type == OBJ_BLOB || type == OBJ_DIRC ? type_names[type] : NULL;
}

int type_from_string(const char *name, size_t len)
{
    for (int t = OBJ_BLOB; t <= OBJ_DIRC; t++)
        if (strlen(type_names[t]) == len && !memcmp(type_names[t], name, len))
            return t;
    return -1;
}

int object_format_header(char *out, const char *type, unsigned long long n)
{
    int len = snprintf(out, OBJECT_HEADER_MAX, "%s %llu", type, n);
    return len + 1;
}

int object_hash(const char *seed, unsigned long long n, const char *type, unsigned char *id)
{
    char header[OBJECT_HEADER_MAX];
    int hlen = object_format_header(header, type, n);
    struct strbuf folded = STRBUF_INIT;
    if (strbuf_addstr(&folded, seed) < 0)
        return -1;
    strbuf_tolower(&folded);
    struct sha1_ctx ctx;
    int r = -1;
    if (sha1_init(&ctx) == 0) {
        if (sha1_update(&ctx, header, (size_t)hlen) == 0 && sha1_update(&ctx, folded.buf, folded.len) == 0)
            r = sha1_final(&ctx, id);
        else
            sha1_release(&ctx);
    }
    strbuf_release(&folded);
    return r;
}

int object_path(struct strbuf *sb, const unsigned char *id)
{
    char hex[41];
    object_id_to_hex(id, hex);
    return strbuf_addf(sb, "%s/%.2s/%s", the_store->store_dir.buf, hex, hex + 2);
}

// Far more than any store reaches by seeds repeating; a store whose entries cannot be
// examined must not make the search run without end.
enum { UNIQUE_ID_TRIES = 65536 };

// Bytes 16-19 of the id, a little-endian counter, go up by one.
static void next_unique_candidate(unsigned char *id)
{
    uint32_t counter = (uint32_t)id[16] | (uint32_t)id[17] << 8 | (uint32_t)id[18] << 16 | (uint32_t)id[19] << 24;
    counter++;
    for (int i = 0; i < 4; i++)
        id[16 + i] = (unsigned char)(counter >> (8 * i));
}

int object_unique_id(struct strbuf *path, unsigned char *id)
{
    for (int tries = 0; tries < UNIQUE_ID_TRIES; tries++) {
        strbuf_reset(path);
        if (object_path(path, id) < 0)
            return -1;
        struct stat st;
        if (stat(path->buf, &st) < 0) {
            if (errno == ENOENT)
                return 0;
            return -1;
        }
        next_unique_candidate(id);
    }
    errno = EEXIST;
    return -1;
}

int cipher_key_iv(const char *path, unsigned char *key, unsigned char *iv)
{
    size_t skip = the_store->store_dir.len + 1;
    struct strbuf rel = STRBUF_INIT;
    if (strlen(path) > skip && strbuf_addstr(&rel, path + skip) < 0)
        return -1;
    static const char index_suffix[] = "index";
    static const char lock_suffix[] = ".lock";
    if (rel.len >= 5 && !strcmp(rel.buf + rel.len - 5, index_suffix))
        strbuf_setlen(&rel, rel.len - 5);
    if (rel.len >= 5 && !strcmp(rel.buf + rel.len - 5, lock_suffix))
        strbuf_setlen(&rel, rel.len - 5);

    if (!rel.len) {
        strbuf_release(&rel);
        memcpy(key, the_store->root_key, SHA1_RAWSZ);
        memset(key + SHA1_RAWSZ, 0, AES_KEYSZ - SHA1_RAWSZ);
        memset(iv, 0, AES_BLOCKSZ);
        return 0;
    }
    unsigned char id[SHA1_RAWSZ];
    int ok = rel.len == 41 && rel.buf[2] == '/';
    if (ok) {
        strbuf_remove(&rel, 2, 1);
        ok = hex_to_object_id(rel.buf, id) == 0;
    }
    strbuf_release(&rel);
    if (!ok) {
        errno = EINVAL;
        return -1;
    }
    memcpy(key, the_store->object_key, SHA1_RAWSZ);
    memcpy(key + SHA1_RAWSZ, id, 12);
    memcpy(iv, id + 12, 8);
    memcpy(iv + 8, id + 12, 8);
    return 0;
}

int cipher_setup(const char *path, struct aes_cbc *cipher, int direction)
{
    unsigned char key[AES_KEYSZ], iv[AES_BLOCKSZ];
    if (cipher_key_iv(path, key, iv) < 0)
        return -1;
    return aes_cbc_start(cipher, key, iv, direction == 1);
}

// Deletion failures are not reported, so errno stays as the caller had it.
void delete_object_file(const char *path)
{
    int saved = errno;
    struct strbuf dir = STRBUF_INIT;
    if ((fs_sys_unlink(path) == 0 || errno == ENOENT || errno == ENOTDIR) && strbuf_addstr(&dir, path) == 0) {
        for (;;) {
            char *slash = strrchr(dir.buf, '/');
            if (!slash || slash == dir.buf)
                break;
            strbuf_setlen(&dir, (size_t)(slash - dir.buf));
            if (rmdir(dir.buf) < 0)
                break;
        }
    }
    strbuf_release(&dir);
    errno = saved;
}

int write_in_full(int fd, const void *buf, size_t len)
{
    const char *p = (const char *)buf;
    while (len) {
        ssize_t n = fs_sys_write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0) {
            errno = ENOSPC;
            return -1;
        }
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

int open_creating_parent(const char *path, int flags, int retry_flags)
{
    int fd = fs_sys_open(path, flags | O_CLOEXEC, 0666);
    const char *slash = strrchr(path, '/');
    if (fd < 0 && errno == ENOENT && slash) {
        struct strbuf dir = STRBUF_INIT;
        if (strbuf_add(&dir, path, (size_t)(slash - path)) < 0)
            return -1;
        int made = mkdir(dir.buf, 0777) == 0 || errno == EEXIST;
        strbuf_release(&dir);
        if (!made)
            return -1;
        fd = fs_sys_open(path, retry_flags | O_CLOEXEC, 0666);
    }
    return fd;
}

int object_create_file(const char *path)
{
    return open_creating_parent(path, O_RDWR | O_CREAT | O_TRUNC, O_RDWR | O_CREAT | O_EXCL);
}

// The exclusive create is the uniqueness test itself: one call per new object instead of a
// look-up and then a create, which on a stick's FUSE volume is a round trip each.
int object_create_unique(struct strbuf *path, unsigned char *id)
{
    const int flags = O_RDWR | O_CREAT | O_EXCL;
    for (int tries = 0; tries < UNIQUE_ID_TRIES; tries++) {
        strbuf_reset(path);
        if (object_path(path, id) < 0)
            return -1;
        int fd = open_creating_parent(path->buf, flags, flags);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        next_unique_candidate(id);
    }
    errno = EEXIST;
    return -1;
}

// Drains this large go to the background writer; small objects never start its thread.
enum { ASYNC_DRAIN_MIN = 262144 };

static int writer_start_io(struct object_writer *w)
{
    w->spare = (unsigned char *)malloc(OBJECT_WRITER_BUFSZ);
    if (!w->spare)
        return -1;
    w->io = async_writer_new(w->fd);
    if (!w->io) {
        free(w->spare);
        w->spare = NULL;
        return -1;
    }
    return 0;
}

// In memory mode the stream's buffer doubles when full; grow forces it, for a level switch
// that needs room.
static int memory_grow(struct object_writer *w, int grow)
{
    if (w->z->avail_out && !grow)
        return 0;
    size_t used = (size_t)(w->z->next_out - *w->mem);
    if (buffer_reserve(w->mem, w->mem_cap, *w->mem_cap * 2 + 4096) < 0)
        return -1;
    w->z->next_out = *w->mem + used;
    size_t room = *w->mem_cap - used;
    w->z->avail_out = (uInt)(room > (1u << 30) ? (1u << 30) : room);
    return 0;
}

// Encrypts and writes the whole 16-byte blocks of the output buffer; keeps the rest.
static int writer_drain(struct object_writer *w)
{
    if (w->mem)
        return memory_grow(w, 0);
    size_t have = OBJECT_WRITER_BUFSZ - w->z->avail_out;
    size_t whole = have & ~(size_t)(AES_BLOCKSZ - 1);
    if (whole) {
        if (aes_cbc_update(&w->cipher, w->out, w->out, whole) < 0)
            return -1;
        if (whole >= ASYNC_DRAIN_MIN && (w->io || writer_start_io(w) == 0)) {
            // The spare buffer is free once the write before is done.
            if (async_writer_wait(w->io) < 0)
                return -1;
            unsigned char *next = w->spare;
            memcpy(next, w->out + whole, have - whole);
            if (async_writer_submit(w->io, w->out, whole) < 0)
                return -1;
            w->spare = w->out;
            w->out = next;
        } else {
            if ((w->io && async_writer_wait(w->io) < 0) || write_in_full(w->fd, w->out, whole) < 0)
                return -1;
            memmove(w->out, w->out + whole, have - whole);
        }
    }
    w->carried = have - whole;
    w->z->next_out = w->out + w->carried;
    w->z->avail_out = (uInt)(OBJECT_WRITER_BUFSZ - w->carried);
    return 0;
}

static int writer_deflate(struct object_writer *w, int flush)
{
    for (;;) {
        int ret = deflate(w->z, flush);
        if (ret == Z_STREAM_ERROR) {
            errno = EINVAL;
            return -1;
        }
        // A block flush is complete only when deflate stopped with room to spare.
        int filled = w->z->avail_out == 0;
        if (writer_drain(w) < 0)
            return -1;
        if (flush == Z_FINISH ? ret == Z_STREAM_END : w->z->avail_in == 0 && (flush == Z_NO_FLUSH || !filled))
            return 0;
    }
}

static std::atomic<int> writer_threads{0};

void fs_set_deflate_threads(int n)
{
    writer_threads = n;
}

static int serial_write(struct object_writer *w, const void *bytes, size_t len);

// A finished writer's zlib state (reset, at level 1) and buffers, for the next object: many
// small files then cost no setting up and tearing down of zlib and buffers each.
struct writer_parts {
    z_stream *z;
    unsigned char *out, *pending;
};

static std::atomic<struct writer_parts *> spare_parts{nullptr};

static void parts_free(struct writer_parts *p)
{
    if (!p)
        return;
    if (p->z)
        deflateEnd(p->z);
    free(p->z);
    free(p->out);
    free(p->pending);
    free(p);
}

// Keeps the writer's zlib state and buffers as the spare, or frees them.
static void parts_park(struct object_writer *w)
{
    unsigned char *pending = w->pending ? w->pending : w->pending_idle;
    struct writer_parts *p = NULL;
    if (w->z && w->z_active && w->out && deflateReset(w->z) == Z_OK &&
        deflateParams(w->z, 1, Z_DEFAULT_STRATEGY) == Z_OK)
        p = (struct writer_parts *)malloc(sizeof(*p));
    if (p) {
        p->z = w->z;
        p->out = w->out;
        p->pending = pending;
        parts_free(spare_parts.exchange(p));
    } else {
        if (w->z_active)
            deflateEnd(w->z);
        free(w->z);
        free(w->out);
        free(pending);
    }
    w->z = NULL;
    w->z_active = 0;
    w->out = NULL;
    w->pending = w->pending_idle = NULL;
}

// The zlib state and buffers of a new writer, from the spare when there is one.
static int parts_take(struct object_writer *w, int parallel)
{
    struct writer_parts *p = spare_parts.exchange(nullptr);
    if (p) {
        w->z = p->z;
        w->z_active = 1;
        w->out = p->out;
        w->pending = p->pending;
        free(p);
    }
    if (!w->out)
        w->out = (unsigned char *)malloc(OBJECT_WRITER_BUFSZ);
    if (parallel && !w->pending)
        w->pending = (unsigned char *)malloc(BLOCK_DEFLATE_SIZE);
    if (!parallel && w->pending) {
        free(w->pending);
        w->pending = NULL;
    }
    if (!w->z)
        w->z = (z_stream *)calloc(1, sizeof(*w->z));
    if (!w->out || (parallel && !w->pending) || !w->z) {
        errno = ENOMEM;
        return -1;
    }
    if (!w->z_active) {
        if (deflateInit(w->z, 1) != Z_OK) {
            errno = ENOMEM;
            return -1;
        }
        w->z_active = 1;
    }
    return 0;
}

int object_writer_start(struct object_writer *w, int fd, const char *path, const char *header,
                        size_t header_len)
{
    memset(w, 0, sizeof(*w));
    w->fd = fd;
    int parallel = writer_threads >= 0;
    if (parts_take(w, parallel) < 0) {
        int saved = errno;
        object_writer_release(w);
        errno = saved;
        return -1;
    }
    w->level = 1;
    w->z->next_out = w->out;
    w->z->avail_out = OBJECT_WRITER_BUFSZ;
    if (cipher_setup(path, &w->cipher, 1) < 0) {
        object_writer_release(w);
        return -1;
    }
    if (parallel) {
        memcpy(w->pending, header, header_len);
        w->pending_len = w->header_len = header_len;
        return 0;
    }
    // The header is not content: it must not take the first chunk's decision.
    if (serial_write(w, header, header_len) < 0)
        return -1;
    w->chunk_left = 0;
    return 0;
}

// Switches the stream's level; zlib ends the current block first, which may need room.
static int writer_set_level(struct object_writer *w, int level)
{
    w->z->avail_in = 0;
    for (int tries = 0; tries < 64; tries++) {
        int ret = deflateParams(w->z, level, Z_DEFAULT_STRATEGY);
        if (ret == Z_OK) {
            w->level = level;
            return 0;
        }
        if (ret != Z_BUF_ERROR)
            break;
        if ((w->mem ? memory_grow(w, 1) : writer_drain(w)) < 0)
            return -1;
    }
    errno = EIO;
    return -1;
}

// Deflates the start of a chunk at level 1 and ends the block, so the output shows how well it
// compressed: the sample is real output, not work done twice.
static int writer_sample(struct object_writer *w, const unsigned char *p, size_t n, int *compresses)
{
    if (w->level != 1 && writer_set_level(w, 1) < 0)
        return -1;
    uLong out_before = w->z->total_out;
    w->z->next_in = (Bytef *)p;
    w->z->avail_in = (uInt)n;
    if (writer_deflate(w, Z_BLOCK) < 0)
        return -1;
    *compresses = object_sample_shrinks(w->z->total_out - out_before, n);
    return 0;
}

static int serial_write(struct object_writer *w, const void *bytes, size_t len)
{
    const unsigned char *p = (const unsigned char *)bytes;
    while (len) {
        if (!w->chunk_left && len >= OBJECT_SAMPLE_MIN) {
            size_t n = len < (size_t)OBJECT_SAMPLE ? len : (size_t)OBJECT_SAMPLE;
            int compresses = 1;
            if (writer_sample(w, p, n, &compresses) < 0 || (!compresses && writer_set_level(w, 0) < 0))
                return -1;
            w->chunk_left = OBJECT_CHUNK - n;
            p += n;
            len -= n;
            continue;
        }
        size_t piece = len > (1u << 30) ? (1u << 30) : len;
        if (w->chunk_left && piece > w->chunk_left)
            piece = (size_t)w->chunk_left;
        w->z->next_in = (Bytef *)p;
        w->z->avail_in = (uInt)piece;
        if (writer_deflate(w, Z_NO_FLUSH) < 0)
            return -1;
        w->chunk_left -= w->chunk_left ? piece : 0;
        p += piece;
        len -= piece;
    }
    return 0;
}

// The pending bytes go into the single stream, the header on its own as the writer always did.
static int serial_take_pending(struct object_writer *w)
{
    int r = 0;
    if (w->pending_len) {
        r = serial_write(w, w->pending, w->header_len);
        w->chunk_left = 0;
        if (r == 0)
            r = serial_write(w, w->pending + w->header_len, w->pending_len - w->header_len);
    }
    w->pending_idle = w->pending;
    w->pending = NULL;
    w->pending_len = 0;
    return r;
}

// Each thread keeps 2 blocks of about 2 MiB in flight: past 8 the memory grows, not the speed
// a removable volume takes.
enum { WRITER_THREADS_MAX = 8 };

static int threads_wanted(void)
{
    int n = writer_threads;
    if (n > 0)
        return n;
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores > WRITER_THREADS_MAX ? WRITER_THREADS_MAX : (int)cores;
}

// Hands the object to the block compressor; the single stream, never used, goes.
static int start_blocks(struct object_writer *w)
{
    w->blocks = block_deflate_new(w->fd, &w->cipher, threads_wanted());
    if (!w->blocks)
        return serial_take_pending(w);  // slower, still correct
    // The unused single stream and buffers stay for the next object.
    int r = block_deflate_write(w->blocks, w->pending, w->pending_len);
    w->pending_idle = w->pending;
    w->pending = NULL;
    w->pending_len = 0;
    return r;
}

int object_writer_write(struct object_writer *w, const void *bytes, size_t len)
{
    if (w->sealed) {
        errno = EINVAL;
        return -1;
    }
    w->content_len += len;
    if (w->pending && len <= BLOCK_DEFLATE_SIZE - w->pending_len) {
        memcpy(w->pending + w->pending_len, bytes, len);
        w->pending_len += len;
        return 0;
    }
    if (w->pending && start_blocks(w) < 0)
        return -1;
    return w->blocks ? block_deflate_write(w->blocks, bytes, len) : serial_write(w, bytes, len);
}

static int blocks_finish(struct object_writer *w)
{
    int r = block_deflate_finish(w->blocks);
    int saved = errno;
    object_writer_release(w);
    errno = saved;
    return r;
}

int object_writer_finish(struct object_writer *w)
{
    if (w->sealed) {
        int failed = w->sealed_errno;
        object_writer_release(w);
        errno = failed;
        return failed ? -1 : 0;
    }
    if (w->blocks)
        return blocks_finish(w);
    if (w->pending && serial_take_pending(w) < 0) {
        int saved = errno;
        object_writer_release(w);
        errno = saved;
        return -1;
    }
    w->z->avail_in = 0;
    int r = writer_deflate(w, Z_FINISH);
    if (r == 0 && w->io && async_writer_wait(w->io) < 0)
        r = -1;
    if (r == 0 && w->carried) {
        memset(w->out + w->carried, 0, AES_BLOCKSZ - w->carried);
        if (aes_cbc_update(&w->cipher, w->out, w->out, AES_BLOCKSZ) < 0 ||
            write_in_full(w->fd, w->out, AES_BLOCKSZ) < 0)
            r = -1;
        w->carried = 0;
    }
    if (w->io && async_writer_close(w->io) < 0 && r == 0)
        r = -1;
    w->io = NULL;
    int saved = errno;
    object_writer_release(w);
    errno = saved;
    return r;
}

void object_writer_release(struct object_writer *w)
{
    block_deflate_free(w->blocks);  // before the cipher it uses
    w->blocks = NULL;
    async_writer_close(w->io);  // its result is the caller's to ask for before this
    w->io = NULL;
    free(w->spare);
    w->spare = NULL;
    parts_park(w);
    aes_cbc_release(&w->cipher);
}

int object_writer_put_deflated(struct object_writer *w, const void *stream, size_t len)
{
    if (w->sealed || w->blocks || w->mem || w->content_len || !w->out) {
        errno = EINVAL;
        return -1;
    }
    w->sealed = 1;  // the writer's own stream, holding the header at most, is dropped
    const unsigned char *p = (const unsigned char *)stream;
    while (len) {
        size_t piece = len < (size_t)OBJECT_WRITER_BUFSZ ? len : (size_t)OBJECT_WRITER_BUFSZ;
        size_t padded = (piece + AES_BLOCKSZ - 1) & ~(size_t)(AES_BLOCKSZ - 1);
        memcpy(w->out, p, piece);
        memset(w->out + piece, 0, padded - piece);
        if (aes_cbc_update(&w->cipher, w->out, w->out, padded) < 0 ||
            write_in_full(w->fd, w->out, padded) < 0) {
            w->sealed_errno = errno ? errno : EIO;
            return -1;
        }
        p += piece;
        len -= piece;
    }
    return 0;
}

int buffer_reserve(unsigned char **buf, size_t *cap, size_t need)
{
    if (*cap >= need)
        return 0;
    unsigned char *bigger = (unsigned char *)realloc(*buf, need);
    if (!bigger) {
        errno = ENOMEM;
        return -1;
    }
    *buf = bigger;
    *cap = need;
    return 0;
}

int object_deflate_to_memory(struct object_writer *w, const char *header, size_t header_len,
                             const void *content, size_t len, unsigned char **buf, size_t *cap,
                             size_t *out_len)
{
    if (!w->z_active || header_len + len > BLOCK_DEFLATE_SIZE) {
        errno = EINVAL;
        return -1;
    }
    z_stream *z = w->z;
    memset(w, 0, sizeof(*w));
    w->z = z;
    w->z_active = 1;
    w->fd = -1;
    w->level = 1;
    w->mem = buf;
    w->mem_cap = cap;
    if (buffer_reserve(buf, cap, deflateBound(z, (uLong)(header_len + len)) + 64) < 0)
        return -1;
    z->next_out = *buf;
    z->avail_out = (uInt)*cap;
    // As serial_take_pending feeds it: the header on its own, then the content.
    int r = serial_write(w, header, header_len);
    w->chunk_left = 0;
    if (r == 0)
        r = serial_write(w, content, len);
    z->avail_in = 0;
    if (r == 0)
        r = writer_deflate(w, Z_FINISH);
    if (r == 0)
        *out_len = (size_t)(z->next_out - *buf);
    int saved = errno;
    if (deflateReset(z) != Z_OK || deflateParams(z, 1, Z_DEFAULT_STRATEGY) != Z_OK) {
        deflateEnd(z);
        w->z_active = deflateInit(z, 1) == Z_OK;
    }
    w->mem = NULL;
    w->mem_cap = NULL;
    errno = saved;
    return w->z_active ? r : -1;
}

enum stream_state { STREAM_INFLATING, STREAM_DONE, STREAM_FAILED };

struct object_stream {
    uint64_t declared_size;
    z_stream z;
    int z_active;
    int state;
    int ended_in_header;  // the whole zlib stream fitted in the header inflate
    unsigned char *map;
    size_t map_len;
    size_t consumed;
    unsigned char header[OBJECT_HEADER_MAX];
    size_t header_avail, header_used;
    unsigned char window[OBJECT_READ_WINDOW];
    struct aes_cbc cipher;
};

// Decrypts the next piece of the mapping into the window; 0 when no whole block is left.
static size_t stream_refill(struct object_stream *s)
{
    size_t left = s->map_len - s->consumed;
    size_t n = left < (size_t)OBJECT_READ_WINDOW ? left : (size_t)OBJECT_READ_WINDOW;
    n &= ~(size_t)(AES_BLOCKSZ - 1);
    if (!n)
        return 0;
    if (aes_cbc_update(&s->cipher, s->map + s->consumed, s->window, n) < 0)
        return 0;
    s->consumed += n;
    s->z.next_in = s->window;
    s->z.avail_in = (uInt)n;
    return n;
}

static void stream_end_inflate(struct object_stream *s)
{
    if (s->z_active)
        inflateEnd(&s->z);
    s->z_active = 0;
}

// One closed stream kept with its inflate state, so exporting many small objects resets zlib
// instead of setting it up and tearing it down per object.
static std::atomic<struct object_stream *> spare_stream{nullptr};

static void stream_free(struct object_stream *s)
{
    if (!s)
        return;
    stream_end_inflate(s);
    free(s);
}

void object_stream_close(struct object_stream *s)
{
    if (!s)
        return;
    if (s->map)
        munmap(s->map, s->map_len);
    s->map = NULL;
    aes_cbc_release(&s->cipher);
    if (s->z_active && inflateReset(&s->z) == Z_OK)
        stream_free(spare_stream.exchange(s));
    else
        stream_free(s);
}

// A stream with inflate ready, from the spare when there is one; NULL when memory is lacking.
static struct object_stream *stream_take(void)
{
    struct object_stream *s = spare_stream.exchange(nullptr);
    if (s) {
        z_stream z = s->z;
        memset(s, 0, sizeof(*s));
        s->z = z;
        s->z_active = 1;
        return s;
    }
    s = (struct object_stream *)calloc(1, sizeof(*s));
    if (s && inflateInit(&s->z) != Z_OK) {
        free(s);
        return NULL;
    }
    if (s)
        s->z_active = 1;
    return s;
}

// "<type> <digits>\0": digits without a leading zero unless "0" alone.
static int parse_header(const unsigned char *h, size_t len, int *type, uint64_t *size)
{
    const unsigned char *space = (const unsigned char *)memchr(h, ' ', len);
    if (!space)
        return -1;
    int t = type_from_string((const char *)h, (size_t)(space - h));
    if (t < 0)
        return -1;
    const unsigned char *p = space + 1;
    const unsigned char *end = h + len - 1;  // the zero byte
    if (p >= end || *p < '0' || *p > '9' || (*p == '0' && p + 1 != end))
        return -1;
    uint64_t n = 0;
    for (; p < end; p++) {
        if (*p < '0' || *p > '9' || n > (UINT64_MAX - 9) / 10)
            return -1;
        n = n * 10 + (uint64_t)(*p - '0');
    }
    *type = t;
    *size = n;
    return 0;
}

struct object_stream *object_stream_open_path(const char *path, int *type_out)
{
    int fd = fs_sys_open_regular(path, O_RDONLY);
    if (fd < 0)
        return NULL;
    struct stat st;
    int status = fstat(fd, &st);
    if (status < 0 || st.st_size <= 0) {
        int saved = status < 0 ? errno : EIO;
        close(fd);
        errno = saved;
        return NULL;
    }
    struct object_stream *s = stream_take();
    if (!s) {
        close(fd);
        errno = ENOMEM;
        return NULL;
    }
    s->map_len = (size_t)st.st_size;
    void *map = mmap(NULL, s->map_len, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        int saved = errno;
        s->map = NULL;
        object_stream_close(s);
        errno = saved;
        return NULL;
    }
    s->map = (unsigned char *)map;
    if (cipher_setup(path, &s->cipher, 0) < 0) {
        object_stream_close(s);
        errno = ENOMEM;
        return NULL;
    }
    stream_refill(s);
    s->z.next_out = s->header;
    s->z.avail_out = OBJECT_HEADER_MAX;
    int ret = inflate(&s->z, Z_NO_FLUSH);
    size_t produced = OBJECT_HEADER_MAX - s->z.avail_out;
    const unsigned char *zero = (const unsigned char *)memchr(s->header, 0, produced);
    int type;
    if ((ret != Z_OK && ret != Z_STREAM_END) || !zero ||
        parse_header(s->header, (size_t)(zero - s->header) + 1, &type, &s->declared_size) < 0) {
        object_stream_close(s);
        errno = EIO;
        return NULL;
    }
    s->header_used = (size_t)(zero - s->header) + 1;
    s->header_avail = produced;
    s->ended_in_header = ret == Z_STREAM_END;
    s->state = STREAM_INFLATING;
    if (type_out)
        *type_out = type;
    return s;
}

struct object_stream *object_stream_open(const unsigned char *id, int *type_out)
{
    struct strbuf path = STRBUF_INIT;
    if (object_path(&path, id) < 0)
        return NULL;
    struct object_stream *s = object_stream_open_path(path.buf, type_out);
    int saved = errno;
    strbuf_release(&path);
    errno = saved;
    return s;
}

uint64_t object_stream_declared_size(const struct object_stream *s)
{
    return s->declared_size;
}

ssize_t object_stream_read(struct object_stream *s, void *buf, size_t len)
{
    if (s->state == STREAM_FAILED) {
        errno = EIO;
        return -1;
    }
    unsigned char *out = (unsigned char *)buf;
    size_t delivered = 0;
    if (s->header_used < s->header_avail) {
        size_t n = s->header_avail - s->header_used;
        if (n > len)
            n = len;
        memcpy(out, s->header + s->header_used, n);
        s->header_used += n;
        delivered = n;
    }
    if (s->state == STREAM_DONE)
        return (ssize_t)delivered;
    if (s->ended_in_header) {
        if (s->header_used == s->header_avail)
            s->state = STREAM_DONE;  // inflate stays set up for the next stream
        return (ssize_t)delivered;
    }
    while (delivered < len) {
        if (!s->z.avail_in)
            stream_refill(s);
        size_t want = len - delivered;
        uInt room = want > (1u << 30) ? (1u << 30) : (uInt)want;
        s->z.next_out = out + delivered;
        s->z.avail_out = room;
        int ret = inflate(&s->z, Z_NO_FLUSH);
        delivered += room - s->z.avail_out;
        if (ret == Z_STREAM_END) {
            s->state = STREAM_DONE;
            return (ssize_t)delivered;
        }
        if (ret != Z_OK) {
            // Z_BUF_ERROR: the ciphertext ended before the zlib stream did.
            stream_end_inflate(s);
            s->state = STREAM_FAILED;
            errno = EIO;
            return -1;
        }
    }
    return (ssize_t)delivered;
}
