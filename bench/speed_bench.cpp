// The speed targets, each as a ratio against a baseline measured in the same run:
//   incompressible import / AES-256-CBC alone on one core        (target >= 0.5)
//     also against AES written to the same volume and fsynced per file, as an import is:
//     the in-memory baseline leaves out the volume, which no import can avoid
//   incompressible export / plain copy of the same bytes         (target >= 0.8)
//   bytes the file system is made to write per byte of an incompressible import (<= 1.05)
//   text import / deflate level 1 alone on one core              (target >= 1.6 on 2 cores)
//     for large text files (parallel blocks) and for 40 KiB notes (one stream each, read
//     and compressed ahead on worker threads; also shown without that, in the same run, and
//     against libdeflate alone, the compressor those notes go through)
//   text stored size / each file deflated alone at level 1       (target within 1.02)
//   large text stored size / the single-stream writer's          (the blocks' ratio cost)
//   peak resident size                                           (target < 300 MiB)
//
// Usage: speed_bench [MiB [part ...]]   (size of the incompressible and of the text set, 256 by
// default; parts: incompressible, large, text; all by default). Small files: small_files_bench.
//
// The vault and the data sets go to $TMPDIR (/tmp by default). TMPDIR=/dev/shm measures the
// program with the disk left out. On ext4, creating files within a minute or so of deleting many
// is several times slower (the allocator steps over recently freed inodes), so a run straight
// after another shows the volume's cost more than the program's: give it a minute's pause.
#include <libdeflate.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "BenchVault.h"
#include "XXDiskFileManager.h"
#include "XXFileWrapper.h"
#include "XXImportReadAhead.h"
#include "XXNotificationCenter.h"
#include "fs.h"

using namespace bench;
namespace fsys = std::filesystem;

namespace {

constexpr size_t kChunk = 2u << 20;

void writeLocal(const std::string &path, const std::vector<char> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

uint64_t treeBytes(const std::string &root)
{
    uint64_t n = 0;
    for (const auto &e : fsys::recursive_directory_iterator(root))
        if (e.is_regular_file())
            n += e.file_size();
    return n;
}

double aesAlone(uint64_t bytes)
{
    std::vector<unsigned char> in(kChunk, 7), out(kChunk + 16);
    unsigned char key[32] = {1}, iv[16] = {2};
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    const double t = seconds();
    for (uint64_t done = 0; done < bytes; done += kChunk) {
        int n = 0;
        EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), (int)kChunk);
    }
    const double secs = seconds() - t;
    EVP_CIPHER_CTX_free(ctx);
    return mbPerSecond(bytes, secs);
}

// AES over the files' bytes, written beside them on the volume and fsynced per file.
double aesToVolume(const std::string &from, const std::string &to)
{
    fsys::create_directories(to);
    std::vector<unsigned char> in(kChunk), out(kChunk + 16);
    unsigned char key[32] = {1}, iv[16] = {2};
    uint64_t bytes = 0;
    const double t = seconds();
    for (const auto &e : fsys::directory_iterator(from)) {
        EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        const int src = open(e.path().c_str(), O_RDONLY);
        const int dst =
            open((to + "/" + e.path().filename().string()).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ssize_t got;
        while ((got = read(src, in.data(), in.size())) > 0) {
            int n = 0;
            EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), (int)(got & ~15));
            if (write(dst, out.data(), (size_t)n) != n)
                break;
            bytes += (uint64_t)got;
        }
        fsync(dst);
        close(dst);
        close(src);
        EVP_CIPHER_CTX_free(ctx);
    }
    return mbPerSecond(bytes, seconds() - t);
}

// Each file deflated on its own at level 1, as one object per file: adds to the time and size.
void deflateAlone(const std::vector<char> &file, double *secs, uint64_t *out)
{
    uLongf len = compressBound(file.size());
    std::vector<unsigned char> buf(len);
    const double t = seconds();
    compress2(buf.data(), &len, (const Bytef *)file.data(), file.size(), 1);
    *secs += seconds() - t;
    *out += len;
}

