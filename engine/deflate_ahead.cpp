// Compressing a small file's content before its object exists: the deflate does not depend
// on the object's id, only the encryption does, so callers can run it on threads of their
// own while the engine writes other files.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "block_deflate.h"
#include "fs.h"
#include "object.h"

static_assert(FS_DEFLATE_MAX + OBJECT_HEADER_MAX <= BLOCK_DEFLATE_SIZE,
              "a file compressed ahead must end within one block, where the writer keeps one stream");

struct fs_deflater {
    struct object_writer w;
};

struct fs_deflater *fs_deflater_new(void)
{
    struct fs_deflater *d = (struct fs_deflater *)calloc(1, sizeof(*d));
    if (d)
        d->w.z = (z_stream *)calloc(1, sizeof(*d->w.z));
    if (!d || !d->w.z || deflateInit(d->w.z, 1) != Z_OK) {
        if (d)
            free(d->w.z);
        free(d);
        errno = ENOMEM;
        return NULL;
    }
    d->w.z_active = 1;
    return d;
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
    return object_deflate_to_memory(&d->w, header, (size_t)hlen, content, size, stream, capacity, length);
}

void fs_deflater_free(struct fs_deflater *d)
{
    if (!d)
        return;
    if (d->w.z_active)
        deflateEnd(d->w.z);
    free(d->w.z);
    free(d);
}
