// fs_salvage: what can still be read of a stored file whose content does not read back whole.
//
// A content object is one CBC chain around one zlib stream. CBC needs only the ciphertext
// block before to decrypt a block, so damage to the file garbles 32 bytes of the stream at
// most, and the rest decrypts. Inflating stops at the damage. The block writer ends every
// 1 MiB of input with a sync point (an empty stored block, 00 00 FF FF on a byte boundary),
// so after a break the next block is found by looking for that mark and trying to inflate
// from it: a true start gives exactly one block of output ending at the next mark, or the
// final block ending the stream. The blocks found are placed counting from both ends of the
// part. Each block after a break starts with the 32 KiB before it as its dictionary, which is
// lost; it is inflated twice, the lost bytes standing in as zeros once and as 0xFF once, and
// only the bytes that come out the same both times are taken. Objects written as one stream
// (small files, other writers) have no such marks: after a break, the rest of their part is
// lost. Each part of a large file is an object of its own.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "block_deflate.h"
#include "engine_internal.h"
#include "fs.h"
#include "index.h"
#include "object.h"

namespace {

constexpr uint64_t kBlock = BLOCK_DEFLATE_SIZE;
constexpr size_t kDict = 32768;
constexpr size_t kPiece = 256 * 1024;  // output decoded per step
constexpr size_t kPlainWindow = 64 * 1024;

struct part_source {
    uint64_t start;  // content offset of the part in the file
    uint64_t length;  // content bytes the entry says it holds
    size_t header_len;  // of the header the writer gives it ("blob N" and its zero byte)
    std::string path;
    unsigned char key[AES_KEYSZ], iv[AES_BLOCKSZ];
};

// The decrypted stream of one object, any part of it on demand.
class plain_stream {
public:
    ~plain_stream()
    {
        if (map_)
            munmap(map_, map_len_);
        aes_cbc_release(&cipher_);
    }
    // False when there is no object to read (missing, empty, not a regular file).
    bool open(const part_source &part)
    {
        key_ = part.key;
        iv_ = part.iv;
        int fd = fs_sys_open_regular(part.path.c_str(), O_RDONLY);
        struct stat st;
        if (fd < 0)
            return false;
        if (fstat(fd, &st) < 0 || st.st_size < (off_t)AES_BLOCKSZ) {
            close(fd);
            return false;
        }
        map_len_ = (size_t)st.st_size;
        void *map = mmap(NULL, map_len_, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (map == MAP_FAILED) {
            map_ = NULL;
            return false;
        }
        map_ = (unsigned char *)map;
        size_ = map_len_ & ~(size_t)(AES_BLOCKSZ - 1);  // a torn last block cannot be decrypted
        return true;
    }
    size_t size() const { return size_; }
    // Up to want plain bytes at offset, in *bytes; how many (0 past the end, -1 on failure).
    ssize_t at(size_t offset, const unsigned char **bytes, size_t want)
    {
        if (offset >= size_)
            return 0;
        if (offset < window_start_ || offset >= window_start_ + window_len_) {
            size_t start = offset & ~(kPlainWindow - 1);
            size_t len = std::min(kPlainWindow, size_ - start);
            // CBC: a block's IV is the ciphertext block before it.
            const unsigned char *iv = start ? map_ + start - AES_BLOCKSZ : iv_;
            aes_cbc_release(&cipher_);
            if (aes_cbc_start(&cipher_, key_, iv, 0) < 0 || aes_cbc_update(&cipher_, map_ + start, window_, len) < 0)
                return -1;
            window_start_ = start;
            window_len_ = len;
        }
        size_t in = offset - window_start_;
        *bytes = window_ + in;
        return (ssize_t)std::min(want, window_len_ - in);
    }
    int byte(size_t offset)
    {
        const unsigned char *b;
        return at(offset, &b, 1) == 1 ? *b : -1;
    }

private:
    unsigned char *map_ = NULL;
    size_t map_len_ = 0, size_ = 0;
    const unsigned char *key_ = NULL, *iv_ = NULL;
    struct aes_cbc cipher_ = {NULL, 0};
    unsigned char window_[kPlainWindow];
    size_t window_start_ = 0, window_len_ = 0;
};

// One raw inflate over the plain stream from an offset, with a dictionary of its own.
class inflater {
public:
    ~inflater() { end(); }
    int begin(plain_stream *plain, size_t from, const unsigned char *dict, size_t dict_len)
    {
        end();
        memset(&z_, 0, sizeof(z_));
        in_.resize(kPlainWindow);
        if (inflateInit2(&z_, -15) != Z_OK)
            return -1;
        active_ = true;
        plain_ = plain;
        next_ = from;
        if (dict_len && inflateSetDictionary(&z_, dict, (uInt)dict_len) != Z_OK)
            return -1;
        return 0;
    }
    void end()
    {
        if (active_)
            inflateEnd(&z_);
        active_ = false;
    }
    bool active() const { return active_; }
    // Inflates into out (room bytes) with flush; the zlib result, or Z_BUF_ERROR at the end of
    // the input. *made gets the bytes made.
    int step(unsigned char *out, size_t room, int flush, size_t *made)
    {
        z_.next_out = out;
        z_.avail_out = (uInt)room;
        int ret = Z_OK;
        while (z_.avail_out) {
            if (!z_.avail_in) {
                // A copy: the stream's window moves with every other reader of it.
                const unsigned char *bytes;
                ssize_t n = plain_->at(next_, &bytes, in_.size());
                if (n <= 0) {
                    ret = Z_BUF_ERROR;
                    break;
                }
                memcpy(in_.data(), bytes, (size_t)n);
                z_.next_in = in_.data();
                z_.avail_in = (uInt)n;
                next_ += (size_t)n;
            }
            ret = inflate(&z_, flush);
            if (ret != Z_OK || (flush == Z_BLOCK && (z_.data_type & 128)))
                break;
        }
        *made = room - z_.avail_out;
        return ret;
    }
    // The plain offset of the next byte inflate will take.
    size_t position() const { return next_ - z_.avail_in; }
    // Stopped at a deflate block boundary right after a sync point.
    bool after_sync_point() const
    {
        size_t p = position();
        return (z_.data_type & 128) && !(z_.data_type & 64) && (z_.data_type & 7) == 0 && p >= 4 &&
            plain_->byte(p - 4) == 0 && plain_->byte(p - 3) == 0 && plain_->byte(p - 2) == 0xff &&
            plain_->byte(p - 1) == 0xff;
    }

private:
    z_stream z_;
    bool active_ = false;
    plain_stream *plain_ = NULL;
    size_t next_ = 0;
    std::vector<unsigned char> in_;
};

enum probe_result { PROBE_BAD, PROBE_FULL, PROBE_FINAL };

// Whether a block starts at plain offset at: a whole block ending at a sync point (*next is
// the next block's start) or the final block ending the stream (*out_len its bytes).
probe_result probe_block(plain_stream *plain, size_t at, size_t *next, uint64_t *out_len,
                         std::vector<unsigned char> &sink)
{
    static const unsigned char stand_in[kDict] = {0};
    sink.resize(kPiece);
    inflater z;
    if (z.begin(plain, at, stand_in, kDict) < 0)
        return PROBE_BAD;
    uint64_t made_total = 0;
    for (;;) {
        size_t made = 0;
        int ret = z.step(sink.data(), kPiece, Z_BLOCK, &made);
        made_total += made;
        if (made_total > kBlock)
            return PROBE_BAD;
        if (ret == Z_STREAM_END) {
            // The Adler-32 follows, then no more than a block of padding.
            size_t end = z.position() + 4;
            if (end > plain->size() || plain->size() - end >= AES_BLOCKSZ)
                return PROBE_BAD;
            *out_len = made_total;
            *next = end;
            return PROBE_FINAL;
        }
        if (ret != Z_OK)
            return PROBE_BAD;
        if (made_total == kBlock && z.after_sync_point()) {
            *out_len = made_total;
            *next = z.position();
            return PROBE_FULL;
        }
    }
}

// A run of blocks read after a break, from plain offset start: count whole or final blocks,
// then maybe a damaged one it ends with.
struct segment {
    size_t start;
    uint64_t blocks = 0;
    uint64_t bytes = 0;  // inflated bytes of those blocks
    bool final = false;  // its last block ends the stream
    int64_t first_block = -1;  // its place, once known
};

// What one part yields: pieces of content at their offsets in the file, in order, and the
// ranges among them that may be wrong.
class part_salvage {
public:
    explicit part_salvage(const part_source &part) : part_(part) {}