// The compressor small files that compress go through, alone on one core: the like-with-like
// baseline for the text import, whose target is set against zlib.
double libdeflateAlone(const std::vector<char> &file)
{
    static libdeflate_compressor *compressor = libdeflate_alloc_compressor(1);
    std::vector<unsigned char> buf(libdeflate_zlib_compress_bound(compressor, file.size()));
    const double t = seconds();
    libdeflate_zlib_compress(compressor, file.data(), file.size(), buf.data(), buf.size());
    return seconds() - t;
}

// With durable, each file is fsynced like a stored object is.
double plainCopy(const std::string &from, const std::string &to, bool durable = false)
{
    fsys::create_directories(to);
    std::vector<char> buf(kChunk);
    uint64_t bytes = 0;
    const double t = seconds();
    for (const auto &e : fsys::directory_iterator(from)) {
        std::ifstream in(e.path(), std::ios::binary);
        std::ofstream out(to + "/" + e.path().filename().string(), std::ios::binary);
        while (in.read(buf.data(), (std::streamsize)buf.size()) || in.gcount()) {
            out.write(buf.data(), in.gcount());
            bytes += (uint64_t)in.gcount();
        }
        out.close();
        if (durable) {
            const int fd = open((to + "/" + e.path().filename().string()).c_str(), O_RDONLY);
            fsync(fd);
            close(fd);
        }
    }
    return mbPerSecond(bytes, seconds() - t);
}

long outputBlocks()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_oublock;
}

long peakRssMiB()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

void incompressible(Vault &vault, const std::string &work, uint64_t bytes)
{
    const std::string src = work + "/Videos";
    fsys::create_directories(src);
    for (int i = 0; i < 4; i++) {
        std::ofstream out(src + "/video-" + std::to_string(i) + ".bin", std::ios::binary);
        for (uint64_t done = 0; done < bytes / 4; done += kChunk) {
            const auto chunk = randomBytes(kChunk, 100 * (uint64_t)i + done);
            out.write(chunk.data(), (std::streamsize)chunk.size());
        }
    }
    const uint64_t total = treeBytes(src);
    const double aes = aesAlone(total);
    sync();  // else the import's syncs would write the set just made, charged to no one here
    const long blocksBefore = outputBlocks();
    const double imp = mbPerSecond(total, vault.importFolder(src));
    const double writtenPerByte = (double)(outputBlocks() - blocksBefore) * 512 / (double)total;
    const double exp = mbPerSecond(total, vault.exportFolder("Videos", work + "/VideosOut"));
    const double copy = plainCopy(src, work + "/VideosCopy");
    const double durableCopy = plainCopy(src, work + "/VideosDurable", true);
    const double aesVolume = aesToVolume(src, work + "/VideosAes");
    printf("incompressible %4llu MiB: import %7.1f MB/s, AES alone %7.1f -> ratio %.2f (>= 0.5)\n",
           (unsigned long long)(total >> 20), imp, aes, imp / aes);
    printf("                          AES written to the volume, fsync per file %7.1f MB/s -> ratio %.2f "
           "(like with like)\n",
           aesVolume, imp / aesVolume);
    printf("                          bytes written per byte imported %.3f (<= 1.05; the process's ru_oublock, 0 "
           "on tmpfs)\n",
           writtenPerByte);
    printf("                          export %7.1f MB/s, plain copy %7.1f -> ratio %.2f (>= 0.8)\n", exp,
           copy, exp / copy);
    printf("                          the volume itself: copy with fsync per file %7.1f MB/s -> import/that "
           "%.2f\n",
           durableCopy, imp / durableCopy);
    fsys::remove_all(src);
    fsys::remove_all(work + "/VideosOut");
    fsys::remove_all(work + "/VideosCopy");
    fsys::remove_all(work + "/VideosDurable");
    fsys::remove_all(work + "/VideosAes");
}

