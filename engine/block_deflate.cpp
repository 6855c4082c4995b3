#include "block_deflate.h"

#include <errno.h>
#include <string.h>
#include <zlib.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "adler.h"
#include "async_write.h"
#include "object.h"

namespace {

enum slot_state { SLOT_FREE, SLOT_FILLING, SLOT_QUEUED, SLOT_WORKING, SLOT_DONE };

// Room before a block's output where the cipher's leftover bytes of the block before go, so
// they are encrypted with it without a copy of the whole block.
constexpr size_t kLead = 32;
// Level 1 on noise grows a little, stored blocks by 5 bytes per 16 KiB at worst.
constexpr size_t kOutCap = BLOCK_DEFLATE_SIZE + (BLOCK_DEFLATE_SIZE >> 8) + 1024;

struct slot {
    unsigned char *in = nullptr;
    size_t in_len = 0;
    unsigned char dict[BLOCK_DEFLATE_DICT];
    size_t dict_len = 0;
    unsigned char *out = nullptr;  // kLead bytes, then the block's deflate output
    size_t out_len = 0;
    uLong adler = 1;
    int last = 0;
    int state = SLOT_FREE;
    unsigned long long seq = 0;
    ~slot()
    {
        delete[] in;
        delete[] out;
    }
};

}  // namespace

struct block_deflate {
    int fd = -1;
    aes_cbc *cipher = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    std::unique_ptr<slot[]> slots;  // block number seq lives in slots[seq % count]
    size_t count = 0;
    std::vector<std::thread> threads;
    // The caller's side.
    unsigned long long filling = 0;
    slot *current = nullptr;
    // Under lock.
    unsigned long long next_compress = 0;
    unsigned long long next_write = 0;
    int quit = 0;
    int done = 0;  // the last block and the trailer are written
    int error = 0;  // errno of the first failure
    // The writing thread's alone.
    unsigned char carry[kLead];
    size_t carried = 0;
    uLong adler = 1;

    slot &of(unsigned long long seq) { return slots[seq % count]; }
};