    // The next piece (at most room bytes); 0 at the end of the part, -1 with errno.
    ssize_t next(unsigned char *out, size_t room, uint64_t *offset)
    {
        for (;;) {
            if (piece_at_ < pieces_.size()) {
                piece &p = pieces_[piece_at_];
                size_t n = std::min(room, p.len);
                memcpy(out, store_.data() + p.from, n);
                *offset = p.offset;
                p.from += n;
                p.len -= n;
                p.offset += n;
                if (!p.len && ++piece_at_ == pieces_.size()) {
                    pieces_.clear();
                    store_.clear();
                    piece_at_ = 0;
                }
                return (ssize_t)n;
            }
            int r = advance();
            if (r <= 0)
                return r;
        }
    }
    // Whether every byte of the part was read and its checksum matched; whether any was read.
    bool verified() const { return verified_; }
    bool yielded() const { return yielded_; }
    // Ranges (file offsets) of bytes handed out that may be wrong.
    const std::vector<fs_salvage_range> &unsure() const { return unsure_; }

private:
    enum phase { START, FIRST_RUN, MAPPED, DONE };

    // One step of decoding; 1 when it may have made a piece, 0 at the end, -1 with errno.
    int advance()
    {
        switch (phase_) {
        case START:
            phase_ = DONE;
            if (!plain_.open(part_) || plain_.size() < 2)
                return 0;
            if (z_value_.begin(&plain_, 2, NULL, 0) < 0)
                return fail(ENOMEM);
            adler_ = adler32(0, NULL, 0);
            phase_ = FIRST_RUN;
            return 1;
        case FIRST_RUN:
            return first_run_step();
        case MAPPED:
            return mapped_step();
        case DONE:
            return 0;
        }
        return 0;
    }

