// One zlib stream compressed in independent 1 MiB blocks on several threads, then encrypted
// and written in order by one more thread, so the caller only copies its bytes in.
//
// Each block is raw deflate primed with the 32 KiB before it and ended with a sync flush (the
// last with the final block); the stream starts 78 01 and ends with the Adler-32 of all input,
// combined from the blocks'. Any zlib reader takes it as one stream. A block whose first
// 4 KiB do not shrink by 3% at level 1 is stored (level 0): on noise, level 1 runs at a twentieth
// of the cipher's speed, so a larger sample would cost about as much as the encryption.
//
// No engine state is touched by the threads: only the buffers, the cipher and the file.
// At most 2 blocks per thread are in flight, so memory is bounded whatever the file's size.
#pragma once

#include <stddef.h>

#include "crypto.h"

enum { BLOCK_DEFLATE_SIZE = 1048576, BLOCK_DEFLATE_DICT = 32768, BLOCK_DEFLATE_SAMPLE = 4096 };

struct block_deflate;

// Starts threads compressing for fd through cipher, which the caller keeps alive and leaves
// alone until block_deflate_finish or block_deflate_free returns. threads >= 1. NULL with errno
// when memory or threads are lacking.
struct block_deflate *block_deflate_new(int fd, struct aes_cbc *cipher, int threads);
// Copies len bytes in; waits while every block is in flight. -1 with the errno of the first
// failure (a failed write, or ENOMEM), which every later call returns too.
int block_deflate_write(struct block_deflate *b, const void *bytes, size_t len);
// Ends the stream, pads it to 16 bytes and waits until all of it is written; 0 or -1 as above.
int block_deflate_finish(struct block_deflate *b);
// Stops the threads (each ends the block it is on) and frees everything; what was not
// finished is left half written, for the caller to delete.
void block_deflate_free(struct block_deflate *b);
