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
std::atomic<size_t> configuredBudget{0};
std::atomic<size_t> configuredAhead{0};

// Past 8 the volume, not the compression, sets the pace.
constexpr int kMaxThreads = 8;
// Buffers larger than this are freed after use rather than kept, so what stays is small.
constexpr size_t kKeptBufferMax = 256u << 10;

// A file's share of the budget: its content and, at most, a stream a little larger.
size_t budgetFor(std::uint64_t size)
{
    return static_cast<size_t>(2 * size + 1024);
}

}  // namespace

void XXImportReadAhead::setThreads(int n)
{
    configuredThreads = n;
}

void XXImportReadAhead::setLimits(size_t budget, size_t maxAhead)
{
    configuredBudget = budget;
    configuredAhead = maxAhead;
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

XXImportReadAhead::XXImportReadAhead(std::vector<std::string> sourcePaths)
    : paths_(std::move(sourcePaths)), budget_(configuredBudget ? configuredBudget.load() : kBudget),
      maxAhead_(configuredAhead ? configuredAhead.load() : kMaxAhead)
{
    const int threads = threadsFor(paths_.size());
    if (threads == 0)
        return;
    jobs_.resize(paths_.size());
    poolMax_ = 2 * static_cast<size_t>(threads);
    try {
        for (int i = 0; i < threads; i++)
            workers_.emplace_back([this] { work(); });
    } catch (...) {
        // Fewer workers, or none: the files they would have read are stored the usual way.
        if (workers_.empty())
            jobs_.clear();
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
    for (Job &job : jobs_)
        job.buffers.release();
    for (Buffers &buffers : pool_)
        buffers.release();
    current_.release();
}

void XXImportReadAhead::recycle(Buffers &buffers)
{
    reserved_ -= buffers.reserved;
    buffers.reserved = 0;
    if (pool_.size() < poolMax_ && buffers.contentCap <= kKeptBufferMax &&
        buffers.streamCap <= kKeptBufferMax)
        pool_.push_back(std::exchange(buffers, Buffers{}));
    else
        buffers.release();
}

bool XXImportReadAhead::take(size_t index, Ready *ready)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (jobs_.empty() || index < taken_ || index >= paths_.size())
        return false;
    auto done = [&](size_t i) {
        return jobs_[i].state == State::ready || jobs_[i].state == State::streamed ||
            jobs_[i].state == State::cutShort;
    };
    // Files passed over (skipped after a conflict) are dropped once their worker is done.
    for (; taken_ < index; taken_++) {
        changed_.wait(lock, [&] { return done(taken_); });
        recycle(jobs_[taken_].buffers);
    }
    changed_.notify_all();  // the file waited for may now go beyond the budget
    changed_.wait(lock, [&] { return done(index); });
    Job &job = jobs_[index];
    recycle(current_);  // the file taken before is written by now
    current_ = std::exchange(job.buffers, Buffers{});
    ready->size = job.size;
    ready->stream = current_.stream;
    ready->length = job.length;
    ready->cutShort = job.state == State::cutShort;
    ready->got = job.got;
    ready->error = job.error;
    taken_++;
    lock.unlock();
    changed_.notify_all();
    return job.state == State::ready;
}

void XXImportReadAhead::work()
{
    struct fs_deflater *deflater = fs_deflater_new();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] {
            return stopping_ || nextToStart_ >= paths_.size() || nextToStart_ < taken_ + maxAhead_;
        });
        if (stopping_ || nextToStart_ >= paths_.size())
            break;
        const size_t index = nextToStart_++;
        jobs_[index].state = State::working;
        Buffers buffers;
        if (!pool_.empty()) {
            buffers = std::move(pool_.back());
            pool_.pop_back();
        }
        lock.unlock();
        std::uint64_t size = 0, got = 0;
        size_t length = 0;
        int error = 0;
        const State state =
            deflater ? prepare(index, deflater, buffers, &size, &length, &got, &error) : State::streamed;
        lock.lock();
        Job &job = jobs_[index];
        job.buffers = std::exchange(buffers, Buffers{});
        job.size = size;
        job.length = length;
        job.got = got;
        job.error = error;
        job.state = state;
        changed_.notify_all();
    }
    lock.unlock();
    fs_deflater_free(deflater);
}

XXImportReadAhead::State XXImportReadAhead::prepare(size_t index, struct fs_deflater *deflater,
                                                   Buffers &buffers, std::uint64_t *size, size_t *length,
                                                   std::uint64_t *got, int *error)
{
    const std::string &path = paths_[index];
    if (path.empty())
        return State::streamed;
    // Opened as the usual way opens it, so a named pipe is not waited on.
    xxtransfer::XXFileDescriptor source(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!source.isOpen() || fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > FS_DEFLATE_MAX)
        return State::streamed;
    const size_t want = static_cast<size_t>(st.st_size);
    {
        // The file the import waits for always goes on, so the budget cannot hold it up.
        std::unique_lock<std::mutex> lock(mutex_);
        const size_t share = budgetFor(want);
        changed_.wait(lock, [&] { return stopping_ || reserved_ + share <= budget_ || index == taken_; });
        if (stopping_)
            return State::streamed;
        reserved_ += share;
        buffers.reserved = share;
    }
    if (buffers.contentCap < want) {
        void *bigger = realloc(buffers.content, want);
        if (!bigger)
            return State::streamed;
        buffers.content = static_cast<unsigned char *>(bigger);
        buffers.contentCap = want;
    }
    *size = want;
    if (want) {
        const ssize_t read = xxtransfer::readFully(source.get(), buffers.content, want);
        if (read != static_cast<ssize_t>(want)) {
            // Read once already: the file changed while it was read, and that is its outcome.
            *got = read < 0 ? 0 : static_cast<std::uint64_t>(read);
            *error = read < 0 ? errno : 0;
            return State::cutShort;
        }
    }
    return fs_deflate_content(deflater, buffers.content, static_cast<uint32_t>(want), &buffers.stream,
                              &buffers.streamCap, length) == 0
        ? State::ready
        : State::streamed;
}