    int fail(int err)
    {
        errno = err;
        phase_ = DONE;
        return -1;
    }

    // Content range (file offsets) of inflated bytes [out, out + len), the header left out.
    bool content_range(uint64_t out, size_t len, uint64_t *offset, size_t *count) const
    {
        uint64_t from = std::max<uint64_t>(out, header_len_), to = out + len;
        to = std::min<uint64_t>(to, header_len_ + part_.length);
        if (from >= to)
            return false;
        *offset = part_.start + (from - header_len_);
        *count = (size_t)(to - from);
        return true;
    }

    void note_unsure(uint64_t out, size_t len)
    {
        uint64_t offset;
        size_t count;
        if (!content_range(out, len, &offset, &count))
            return;
        // Close ranges go together: a few certain bytes between do not need a line each.
        if (!unsure_.empty() && offset <= unsure_.back().offset + unsure_.back().length + kMergeGap)
            unsure_.back().length = offset + count - unsure_.back().offset;
        else
            unsure_.push_back({offset, count, FS_SALVAGE_UNVERIFIED});
    }

    // Hands out inflated bytes at out (the object header is no content); the last 32 KiB stay
    // at hand as the best guess of the dictionary of a block read after a break.
    void emit(uint64_t out, const unsigned char *bytes, size_t len)
    {
        if (!len)
            return;
        if (recent_end_ != out)
            recent_.clear();
        recent_.insert(recent_.end(), bytes, bytes + len);
        if (recent_.size() > kDict)
            recent_.erase(recent_.begin(), recent_.end() - (ptrdiff_t)kDict);
        recent_end_ = out + len;
        uint64_t offset;
        size_t count;
        if (!content_range(out, len, &offset, &count))
            return;
        bytes += (size_t)(offset - part_.start + header_len_ - out);
        if (!pieces_.empty() && pieces_.back().offset + pieces_.back().len == offset)
            pieces_.back().len += count;
        else
            pieces_.push_back({offset, store_.size(), count});
        store_.insert(store_.end(), bytes, bytes + count);
        yielded_ = true;
    }

