// Throughput of the store engine's write and read paths beside zlib and AES on their own,
// and the cost of adding a file to a folder that already holds many.
#include <openssl/evp.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "fs.h"

using namespace bench;

namespace {

const size_t kSize = 256u << 20;
const size_t kChunk = 2u << 20;

struct Stages {
    double deflate = 0, encrypt = 0, decrypt = 0, inflate = 0;
    size_t compressed = 0;
};

std::vector<unsigned char> deflateAll(const std::vector<char> &data, double *secs)
{
    std::vector<unsigned char> out(compressBound(data.size()) + 1024);
    z_stream z{};
    deflateInit(&z, 1);
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    double t = seconds();
    for (size_t off = 0; off < data.size(); off += kChunk) {
        z.next_in = (Bytef *)data.data() + off;
        z.avail_in = (uInt)std::min(kChunk, data.size() - off);
        deflate(&z, Z_NO_FLUSH);
    }
    deflate(&z, Z_FINISH);
    *secs = seconds() - t;
    out.resize(z.total_out + (16 - z.total_out % 16) % 16);
    deflateEnd(&z);
    return out;
}

double aesAll(std::vector<unsigned char> &buf, bool encrypt)
{
    unsigned char key[32] = {1, 2, 3}, iv[16] = {4, 5, 6};
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    double t = seconds();
    for (size_t off = 0; off < buf.size(); off += kChunk) {
        int n = 0;
        int len = (int)std::min(kChunk, buf.size() - off);
        EVP_CipherUpdate(ctx, buf.data() + off, &n, buf.data() + off, len);
    }
    double secs = seconds() - t;
    EVP_CIPHER_CTX_free(ctx);
    return secs;
}

double inflateAll(const std::vector<unsigned char> &z, size_t expect)
{
    std::vector<char> out(kChunk);
    z_stream s{};
    inflateInit(&s);
    s.next_in = (Bytef *)z.data();
    s.avail_in = (uInt)z.size();
    size_t total = 0;
    double t = seconds();
    int ret;
    do {
        s.next_out = (Bytef *)out.data();
        s.avail_out = (uInt)out.size();
        ret = inflate(&s, Z_NO_FLUSH);
        total += out.size() - s.avail_out;
    } while (ret == Z_OK);
    double secs = seconds() - t;
    inflateEnd(&s);
    if (total != expect)
        fprintf(stderr, "inflate produced %zu of %zu bytes\n", total, expect);
    return secs;
}

Stages measureStages(const std::vector<char> &data)
{
    Stages s;
    std::vector<unsigned char> z = deflateAll(data, &s.deflate);
    s.compressed = z.size();
    s.encrypt = aesAll(z, true);
    s.decrypt = aesAll(z, false);
    s.inflate = inflateAll(z, data.size());
    return s;
}

double engineWrite(const std::vector<char> &data, const std::string &name)
{
    double t = seconds();
    int h = fs_open(name.c_str(), FS_O_WRITE, (uint64_t)data.size());
    for (size_t off = 0; off < data.size(); off += kChunk)
        fs_write(h, data.data() + off, (uint32_t)std::min(kChunk, data.size() - off));
    fs_close(h);
    return seconds() - t;
}

double engineRead(const std::string &name, size_t expect)
{
    std::vector<char> buf(kChunk);
    double t = seconds();
    int h = fs_open(name.c_str(), FS_O_READ);
    size_t total = 0;
    int n;
    while ((n = fs_read(h, buf.data(), (uint32_t)buf.size())) > 0)
        total += (size_t)n;
    fs_close(h);
    double secs = seconds() - t;
    if (total != expect)
        fprintf(stderr, "engine read %zu of %zu bytes\n", total, expect);
    return secs;
}

void throughput(const char *label, const std::vector<char> &data)
{
    Stages s = measureStages(data);
    double w = engineWrite(data, label);
    double r = engineRead(label, data.size());
    double separateWrite = s.deflate + s.encrypt;
    double separateRead = s.decrypt + s.inflate;
    // AES runs over the compressed bytes; every other rate is of the file's own bytes.
    printf("%-10s (%zu MiB, compresses to %.0f%%)\n", label, kSize >> 20,
           100.0 * (double)s.compressed / kSize);
    printf("  deflate %7.1f  AES-enc %7.1f  AES-dec %7.1f  inflate %7.1f  | engine write %7.1f  read %7.1f "
           "MB/s\n",
           mbPerSecond(kSize, s.deflate), mbPerSecond(s.compressed, s.encrypt),
           mbPerSecond(s.compressed, s.decrypt), mbPerSecond(kSize, s.inflate), mbPerSecond(kSize, w),
           mbPerSecond(kSize, r));
    printf("  write / (deflate then AES) = %.2f   read / (decrypt then inflate) = %.2f\n", separateWrite / w,
           separateRead / r);
}

// Seconds to add one small file to a folder that already holds n - 1 files.
void nthFileCost()
{
    fs_mkdir("many");
    const int marks[] = {1000, 10000};
    int next = 0;
    const int window = 20;
    double windowStart = 0;
    for (int i = 1; i <= 10000 + window / 2; i++) {
        if (next < 2 && i == marks[next] - window / 2)
            windowStart = seconds();
        std::string path = "many/file-" + std::to_string(i) + ".txt";
        int h = fs_open(path.c_str(), FS_O_WRITE, (uint64_t)5);
        fs_write(h, "hello", 5);
        fs_close(h);
        if (next < 2 && i == marks[next] + window / 2 - 1) {
            double per = (seconds() - windowStart) / window;
            printf("creating file number %5d in one folder: %.2f ms\n", marks[next], per * 1e3);
            next++;
        }
    }
}

}  // namespace

int main()
{
    std::string base = std::filesystem::temp_directory_path() / "coffervale-bench-XXXXXX";
    std::vector<char> tmpl(base.begin(), base.end());
    tmpl.push_back(0);
    if (!mkdtemp(tmpl.data()))
        return 1;
    std::string volume = tmpl.data();
    printf("volume: %s\n", volume.c_str());
    fs_mount(volume.c_str());
    fs_mkfs("Bench#2026", "");

    throughput("random", randomBytes(kSize, 1));
    throughput("text-like", textLikeBytes(kSize, 2));
    nthFileCost();

    fs_umount();
    std::filesystem::remove_all(volume);
    return 0;
}