// Storage used by importing src into the root under a fresh name each time.
uint64_t storedBytes(Vault &vault, const std::string &src, double *secs)
{
    std::string store;
    {
        auto engine = XXDiskFileManager::lockEngine();
        store = fs_store_dir();
    }
    const uint64_t before = treeBytes(store);
    *secs = vault.importFolder(src);
    return treeBytes(store) - before;
}

// Four large text files: compressed in parallel blocks, against one core deflating them and
// against the single-stream writer's stored size.
void largeText(Vault &vault, const std::string &work, uint64_t bytes)
{
    const std::string src = work + "/Reports";
    fsys::create_directories(src);
    double deflateSecs = 0;
    uint64_t deflated = 0;
    for (int i = 0; i < 4; i++) {
        std::ofstream out(src + "/report-" + std::to_string(i) + ".txt", std::ios::binary);
        z_stream z{};
        deflateInit(&z, 1);
        std::vector<unsigned char> buf(compressBound(kChunk));
        for (uint64_t done = 0; done < bytes / 4; done += kChunk) {
            auto chunk = textLikeBytes(kChunk, 500 + 37 * (uint64_t)i + done);
            out.write(chunk.data(), (std::streamsize)chunk.size());
            const double t = seconds();
            z.next_in = (Bytef *)chunk.data();
            z.avail_in = (uInt)chunk.size();
            const bool end = done + kChunk >= bytes / 4;
            do {
                z.next_out = buf.data();
                z.avail_out = (uInt)buf.size();
                deflate(&z, end ? Z_FINISH : Z_NO_FLUSH);
            } while (z.avail_out == 0);
            deflateSecs += seconds() - t;
        }
        deflated += z.total_out;
        deflateEnd(&z);
    }
    const uint64_t total = treeBytes(src);
    double blocksSecs = 0, singleSecs = 0;
    const uint64_t blocks = storedBytes(vault, src, &blocksSecs);
    fsys::rename(src, work + "/Reports1");
    fs_set_deflate_threads(-1);
    const uint64_t single = storedBytes(vault, work + "/Reports1", &singleSecs);
    fs_set_deflate_threads(0);
    const double imp = mbPerSecond(total, blocksSecs), deflateRate = mbPerSecond(total, deflateSecs);
    printf(
        "large text %4llu MiB in 4 files: import %7.1f MB/s, deflate-1 alone %7.1f -> ratio %.2f (>= 1.6)\n",
        (unsigned long long)(total >> 20), imp, deflateRate, imp / deflateRate);
    printf("                          single-stream writer %7.1f MB/s; stored %llu vs its %llu -> ratio %.3f "
           "(deflated alone %llu)\n",
           mbPerSecond(total, singleSecs), (unsigned long long)blocks, (unsigned long long)single,
           (double)blocks / (double)single, (unsigned long long)deflated);
    fsys::remove_all(work + "/Reports1");
}

// What the volume itself takes: count new files of size bytes each, spread over 256 folders as
// objects are, with one syncfs per 256 files as the import commits them. In MB/s of source
// bytes (sourceBytes in all), so it compares with the import's rate.
double filesToVolume(const std::string &to, uint64_t count, size_t size, uint64_t sourceBytes)
{
    const auto bytes = randomBytes(size, 77);
    const double t = seconds();
    for (int d = 0; d < 256; d++)
        fsys::create_directories(to + "/" + std::to_string(d));
    int syncFd = open(to.c_str(), O_RDONLY | O_DIRECTORY);
    for (uint64_t i = 0; i < count; i++) {
        const std::string path = to + "/" + std::to_string(i % 256) + "/" + std::to_string(i);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size())
            perror("write");
        close(fd);
        if (i % 256 == 255)
            syncfs(syncFd);
    }
    syncfs(syncFd);
    close(syncFd);
    const double secs = seconds() - t;
    fsys::remove_all(to);
    return mbPerSecond(sourceBytes, secs);
}