    // The start of the stream inflated as usual, until it ends or breaks. A stream that had a
    // sync point at its first 1 MiB boundary is one of blocks: each later boundary must have
    // one too, and output that goes on without it is damage, never handed out.
    int first_run_step()
    {
        buffer_.resize(kPiece);
        size_t room = kPiece;
        if (out_ < next_boundary_)
            room = (size_t)std::min<uint64_t>(room, next_boundary_ - out_);
        size_t made = 0;
        int ret = z_value_.step(buffer_.data(), room, Z_BLOCK, &made);
        if (made && out_ == next_boundary_) {
            if (blocked_)
                return broke();  // no sync point where a block ends
            next_boundary_ += kBlock;  // one stream: boundaries mean nothing
        }
        if (made) {
            if (!header_known_)
                note_header(buffer_.data(), made);
            adler_ = adler32(adler_, buffer_.data(), (uInt)made);
            emit(out_, buffer_.data(), made);
            out_ += made;
        }
        if (ret == Z_OK) {
            if (out_ == next_boundary_ && z_value_.after_sync_point()) {
                blocked_ = true;
                last_boundary_ = z_value_.position();
                last_boundary_out_ = out_;
                next_boundary_ += kBlock;
            }
            return 1;
        }
        if (ret == Z_STREAM_END) {
            size_t at = z_value_.position();
            unsigned long stored = 0;
            bool whole = at + 4 <= plain_.size();
            for (int i = 0; whole && i < 4; i++) {
                int b = plain_.byte(at + (size_t)i);
                whole = b >= 0;
                stored = stored << 8 | (unsigned long)b;
            }
            verified_ = whole && stored == adler_;  // a short part's missing end is unreadable
            // A stream of blocks whose last one came out longer or shorter than the entry
            // allows went wrong in that block.
            if (!verified_ && blocked_ && out_ != header_len_ + part_.length)
                note_unsure(last_boundary_out_, (size_t)(out_ - last_boundary_out_));
            z_value_.end();
            phase_ = DONE;
            return 1;
        }
        return broke();
    }

    // The block the break is in, and all after it, are found from here. Nothing tells where
    // in that block the damage lies (inflate may go on making wrong bytes for a while), so all
    // of it that came out may be wrong.
    int broke()
    {
        z_value_.end();
        note_unsure(last_boundary_out_, (size_t)(out_ - last_boundary_out_));
        broken_block_ = last_boundary_out_ / kBlock;
        if (map_rest() < 0)
            return fail(ENOMEM);
        phase_ = MAPPED;
        return 1;
    }

    void note_header(const unsigned char *bytes, size_t len)
    {
        header_known_ = true;
        const unsigned char *zero = (const unsigned char *)memchr(bytes, 0, std::min<size_t>(len, OBJECT_HEADER_MAX));
        // Damage in the header itself: the writer's header length stands in for it.
        if (zero && zero - bytes > 5 && !memcmp(bytes, "blob ", 5))
            header_len_ = (size_t)(zero - bytes) + 1;
    }

    // Finds the blocks after the break and places them.
    int map_rest()
    {
        try {
            size_t from = last_boundary_ + 1;
            while (from < plain_.size()) {
                size_t start = find_block(from);
                if (start == SIZE_MAX)
                    break;
                segment seg;
                seg.start = start;
                size_t at = start;
                for (;;) {
                    size_t next = 0;
                    uint64_t len = 0;
                    probe_result r = probe_block(&plain_, at, &next, &len, scratch_);
                    if (r == PROBE_BAD)
                        break;
                    seg.blocks++;
                    seg.bytes += len;
                    at = next;
                    if (r == PROBE_FINAL) {
                        seg.final = true;
                        break;
                    }
                }
                segments_.push_back(seg);
                if (seg.final)
                    break;
                from = at + 1;
            }
            place_segments();
        } catch (const std::bad_alloc &) {
            return -1;
        }
        next_segment_ = 0;
        return 0;
    }

    // The first offset at or after from where a block starts, or SIZE_MAX.
    size_t find_block(size_t from)
    {
        size_t p = std::max<size_t>(from, 4);
        while (p < plain_.size()) {
            const unsigned char *bytes;
            ssize_t n = plain_.at(p - 1, &bytes, kPlainWindow);
            if (n <= 0)
                break;
            std::vector<unsigned char> window(bytes, bytes + n);  // probing moves the stream's window
            // window[i] is the byte before offset p + i: a mark 00 00 FF FF ends there.
            for (ssize_t i = 0; i < n; i++) {
                if (window[(size_t)i] != 0xff)
                    continue;
                const size_t at = p + (size_t)i;
                if (plain_.byte(at - 2) != 0xff || plain_.byte(at - 3) != 0 || plain_.byte(at - 4) != 0)
                    continue;
                size_t next;
                uint64_t len;
                if (probe_block(&plain_, at, &next, &len, scratch_) != PROBE_BAD)
                    return at;
            }
            p += (size_t)n;
        }
        return SIZE_MAX;
    }

