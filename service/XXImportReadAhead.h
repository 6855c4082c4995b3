// Reads and compresses the small files of an import ahead, on worker threads, while the engine
// encrypts and writes the file before: the deflate does not depend on the object's id.
//
// Files are taken in the order given, each at most once (an empty path stands for an item
// that is no file). Memory is bounded: files in flight hold at most a budget of bytes between
// them (32 MiB; the next file to be taken may go beyond, so the import always moves on), and
// at most 1,024 files are read ahead. That is enough to keep the workers busy while the engine
// commits a batch. A file is read when its worker comes to it: one removed after that is still
// stored with the content it had. A file that cannot be read ahead whole (missing, unreadable, not a regular
// file, larger than FS_DEFLATE_MAX) comes back as not ready: the caller stores it the usual
// way, which meets and reports the same failure as without read-ahead. One cut short while it
// was read comes back so marked: it was read once, and is not read again.
// The workers touch no engine state, so they need no engine lock; the destructor stops and
// joins them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class XXImportReadAhead {
public:
    static constexpr size_t kBudget = 32u << 20;
    static constexpr size_t kMaxAhead = 1024;

    // 0 (the default): one worker per core, up to 8; n > 0 that many; -1 no read-ahead.
    static void setThreads(int n);
    // For later imports: budget bytes and maxAhead files at most in flight (0: the default).
    static void setLimits(size_t budget, size_t maxAhead);
    static int threadsFor(size_t files);

    explicit XXImportReadAhead(std::vector<std::string> sourcePaths);
    ~XXImportReadAhead();
    XXImportReadAhead(const XXImportReadAhead &) = delete;
    XXImportReadAhead &operator=(const XXImportReadAhead &) = delete;

    struct Ready {
        std::uint64_t size = 0;  // bytes of content, as fstat gave them when read
        const unsigned char *stream = nullptr;  // fs_deflate_content's stream of them
        size_t length = 0;
        // Not ready because the file ended (or failed) after got of its size bytes.
        bool cutShort = false;
        std::uint64_t got = 0;
        int error = 0;  // errno of the failed read, 0 when it just ended
    };
    // Waits for file index, which comes after the file taken last; the files between are
    // dropped. False when it is to be stored the usual way, or failed (cutShort). The bytes
    // stay valid until the next take or the destruction.
    bool take(size_t index, Ready *ready);

private:
    struct Buffers {
        unsigned char *content = nullptr;
        size_t contentCap = 0;
        unsigned char *stream = nullptr;
        size_t streamCap = 0;
        size_t reserved = 0;  // of the budget, while the file is in flight
        void release();
    };
    enum class State { waiting, working, ready, streamed, cutShort };
    struct Job {
        State state = State::waiting;
        std::uint64_t size = 0;
        size_t length = 0;
        std::uint64_t got = 0;
        int error = 0;
        Buffers buffers;
    };

    void work();
    // Reads and compresses file index into buffers: ready, streamed to leave it to the usual
    // way, or cutShort (*got bytes came, *error the read's errno).
    State prepare(size_t index, struct fs_deflater *deflater, Buffers &buffers, std::uint64_t *size,
                  size_t *length, std::uint64_t *got, int *error);
    // Under the lock: gives a taken or dropped file's budget and buffers back.
    void recycle(Buffers &buffers);

    const std::vector<std::string> paths_;
    const size_t budget_, maxAhead_;
    std::vector<Job> jobs_;  // one per path; empty when there are no workers
    std::vector<Buffers> pool_;  // small buffers kept for the next files
    size_t poolMax_ = 0;
    Buffers current_;  // of the file taken last
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t nextToStart_ = 0;
    size_t taken_ = 0;  // files taken or dropped so far
    size_t reserved_ = 0;  // budget held by files in flight
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
