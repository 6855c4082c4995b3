// Objects: content and folder indexes stored as encrypted files named by 20-byte ids.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <zlib.h>

#include "crypto.h"
#include "strbuf.h"

enum object_type { OBJ_NONE = 0, OBJ_BLOB = 1, OBJ_DIRC = 2 };
enum { OBJECT_HEADER_MAX = 32, OBJECT_WRITER_BUFSZ = 2097152, OBJECT_READ_WINDOW = 4096 };

const char *type_name(int type);
int type_from_string(const char *name, size_t len);

// Header text "<type> <n>" with its terminating zero byte; returns the length counting that byte.
int object_format_header(char *out, const char *type, unsigned long long n);
int object_hash(const char *seed, unsigned long long n, const char *type, unsigned char *id);
int object_unique_id(struct strbuf *path, unsigned char *id);
int object_path(struct strbuf *sb, const unsigned char *id);

// Key and IV of a store file: the root key for the root index, else object key + id.
int cipher_key_iv(const char *path, unsigned char *key, unsigned char *iv);
int cipher_setup(const char *path, struct aes_cbc *cipher, int direction);

// Deletes an object file, then its now-empty parent directories up to the first that stays.
void delete_object_file(const char *path);

int write_in_full(int fd, const void *buf, size_t len);
// Grows *buf (of *cap bytes, NULL and 0 at first) with realloc to hold at least need bytes;
// -1 with ENOMEM, the buffer then unchanged.
int buffer_reserve(unsigned char **buf, size_t *cap, size_t need);

// Input is judged per OBJECT_CHUNK bytes: its first OBJECT_SAMPLE bytes are deflated at level 1,
// and when they did not shrink by 3% the rest of the chunk is stored (level 0). Either way the object
// stays one zlib stream, so every reader takes it unchanged.
enum { OBJECT_CHUNK = 2097152, OBJECT_SAMPLE = 32768, OBJECT_SAMPLE_MIN = 4096 };
// Whether a sample of in bytes that deflated to out bytes counts as compressing (by 3%).
static inline int object_sample_shrinks(size_t out, size_t in)
{
    return out * 100 < in * 97;
}

struct block_deflate;

struct object_writer {
    int fd;
    // Content not yet given to a compressor: an object that ends within one block is written
    // in one stream on the caller's thread, a larger one by the block compressor.
    unsigned char *pending;
    unsigned char *pending_idle;  // the pending buffer once its bytes were taken, kept for reuse
    size_t pending_len, header_len;
    struct block_deflate *blocks;
    z_stream *z;  // on the heap, so a finished writer's state can be kept for the next
    int z_active;
    int level;  // of the stream now: 1, or 0 for a chunk that did not shrink
    uint64_t chunk_left;  // input bytes until the next decision
    unsigned char *out;  // OBJECT_WRITER_BUFSZ bytes of compressed output
    // Large objects: the previous output buffer, being written by io's thread meanwhile.
    struct async_writer *io;
    unsigned char *spare;
    size_t carried;  // 0..15 bytes kept at the start of out between drains
    struct aes_cbc cipher;
    uint64_t content_len;  // bytes given to object_writer_write
    int sealed;  // the whole stream was put in by object_writer_put_deflated
    int sealed_errno;  // its write failed with this: the object is incomplete
    // Memory mode (object_deflate_to_memory): no file, no cipher; the stream grows in *mem.
    unsigned char **mem;
    size_t *mem_cap;
};

// Opens path (mode 0666); when its parent directory is missing, creates it (0777) and opens
// again with retry_flags.
int open_creating_parent(const char *path, int flags, int retry_flags);
int object_create_file(const char *path);
// Creates the object file of the first id from id on (made unique as object_unique_id does)
// whose path does not exist, exclusively; id and path are left naming it. Descriptor or -1.
int object_create_unique(struct strbuf *path, unsigned char *id);
int object_writer_start(struct object_writer *w, int fd, const char *path, const char *header,
                        size_t header_len);
int object_writer_write(struct object_writer *w, const void *bytes, size_t len);
int object_writer_finish(struct object_writer *w);
void object_writer_release(struct object_writer *w);

// Encrypts and writes stream, a complete zlib stream with its header, as the whole object,
// padded as object_writer_finish pads; only on a writer given no content yet. After it,
// object_writer_finish only releases, and fails again when this failed. -1 with EINVAL when
// content was already given.
int object_writer_put_deflated(struct object_writer *w, const void *stream, size_t len);

// Makes in memory the stream the writer makes of header and content for an object that ends
// within one block (header_len + len <= BLOCK_DEFLATE_SIZE): the same calls, so the same bytes.
// w is a writer used only for this, whose z is set up (z_active) at level 1, and is again when
// this returns 0. *buf (malloc'd, *cap bytes) grows as needed; *out_len gets the length.
int object_deflate_to_memory(struct object_writer *w, const char *header, size_t header_len,
                             const void *content, size_t len, unsigned char **buf, size_t *cap,
                             size_t *out_len);

struct object_stream;
struct object_stream *object_stream_open(const unsigned char *id, int *type_out);
struct object_stream *object_stream_open_path(const char *path, int *type_out);
uint64_t object_stream_declared_size(const struct object_stream *s);
ssize_t object_stream_read(struct object_stream *s, void *buf, size_t len);
void object_stream_close(struct object_stream *s);