namespace {

// All of the input and the flush must fit the output at once: the buffer is sized for it.
int run(z_stream *z, const unsigned char *p, size_t n, int flush)
{
    z->next_in = (Bytef *)p;
    z->avail_in = (uInt)n;
    int ret = deflate(z, flush);
    if (ret == Z_STREAM_ERROR || z->avail_in || (flush == Z_FINISH ? ret != Z_STREAM_END : z->avail_out == 0))
        return -1;
    return 0;
}

int compress_block(z_stream *fast, z_stream *stored, slot *s)
{
    unsigned char *out = s->out + kLead;
    const int flush = s->last ? Z_FINISH : Z_SYNC_FLUSH;
    s->adler = adler32_fast(1, s->in, s->in_len);
    if (deflateReset(fast) != Z_OK ||
        (s->dict_len && deflateSetDictionary(fast, s->dict, (uInt)s->dict_len) != Z_OK))
        return -1;
    fast->next_out = out;
    fast->avail_out = (uInt)kOutCap;
    size_t sample = 0;
    bool compresses = true;
    if (s->in_len >= OBJECT_SAMPLE_MIN) {
        sample = s->in_len < (size_t)BLOCK_DEFLATE_SAMPLE ? s->in_len : (size_t)BLOCK_DEFLATE_SAMPLE;
        if (run(fast, s->in, sample, Z_BLOCK) < 0)
            return -1;
        compresses = object_sample_shrinks(fast->total_out, sample);
    }
    if (compresses) {
        if (run(fast, s->in + sample, s->in_len - sample, flush) < 0)
            return -1;
        s->out_len = fast->total_out;
        return 0;
    }
    // Stored blocks refer to nothing before them, so they need no dictionary.
    if (deflateReset(stored) != Z_OK)
        return -1;
    stored->next_out = out;
    stored->avail_out = (uInt)kOutCap;
    if (run(stored, s->in, s->in_len, flush) < 0)
        return -1;
    s->out_len = stored->total_out;
    return 0;
}

void compress_loop(block_deflate *b)
{
    z_stream fast{}, stored{};
    const bool fast_ok = deflateInit2(&fast, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    const bool stored_ok = deflateInit2(&stored, 0, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    std::unique_lock<std::mutex> guard(b->lock);
    for (;;) {
        b->changed.wait(guard, [b] {
            const slot &s = b->of(b->next_compress);
            return b->quit || (s.state == SLOT_QUEUED && s.seq == b->next_compress);
        });
        if (b->quit)
            break;
        slot *s = &b->of(b->next_compress++);
        s->state = SLOT_WORKING;
        guard.unlock();
        const int r = fast_ok && stored_ok ? compress_block(&fast, &stored, s) : -1;
        guard.lock();
        if (r < 0 && !b->error)
            b->error = fast_ok && stored_ok ? EIO : ENOMEM;
        s->state = SLOT_DONE;
        b->changed.notify_all();
    }
    guard.unlock();
    if (fast_ok)
        deflateEnd(&fast);
    if (stored_ok)
        deflateEnd(&stored);
}

// Encrypts the block with the carry before it in place; its whole cipher blocks are then at
// *start, and the bytes left over are carried to the next block.
int encrypt_block(block_deflate *b, slot *s, unsigned char **start, size_t *whole)
{
    unsigned char *p = s->out + kLead - b->carried;
    memcpy(p, b->carry, b->carried);
    const size_t total = b->carried + s->out_len;
    *whole = total & ~(size_t)(AES_BLOCKSZ - 1);
    if (aes_cbc_update(b->cipher, p, p, *whole) < 0)
        return -1;
    b->carried = total - *whole;
    memcpy(b->carry, p + *whole, b->carried);
    b->adler = adler32_combine(b->adler, s->adler, (z_off_t)s->in_len);
    *start = p;
    return 0;
}

// The stream's end after the last block: the carried bytes, the Adler-32, the padding.
int write_trailer(block_deflate *b)
{
    unsigned char tail[2 * AES_BLOCKSZ] = {0};
    memcpy(tail, b->carry, b->carried);
    for (int i = 0; i < 4; i++)
        tail[b->carried + (size_t)i] = (unsigned char)(b->adler >> (24 - 8 * i));
    const size_t n = (b->carried + 4 + AES_BLOCKSZ - 1) & ~(size_t)(AES_BLOCKSZ - 1);
    return aes_cbc_update(b->cipher, tail, tail, n) < 0 || write_in_full(b->fd, tail, n) < 0 ? -1 : 0;
}

// Encryption is one CBC chain, so one thread takes the blocks in order. The copy into the
// file goes to a writer thread of its own and overlaps encrypting the next block; the slot
// whose bytes it writes is freed once that write has ended.
void write_loop(block_deflate *b)
{
    async_writer *io = async_writer_new(b->fd);  // NULL: this thread writes itself
    slot *writing = nullptr;
    std::unique_lock<std::mutex> guard(b->lock);
    for (;;) {
        b->changed.wait(guard, [b] {
            const slot &s = b->of(b->next_write);
            return b->quit || (s.state == SLOT_DONE && s.seq == b->next_write);
        });
        if (b->quit)
            break;
        slot *s = &b->of(b->next_write);
        const bool failed = b->error != 0;
        guard.unlock();
        int err = 0;
        unsigned char *start = nullptr;
        size_t whole = 0;
        if (!failed && encrypt_block(b, s, &start, &whole) < 0)
            err = errno ? errno : EIO;
        // The write before ends first: writes land in order, and its slot can go.
        if (writing && async_writer_wait(io) < 0 && !err)
            err = errno ? errno : EIO;
        if (!failed && !err) {
            const int r = io && !s->last ? async_writer_submit(io, start, whole) : write_in_full(b->fd, start, whole);
            if (r < 0 || (s->last && write_trailer(b) < 0))
                err = errno ? errno : EIO;
        }
        guard.lock();
        if (err && !b->error)
            b->error = err;
        if (writing)
            writing->state = SLOT_FREE;
        writing = io && !s->last && !failed && !err ? s : nullptr;
        if (!writing)
            s->state = SLOT_FREE;
        b->next_write++;
        const bool last = s->last;
        if (last)
            b->done = 1;
        b->changed.notify_all();
        if (last)
            break;
    }
    guard.unlock();
    // On quit a write may still be in flight: closing waits for it.
    if (io && async_writer_close(io) < 0) {
        guard.lock();
        if (!b->error)
            b->error = errno ? errno : EIO;
    }
}

// Takes the next slot for the caller to fill, primed with the end of the block before.
int take_slot(block_deflate *b)
{
    slot *s = &b->of(b->filling);
    {
        std::unique_lock<std::mutex> guard(b->lock);
        b->changed.wait(guard, [b, s] { return b->error || s->state == SLOT_FREE; });
        if (b->error) {
            errno = b->error;
            return -1;
        }
        s->state = SLOT_FILLING;
    }
    s->seq = b->filling;
    s->in_len = 0;
    s->last = 0;
    s->dict_len = 0;
    if (b->filling) {
        // Written by this thread only, and not refilled before this block is taken.
        const slot &prev = b->of(b->filling - 1);
        s->dict_len = prev.in_len < (size_t)BLOCK_DEFLATE_DICT ? prev.in_len : (size_t)BLOCK_DEFLATE_DICT;
        memcpy(s->dict, prev.in + prev.in_len - s->dict_len, s->dict_len);
    }
    b->current = s;
    return 0;
}

void queue_current(block_deflate *b, int last)
{
    std::lock_guard<std::mutex> guard(b->lock);
    b->current->last = last;
    b->current->state = SLOT_QUEUED;
    b->current = nullptr;
    b->filling++;
    b->changed.notify_all();
}

}  // namespace

struct block_deflate *block_deflate_new(int fd, struct aes_cbc *cipher, int threads)
{
    if (threads < 1)
        threads = 1;
    block_deflate *b = new (std::nothrow) block_deflate;
    if (!b) {
        errno = ENOMEM;
        return NULL;
    }
    b->fd = fd;
    b->cipher = cipher;
    b->count = 2 * (size_t)threads;
    b->carry[0] = 0x78;  // zlib header: deflate, 32 KiB window, fastest level
    b->carry[1] = 0x01;
    b->carried = 2;
    b->slots.reset(new (std::nothrow) slot[b->count]);
    bool ok = b->slots != nullptr;
    for (size_t i = 0; ok && i < b->count; i++) {
        b->slots[i].in = new (std::nothrow) unsigned char[BLOCK_DEFLATE_SIZE];
        b->slots[i].out = new (std::nothrow) unsigned char[kLead + kOutCap];
        ok = b->slots[i].in && b->slots[i].out;
    }
    if (!ok) {
        delete b;
        errno = ENOMEM;
        return NULL;
    }
    try {
        b->threads.emplace_back(write_loop, b);
        for (int i = 0; i < threads; i++)
            b->threads.emplace_back(compress_loop, b);
    } catch (const std::system_error &e) {
        block_deflate_free(b);
        errno = EAGAIN;
        return NULL;
    }
    return b;
}

int block_deflate_write(struct block_deflate *b, const void *bytes, size_t len)
{
    const unsigned char *p = (const unsigned char *)bytes;
    while (len) {
        if (!b->current && take_slot(b) < 0)
            return -1;
        slot *s = b->current;
        if (s->in_len == BLOCK_DEFLATE_SIZE) {
            queue_current(b, 0);  // only now: the last block must be queued as the last
            continue;
        }
        size_t n = BLOCK_DEFLATE_SIZE - s->in_len;
        if (n > len)
            n = len;
        memcpy(s->in + s->in_len, p, n);
        s->in_len += n;
        p += n;
        len -= n;
    }
    return 0;
}

int block_deflate_finish(struct block_deflate *b)
{
    if (!b->current && take_slot(b) < 0)
        return -1;
    queue_current(b, 1);
    std::unique_lock<std::mutex> guard(b->lock);
    b->changed.wait(guard, [b] { return b->done || b->error; });
    if (b->error) {
        errno = b->error;
        return -1;
    }
    return 0;
}

void block_deflate_free(struct block_deflate *b)
{
    if (!b)
        return;
    {
        std::lock_guard<std::mutex> guard(b->lock);
        b->quit = 1;
        b->changed.notify_all();
    }
    for (auto &t : b->threads)
        t.join();
    delete b;
}