void text(Vault &vault, const std::string &work, uint64_t bytes)
{
    const std::string src = work + "/Texts";
    constexpr size_t kSize = 40u << 10;
    double deflateSecs = 0, libdeflateSecs = 0;
    uint64_t deflatedBytes = 0, count = 0;
    for (uint64_t i = 0; i * kSize < bytes; i++, count++) {
        const std::string folder = src + "/notes-" + std::to_string(i / 100);
        if (i % 100 == 0)
            fsys::create_directories(folder);
        const auto file = textLikeBytes(kSize, 1000 + i);
        deflateAlone(file, &deflateSecs, &deflatedBytes);
        libdeflateSecs += libdeflateAlone(file);
        writeLocal(folder + "/note-" + std::to_string(i) + ".txt", file);
    }
    const uint64_t total = treeBytes(src);
    const double deflateRate = mbPerSecond(total, deflateSecs);
    // Else the import's first commit (a syncfs) would write the set just made.
    sync();
    std::string store;
    {
        auto engine = XXDiskFileManager::lockEngine();
        store = fs_store_dir();
    }
    const uint64_t before = treeBytes(store);
    const double imp = mbPerSecond(total, vault.importFolder(src));
    const uint64_t stored = treeBytes(store) - before;
    const double exp = mbPerSecond(total, vault.exportFolder("Texts", work + "/TextsOut"));
    fsys::rename(src, work + "/Texts1");
    sync();
    XXImportReadAhead::setThreads(-1);
    const double serial = mbPerSecond(total, vault.importFolder(work + "/Texts1"));
    XXImportReadAhead::setThreads(0);
    fsys::rename(work + "/Texts1", src);
    printf("text %4llu MiB in %zu files: import %7.1f MB/s, deflate-1 alone %7.1f -> ratio %.2f (>= 1.6)\n",
           (unsigned long long)(total >> 20), (size_t)count, imp, deflateRate, imp / deflateRate);
    printf("                          without read-ahead %7.1f MB/s -> ratio %.2f\n", serial,
           serial / deflateRate);
    const double libdeflateRate = mbPerSecond(total, libdeflateSecs);
    printf("                          libdeflate-1 alone %7.1f MB/s -> ratio %.2f (like with like)\n",
           libdeflateRate, imp / libdeflateRate);
    const double volume = filesToVolume(work + "/TextsVolume", count, (size_t)(stored / count), total);
    printf("                          the volume itself: as many files of the stored size, syncfs per 256 "
           "%7.1f MB/s -> import/that %.2f\n",
           volume, imp / volume);
    printf("                          stored %llu bytes, deflated alone %llu -> ratio %.3f (<= 1.02); export "
           "%.1f MB/s\n",
           (unsigned long long)stored, (unsigned long long)deflatedBytes,
           (double)stored / (double)deflatedBytes, exp);
    fsys::remove_all(src);
    fsys::remove_all(work + "/TextsOut");
}

}  // namespace

int main(int argc, char **argv)
{
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    auto wanted = [&](const std::string &part) {
        if (argc <= 2)
            return true;
        for (int i = 2; i < argc; i++)
            if (argv[i] == part)
                return true;
        return false;
    };
    std::string pattern = (fsys::temp_directory_path() / "coffervale-speed-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        return 1;
    }
    const std::string work = pattern;
    fsys::create_directories(work + "/volume");
    {
        Vault vault(work + "/volume");
        if (wanted("incompressible"))
            incompressible(vault, work, mib << 20);
        if (wanted("large"))
            largeText(vault, work, mib << 20);
        if (wanted("text"))
            text(vault, work, mib << 20);
    }
    printf("peak resident size: %ld MiB (< 300); %u cores\n", peakRssMiB(),
           std::thread::hardware_concurrency());
    fsys::remove_all(work);
    return 0;
}
