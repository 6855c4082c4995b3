// Compressing a small file's content before its object exists: the deflate does not depend
// on the object's id, only the encryption does, so callers can run it on threads of their
// own while the engine writes other files.
//
// Content that compresses goes through libdeflate, about twice as fast as zlib at level 1 and
// a little smaller; its zlib stream is read like any other. libdeflate is slow on data that
// does not shrink, so content whose start does not shrink takes zlib's writer, which stores
// such chunks.
#include <errno.h>
#include <libdeflate.h>
#include <stdlib.h>
#include <string.h>

#include "block_deflate.h"
#include "fs.h"
#include "object.h"

static_assert(FS_DEFLATE_MAX + OBJECT_HEADER_MAX <= BLOCK_DEFLATE_SIZE,
              "a file compressed ahead must end within one block, where the writer keeps one stream");

// Content this long or more is judged by its first JUDGE_SAMPLE bytes before libdeflate takes
// it; below, libdeflate's cost on noise is small anyway.
enum { JUDGE_MIN = 16384, JUDGE_SAMPLE = 4096 };

struct fs_deflater {
    struct object_writer w;  // zlib's, for content that does not compress
    struct libdeflate_compressor *fast;
    unsigned char *joined;  // the object header, then the content: one stream
    size_t joined_cap;
    unsigned char sample_out[JUDGE_SAMPLE + 64];
};

struct fs_deflater *fs_deflater_new(void)
{
    struct fs_deflater *d = (struct fs_deflater *)calloc(1, sizeof(*d));
    if (d) {
        d->w.z = (z_stream *)calloc(1, sizeof(*d->w.z));
        d->fast = libdeflate_alloc_compressor(1);
    }
    if (!d || !d->w.z || !d->fast || deflateInit(d->w.z, 1) != Z_OK) {
        if (d) {
            free(d->w.z);
            if (d->fast)
                libdeflate_free_compressor(d->fast);
        }
        free(d);
        errno = ENOMEM;
        return NULL;
    }
    d->w.z_active = 1;
    return d;
}

static int compresses(struct fs_deflater *d, const void *content, uint32_t size)
{
    if (size < JUDGE_MIN)
        return 1;
    size_t out = libdeflate_deflate_compress(d->fast, content, JUDGE_SAMPLE, d->sample_out, sizeof(d->sample_out));
    return out && object_sample_shrinks(out, JUDGE_SAMPLE);
}

static int deflate_fast(struct fs_deflater *d, const char *header, size_t hlen, const void *content,
                        uint32_t size, unsigned char **stream, size_t *capacity, size_t *length)
{
    const size_t n = hlen + size;
    if (buffer_reserve(&d->joined, &d->joined_cap, n) < 0 ||
        buffer_reserve(stream, capacity, libdeflate_zlib_compress_bound(d->fast, n)) < 0)
        return -1;
    memcpy(d->joined, header, hlen);
    if (size)
        memcpy(d->joined + hlen, content, size);
    *length = libdeflate_zlib_compress(d->fast, d->joined, n, *stream, *capacity);
    if (!*length) {  // cannot happen with the bound's room
        errno = EIO;
        return -1;
    }
    return 0;
}

int fs_deflate_content(struct fs_deflater *d, const void *content, uint32_t size, unsigned char **stream,
                       size_t *capacity, size_t *length)
{
    if (!d || !d->w.z_active || size > FS_DEFLATE_MAX || (size && !content) || !stream || !capacity ||
        !length) {
        errno = EINVAL;
        return -1;
    }
    char header[OBJECT_HEADER_MAX];
    int hlen = object_format_header(header, "blob", size);
    if (compresses(d, content, size))
        return deflate_fast(d, header, (size_t)hlen, content, size, stream, capacity, length);
    return object_deflate_to_memory(&d->w, header, (size_t)hlen, content, size, stream, capacity, length);
}

void fs_deflater_free(struct fs_deflater *d)
{
    if (!d)
        return;
    if (d->w.z_active)
        deflateEnd(d->w.z);
    free(d->w.z);
    libdeflate_free_compressor(d->fast);
    free(d->joined);
    free(d);
}