    // Every block is 1 MiB of inflated data but the last, so the blocks in all count
    // ceil((header + length) / 1 MiB). The first segment after the break is placed after the
    // broken block, the one ending the stream from the end; the ones between only when each
    // break cost exactly one block, which is then certain.
    void place_segments()
    {
        if (segments_.empty())
            return;
        const uint64_t plain_total = header_len_ + part_.length;
        const uint64_t total = plain_total ? (plain_total + kBlock - 1) / kBlock : 1;
        segment &last = segments_.back();
        if (last.final) {
            const uint64_t final_len = plain_total - (total - 1) * kBlock;
            const uint64_t full = last.blocks - 1;
            if (last.bytes == full * kBlock + final_len && total >= last.blocks)
                last.first_block = (int64_t)(total - last.blocks);
        }
        uint64_t known = broken_block_ + 1, gaps = segments_.size() + (last.final ? 0 : 1);
        for (const segment &s : segments_)
            known += s.blocks;
        if (known + gaps - 1 == total) {
            uint64_t block = broken_block_ + 1;
            for (segment &s : segments_) {
                s.first_block = (int64_t)block;
                block += s.blocks + 1;
            }
        }
        // A place that would come before the break, or overlap the segment before, is no place.
        int64_t floor = (int64_t)broken_block_ + 1;
        for (segment &s : segments_) {
            if (s.first_block >= 0 && s.first_block < floor)
                s.first_block = -1;
            if (s.first_block >= 0)
                floor = s.first_block + (int64_t)s.blocks + 1;
        }
    }

    // Starts inflating the next placed segment three times: with the best guess of the lost
    // dictionary (what came out before its place, zeros for what did not), whose bytes are
    // handed out, and with zeros and with 0xFF in its stead, whose agreement tells which of
    // those bytes owe nothing to it.
    int start_segment()
    {
        while (next_segment_ < segments_.size() && segments_[next_segment_].first_block < 0)
            next_segment_++;
        if (next_segment_ >= segments_.size()) {
            phase_ = DONE;
            return 0;
        }
        const segment &s = segments_[next_segment_];
        out_ = (uint64_t)s.first_block * kBlock;
        std::vector<unsigned char> guess(kDict, 0), zeros(kDict, 0), ones(kDict, 0xff);
        if (recent_end_ <= out_ && recent_end_ + kDict > out_) {
            const size_t known = (size_t)std::min<uint64_t>(recent_.size(), kDict - (out_ - recent_end_));
            std::copy(recent_.end() - (ptrdiff_t)known, recent_.end(),
                      guess.begin() + (ptrdiff_t)(kDict - (out_ - recent_end_) - known));
        }
        if (z_value_.begin(&plain_, s.start, guess.data(), kDict) < 0 ||
            z_zeros_.begin(&plain_, s.start, zeros.data(), kDict) < 0 ||
            z_ones_.begin(&plain_, s.start, ones.data(), kDict) < 0)
            return fail(ENOMEM);
        segment_end_ = out_ + s.bytes;
        // What the damaged block after it gives before it breaks, up to the next segment.
        if (!s.final) {
            segment_end_ += kBlock;
            for (size_t i = next_segment_ + 1; i < segments_.size(); i++)
                if (segments_[i].first_block >= 0) {
                    segment_end_ = std::min<uint64_t>(segment_end_, (uint64_t)segments_[i].first_block * kBlock);
                    break;
                }
        }
        full_end_ = out_ + s.bytes;
        last_difference_ = out_;
        return 1;
    }

