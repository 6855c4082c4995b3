// Reads and compresses the small files of an import ahead, on worker threads, while the engine
// encrypts and writes the file before: the deflate does not depend on the object's id.
//
// Files are taken in the order given, each exactly once. At most 2 per thread are read ahead,
// so memory stays bounded (about 2 MiB a file at most) whatever the number of files. A file
// that cannot be read ahead whole (missing, unreadable, not a regular file, larger than
// FS_DEFLATE_MAX, cut short while read) comes back as not ready: the caller stores it the
// usual way, which meets and reports the same failure as without read-ahead. The workers touch
// no engine state, so they need no engine lock; the destructor stops and joins them.
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
    // 0 (the default): one worker per core, up to 8; n > 0 that many; -1 no read-ahead.
    static void setThreads(int n);
    static int threadsFor(size_t files);

    explicit XXImportReadAhead(std::vector<std::string> sourcePaths);
    ~XXImportReadAhead();
    XXImportReadAhead(const XXImportReadAhead &) = delete;
    XXImportReadAhead &operator=(const XXImportReadAhead &) = delete;

    struct Ready {
        std::uint64_t size = 0;  // bytes of content, as fstat gave them when read
        const unsigned char *stream = nullptr;  // fs_deflate_content's stream of them
        size_t length = 0;
    };
    // Waits for file index, the one after the file taken last. False when it is to be stored
    // the usual way. The bytes stay valid until the next take or the destruction.
    bool take(size_t index, Ready *ready);

private:
    struct Buffers {
        unsigned char *content = nullptr;
        size_t contentCap = 0;
        unsigned char *stream = nullptr;
        size_t streamCap = 0;
        void release();
    };
    enum class State { waiting, working, ready, streamed };
    struct Slot {
        State state = State::waiting;
        std::uint64_t size = 0;
        size_t length = 0;
        Buffers buffers;
    };

    void work();
    // Reads and compresses one file into buffers; false to leave it to the usual way.
    static bool prepare(const std::string &path, struct fs_deflater *deflater, Buffers &buffers,
                        std::uint64_t *size, size_t *length);

    const std::vector<std::string> paths_;
    std::vector<Slot> slots_;  // file i in slots_[i % slots_.size()]
    Buffers current_;  // of the file taken last
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t nextToStart_ = 0;
    size_t taken_ = 0;  // files taken so far
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
