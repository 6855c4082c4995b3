#include "XXImportReadAhead.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <utility>

#include "XXComputerFile.h"
#include "fs.h"

namespace {

std::atomic<int> configuredThreads{0};

// Past 8 the volume, not the compression, sets the pace.
constexpr int kMaxThreads = 8;
constexpr size_t kFilesPerThread = 2;

}  // namespace

void XXImportReadAhead::setThreads(int n)
{
    configuredThreads = n;
}

int XXImportReadAhead::threadsFor(size_t files)
{
    int n = configuredThreads;
    if (n < 0 || files == 0)
        return 0;
    if (n == 0) {
        const unsigned cores = std::thread::hardware_concurrency();
        n = cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxThreads));
    }
    return static_cast<int>(std::min<size_t>(static_cast<size_t>(n), files));
}

void XXImportReadAhead::Buffers::release()
{
    free(content);
    free(stream);
    *this = Buffers{};
}

XXImportReadAhead::XXImportReadAhead(std::vector<std::string> sourcePaths) : paths_(std::move(sourcePaths))
{
    const int threads = threadsFor(paths_.size());
    if (threads == 0)
        return;
    slots_.resize(static_cast<size_t>(threads) * kFilesPerThread);
    try {
        for (int i = 0; i < threads; i++)
            workers_.emplace_back([this] { work(); });
    } catch (...) {
        // Fewer workers, or none: the files they would have read are stored the usual way.
        if (workers_.empty())
            slots_.clear();
    }
}

XXImportReadAhead::~XXImportReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread &worker : workers_)
        worker.join();
    for (Slot &slot : slots_)
        slot.buffers.release();
    current_.release();
}

bool XXImportReadAhead::take(size_t index, Ready *ready)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (slots_.empty() || index != taken_ || index >= paths_.size())
        return false;
    Slot &slot = slots_[index % slots_.size()];
    changed_.wait(lock, [&] { return slot.state == State::ready || slot.state == State::streamed; });
    const bool isReady = slot.state == State::ready;
    // The previous file's buffers, now written, go to the slot for the file after next.
    std::swap(current_, slot.buffers);
    ready->size = slot.size;
    ready->stream = current_.stream;
    ready->length = slot.length;
    slot.state = State::waiting;
    taken_++;
    lock.unlock();
    changed_.notify_all();
    return isReady;
}

void XXImportReadAhead::work()
{
    struct fs_deflater *deflater = fs_deflater_new();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] {
            return stopping_ || nextToStart_ >= paths_.size() || nextToStart_ < taken_ + slots_.size();
        });
        if (stopping_ || nextToStart_ >= paths_.size())
            break;
        const size_t index = nextToStart_++;
        Slot &slot = slots_[index % slots_.size()];
        slot.state = State::working;
        Buffers buffers = std::exchange(slot.buffers, Buffers{});
        lock.unlock();
        std::uint64_t size = 0;
        size_t length = 0;
        const bool ok = deflater && prepare(paths_[index], deflater, buffers, &size, &length);
        lock.lock();
        slot.buffers = buffers;
        slot.size = size;
        slot.length = length;
        slot.state = ok ? State::ready : State::streamed;
        changed_.notify_all();
    }
    lock.unlock();
    fs_deflater_free(deflater);
}

bool XXImportReadAhead::prepare(const std::string &path, struct fs_deflater *deflater, Buffers &buffers,
                                std::uint64_t *size, size_t *length)
{
    // Opened as the usual way opens it, so a named pipe is not waited on.
    xxtransfer::XXFileDescriptor source(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!source.isOpen() || fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > FS_DEFLATE_MAX)
        return false;
    const size_t want = static_cast<size_t>(st.st_size);
    if (buffers.contentCap < want) {
        void *bigger = realloc(buffers.content, want);
        if (!bigger)
            return false;
        buffers.content = static_cast<unsigned char *>(bigger);
        buffers.contentCap = want;
    }
    if (want && xxtransfer::readFully(source.get(), buffers.content, want) != static_cast<ssize_t>(want))
        return false;
    *size = want;
    return fs_deflate_content(deflater, buffers.content, static_cast<uint32_t>(want), &buffers.stream,
                              &buffers.streamCap, length) == 0;
}