    int mapped_step()
    {
        if (!z_value_.active())
            return start_segment();
        buffer_.resize(kPiece);
        zeros_.resize(kPiece);
        ones_.resize(kPiece);
        const size_t room = (size_t)std::min<uint64_t>(kPiece, segment_end_ - out_);
        size_t made = 0;
        int ret = room ? z_value_.step(buffer_.data(), room, Z_NO_FLUSH, &made) : Z_STREAM_END;
        if (z_ones_.active()) {
            // The three parse alike (a dictionary changes what is copied, not how the bits read).
            size_t made_zeros = 0, made_ones = 0;
            int ret_zeros = z_zeros_.step(zeros_.data(), room, Z_NO_FLUSH, &made_zeros);
            int ret_ones = z_ones_.step(ones_.data(), room, Z_NO_FLUSH, &made_ones);
            if (ret_zeros != ret || ret_ones != ret || made_zeros != made || made_ones != made)
                ret = Z_DATA_ERROR, made = std::min(made, std::min(made_zeros, made_ones));
            for (size_t i = 0; i < made;) {
                size_t j = i;
                const bool sure = zeros_[i] == ones_[i];
                while (j < made && (zeros_[j] == ones_[j]) == sure)
                    j++;
                if (!sure) {
                    note_unsure(out_ + i, j - i);
                    last_difference_ = out_ + j;
                }
                i = j;
            }
        }
        // Past the segment's whole blocks lies the damaged block: what it gives may be wrong.
        if (out_ + made > full_end_)
            note_unsure(std::max(out_, full_end_), (size_t)(out_ + made - std::max(out_, full_end_)));
        emit(out_, buffer_.data(), made);
        out_ += made;
        // Once 32 KiB came out the same, nothing after can depend on the lost bytes.
        if (z_ones_.active() && out_ - last_difference_ > kDict) {
            z_zeros_.end();
            z_ones_.end();
        }
        if (out_ >= segment_end_ || ret != Z_OK || !made) {
            z_value_.end();
            z_zeros_.end();
            z_ones_.end();
            next_segment_++;
        }
        return 1;
    }

    static constexpr uint64_t kMergeGap = 256;

    const part_source part_;
    phase phase_ = START;
    plain_stream plain_;
    inflater z_value_, z_zeros_, z_ones_;
    std::vector<unsigned char> buffer_, zeros_, ones_, scratch_;
    size_t header_len_ = part_.header_len;
    bool header_known_ = false;
    uint64_t out_ = 0;  // inflated bytes (header included) at the decoder's place
    unsigned long adler_ = 0;
    bool verified_ = false;
    size_t last_boundary_ = 2;  // plain offset of the last block start passed before the break
    uint64_t last_boundary_out_ = 0, next_boundary_ = kBlock;
    bool blocked_ = false;  // the stream has a sync point at every 1 MiB
    uint64_t broken_block_ = 0;
    std::vector<segment> segments_;
    size_t next_segment_ = 0;
    uint64_t segment_end_ = 0, full_end_ = 0, last_difference_ = 0;
    std::vector<unsigned char> recent_;  // the last bytes handed out, up to 32 KiB
    uint64_t recent_end_ = 0;
    std::vector<fs_salvage_range> unsure_;
    struct piece {
        uint64_t offset;
        size_t from, len;
    };
    std::vector<unsigned char> store_;  // the bytes of the pieces not yet handed out
    std::vector<piece> pieces_;
    size_t piece_at_ = 0;
    bool yielded_ = false;
};

}  // namespace

struct fs_salvage {
    uint64_t size = 0;
    std::vector<part_source> parts;
    size_t next_part = 0;
    std::unique_ptr<part_salvage> current;
    uint64_t next_offset = 0;  // the first byte not yet handed out or counted unreadable
    std::vector<fs_salvage_range> ranges;
    bool finished = false;

    void unreadable_until(uint64_t offset)
    {
        if (offset > next_offset)
            ranges.push_back({next_offset, offset - next_offset, FS_SALVAGE_UNREADABLE});
        next_offset = std::max(next_offset, offset);
    }
    void part_done()
    {
        const part_source &part = parts[next_part - 1];
        const std::vector<fs_salvage_range> &unsure = current->unsure();
        if (!unsure.empty())
            ranges.insert(ranges.end(), unsure.begin(), unsure.end());
        else if (!current->verified() && current->yielded())
            ranges.push_back({part.start, part.length, FS_SALVAGE_UNVERIFIED});  // where, none can tell
        current.reset();
    }
};

struct fs_salvage *fs_salvage_open(const char *path, uint64_t *size)
{
    if (require_mounted() < 0)
        return NULL;
    if (!path) {
        errno = EINVAL;
        return NULL;
    }
    struct store_index index = INDEX_INIT;
    struct strbuf folder = STRBUF_INIT, name = STRBUF_INIT, objpath = STRBUF_INIT;
    fs_salvage *s = NULL;
    int err = 0;
    try {
        unsigned char id[SHA1_RAWSZ];
        uint64_t recorded = 0;
        if (resolve_parent(path, &index, &folder, &name) < 0)
            throw errno;
        enum index_path_kind kind =
            name.len ? index_resolve_path(&index, name.buf, id, &recorded) : INDEX_PATH_START;
        if (kind == INDEX_PATH_FAILED)
            throw errno;
        if (kind != INDEX_PATH_FILE)
            throw EISDIR;
        uint64_t *numbers = NULL;
        size_t count = 0;
        if (present_parts(&index, name.buf, recorded, &numbers, &count) < 0)
            throw errno;
        s = new fs_salvage;
        s->size = recorded;
        // The first part, then the others present, lowest first.
        std::vector<std::pair<uint64_t, std::string>> ids = {{0, std::string((char *)id, SHA1_RAWSZ)}};
        for (size_t i = count; i-- > 0;) {
            struct strbuf part = STRBUF_INIT;
            part_entry_name(&part, name.buf, numbers[i]);
            int pos = index_name_pos(&index, part.buf, part.len);
            if (pos >= 0)
                ids.push_back({numbers[i], std::string((char *)index.entries[pos]->id, SHA1_RAWSZ)});
            strbuf_release(&part);
        }
        free(numbers);
        for (const auto &[k, part_id] : ids) {
            part_source p;
            p.start = k * FS_PART_SIZE;
            if (k && p.start >= recorded)
                continue;
            const uint64_t left = recorded - std::min(recorded, p.start);
            p.length = left < FS_PART_SIZE ? left : FS_PART_SIZE;
            char header[OBJECT_HEADER_MAX];
            p.header_len = (size_t)object_format_header(header, "blob", k ? 0 : p.length);
            strbuf_reset(&objpath);
            if (object_path(&objpath, (const unsigned char *)part_id.data()) < 0 ||
                cipher_key_iv(objpath.buf, p.key, p.iv) < 0)
                throw ENOMEM;
            p.path = objpath.buf;
            s->parts.push_back(p);
        }
    } catch (int e) {
        err = e ? e : EIO;
    } catch (const std::bad_alloc &) {
        err = ENOMEM;
    }
    index_discard(&index);
    strbuf_release(&folder);
    strbuf_release(&name);
    strbuf_release(&objpath);
    if (err) {
        delete s;
        errno = err;
        return NULL;
    }
    if (size)
        *size = s->size;
    return s;
}

int fs_salvage_read(struct fs_salvage *s, void *buffer, uint32_t length, uint64_t *offset)
{
    if (!s || !buffer || !offset || length > INT_MAX) {
        errno = EINVAL;
        return -1;
    }
    try {
        while (!s->finished) {
            if (!s->current) {
                if (s->next_part >= s->parts.size()) {
                    s->unreadable_until(s->size);
                    std::stable_sort(s->ranges.begin(), s->ranges.end(),
                                     [](const fs_salvage_range &a, const fs_salvage_range &b) {
                                         return a.offset < b.offset;
                                     });
                    s->finished = true;
                    break;
                }
                s->current.reset(new part_salvage(s->parts[s->next_part++]));
            }
            ssize_t n = s->current->next((unsigned char *)buffer, length, offset);
            if (n < 0)
                return -1;
            if (n == 0) {
                s->part_done();
                continue;
            }
            s->unreadable_until(*offset);
            s->next_offset = *offset + (uint64_t)n;
            return (int)n;
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

size_t fs_salvage_ranges(const struct fs_salvage *s, const struct fs_salvage_range **ranges)
{
    *ranges = s && !s->ranges.empty() ? s->ranges.data() : NULL;
    return s ? s->ranges.size() : 0;
}

void fs_salvage_close(struct fs_salvage *s)
{
    delete s;
}
