// The transfer pipelines against the engine they drive: a folder of mixed files (a few large
// random files, many small text files) imported and exported whole, beside the engine's raw
// write and read rates for the same kinds of content, measured in the same run; and 10,000
// small files imported into one folder, whose index is rewritten for every file.
//
// Usage: pipeline_bench [MiB]   (the size of the mixed folder; 1024 by default)
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "XXDiskFileManager.h"
#include "XXFileWrapper.h"
#include "XXNotificationCenter.h"
#include "fs.h"

using namespace bench;

namespace {

constexpr size_t kChunk = 2u << 20;
constexpr size_t kSmallFileSize = 40u << 10;
constexpr int kSmallPerFolder = 100;

struct MixedSet {
    uint64_t randomBytes = 0;
    uint64_t textBytes = 0;
    int files = 0;
};

std::string makeTempFolder(const char *name)
{
    std::string pattern = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data())) {
        perror("mkdtemp");
        std::exit(1);
    }
    return buffer.data();
}

void writeLocal(const std::string &path, const std::vector<char> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

// Four large random files take 80% of the size; 40 KiB text files, 100 to a folder, the rest.
MixedSet makeMixedFolder(const std::string &root, uint64_t totalBytes)
{
    MixedSet set;
    std::filesystem::create_directories(root);
    const uint64_t large = totalBytes * 4 / 5 / 4;
    for (int i = 0; i < 4; i++) {
        // Written a chunk at a time, so the benchmark's own memory stays small.
        std::ofstream out(root + "/video-" + std::to_string(i) + ".bin", std::ios::binary | std::ios::trunc);
        for (uint64_t done = 0; done < large; done += kChunk) {
            const size_t length = (size_t)std::min<uint64_t>(kChunk, large - done);
            const std::vector<char> chunk = randomBytes(length, 100 * (uint64_t)i + done);
            out.write(chunk.data(), (std::streamsize)chunk.size());
        }
        set.randomBytes += large;
        set.files++;
    }
    const int smallFiles = (int)((totalBytes - set.randomBytes) / kSmallFileSize);
    for (int i = 0; i < smallFiles; i++) {
        const std::string folder = root + "/notes-" + std::to_string(i / kSmallPerFolder);
        if (i % kSmallPerFolder == 0)
            std::filesystem::create_directories(folder);
        writeLocal(folder + "/note-" + std::to_string(i) + ".txt",
                   textLikeBytes(kSmallFileSize, 1000 + (uint64_t)i));
        set.textBytes += kSmallFileSize;
        set.files++;
    }
    return set;
}

// The engine on its own: one file written from memory and read back, in 2 MiB calls.
struct RawRates {
    double write = 0;
    double read = 0;
};

RawRates rawEngine(const std::vector<char> &data, const std::string &name)
{
    auto engine = XXDiskFileManager::lockEngine();
    RawRates rates;
    double t = seconds();
    int h = fs_open(name.c_str(), FS_O_WRITE, (uint64_t)data.size());
    for (size_t off = 0; off < data.size(); off += kChunk)
        fs_write(h, data.data() + off, (uint32_t)std::min(kChunk, data.size() - off));
    fs_close(h);
    rates.write = mbPerSecond(data.size(), seconds() - t);

    std::vector<char> buffer(kChunk);
    t = seconds();
    h = fs_open(name.c_str(), FS_O_READ);
    uint64_t total = 0;
    int n;
    while ((n = fs_read(h, buffer.data(), (uint32_t)buffer.size())) > 0)
        total += (uint64_t)n;
    fs_close(h);
    rates.read = mbPerSecond(total, seconds() - t);
    fs_unlink(name.c_str());
    return rates;
}

// What the raw rates predict for a mix: the time each kind takes, added up.
double mixedRate(const MixedSet &set, double randomRate, double textRate)
{
    const double secs = (double)set.randomBytes / 1e6 / randomRate + (double)set.textBytes / 1e6 / textRate;
    return (double)(set.randomBytes + set.textBytes) / 1e6 / secs;
}

long peakRssMiB()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

std::shared_ptr<XXProtectFileWrapper> rootEntry(XXDiskFileManager &manager)
{
    std::shared_ptr<XXProtectFileWrapper> container;
    manager.acquireProtectFileWithComplete(
        [&](const XXDiskResultObject &r) { container = r.successWrapper(); });
    return container->allSubFileArray().front();
}

bool report(const char *what, const XXDiskResultObject &result)
{
    if (result.isSuccess())
        return true;
    fprintf(stderr, "%s: %s code %lld (%s%s)\n", what, result.errorArea().c_str(),
            (long long)result.errorCode(), result.errorFileName().c_str(), result.existFileName().c_str());
    return false;
}

void mixedFolder(XXDiskFileManager &manager, const std::string &work, uint64_t totalBytes)
{
    const std::string source = work + "/Mixed";
    printf("preparing %llu MiB of mixed files...\n", (unsigned long long)(totalBytes >> 20));
    const MixedSet set = makeMixedFolder(source, totalBytes);
    const uint64_t bytes = set.randomBytes + set.textBytes;
    printf("mixed folder: %d files, %llu MiB random in 4 files, %llu MiB text in 40 KiB files\n", set.files,
           (unsigned long long)(set.randomBytes >> 20), (unsigned long long)(set.textBytes >> 20));

    auto root = rootEntry(manager);
    bool ok = false;
    double t = seconds();
    manager.importJob().start({XXFileWrapper::initWithURL(source)}, root,
                              [&](const XXDiskResultObject &r) { ok = report("import", r); });
    const double importSecs = seconds() - t;
    if (!ok)
        return;
    printf("import pipeline (computer -> vault):        %7.1f MB/s  (%.1f s)\n",
           mbPerSecond(bytes, importSecs), importSecs);

    const std::string out = work + "/Exported";
    std::filesystem::create_directories(out);
    auto destination = XXFileWrapper::initWithURL(out);
    t = seconds();
    manager.exportJob().start({root->allSubFileArray().back()}, destination,
                              [&](const XXDiskResultObject &r) { ok = report("export", r); });
    const double exportSecs = seconds() - t;
    if (!ok)
        return;
    printf("export pipeline (vault -> computer):        %7.1f MB/s  (%.1f s)\n",
           mbPerSecond(bytes, exportSecs), exportSecs);
    printf("peak resident memory of the process up to here: %ld MiB\n", peakRssMiB());
    std::filesystem::remove_all(source);
    std::filesystem::remove_all(out);

    const RawRates random = rawEngine(randomBytes(256u << 20, 7), "raw-random.bin");
    const RawRates text = rawEngine(textLikeBytes(256u << 20, 8), "raw-text.txt");
    printf("engine raw, 256 MiB from memory:  random write %7.1f  read %7.1f MB/s | text write %7.1f  read "
           "%7.1f MB/s\n",
           random.write, random.read, text.write, text.read);
    printf("engine raw, predicted for this mix:         write %7.1f  read %7.1f MB/s\n",
           mixedRate(set, random.write, text.write), mixedRate(set, random.read, text.read));
}

// 10,000 small files as one selection into one folder; the progress hook marks each item.
void manySmallFiles(XXDiskFileManager &manager, const std::string &work)
{
    constexpr int kFiles = 10000;
    constexpr int kBatch = 1000;
    const std::string source = work + "/Small";
    std::filesystem::create_directories(source);
    XXFileArray items;
    const std::vector<char> content = textLikeBytes(300, 3);
    for (int i = 0; i < kFiles; i++) {
        const std::string path = source + "/small-" + std::to_string(i) + ".txt";
        writeLocal(path, content);
        items.push_back(XXFileWrapper::initWithURL(path));
    }
    manager.createDirInFolderPath("/", "Many", nullptr);
    auto root = rootEntry(manager);
    std::shared_ptr<XXProtectFileWrapper> many;
    for (const auto &child : root->allSubFileArray())
        if (child->fileName() == "Many")
            many = child;

    std::vector<double> starts;
    starts.reserve(2 * kFiles);
    manager.importJob().setProgressBlock([&](uint64_t, uint64_t, const std::string &name) {
        if (name.rfind("small-", 0) == 0)
            starts.push_back(seconds());
    });
    bool ok = false;
    const double begin = seconds();
    manager.importJob().start(items, many, [&](const XXDiskResultObject &r) { ok = report("many", r); });
    const double end = seconds();
    manager.importJob().setProgressBlock(nullptr);
    if (!ok)
        return;
    // The hook runs at each item's start and after its one chunk: every other mark.
    std::vector<double> itemStarts;
    for (size_t i = 0; i < starts.size(); i += 2)
        itemStarts.push_back(starts[i]);
    printf("10,000 small files into one folder: %.1f s in all\n", end - begin);
    for (int b = 0; b < kFiles / kBatch; b++) {
        const double from = itemStarts[(size_t)(b * kBatch)];
        const double to = b + 1 < kFiles / kBatch ? itemStarts[(size_t)((b + 1) * kBatch)] : end;
        printf("  files %5d to %5d: %6.2f ms per file\n", b * kBatch + 1, (b + 1) * kBatch,
               (to - from) / kBatch * 1e3);
    }
    std::filesystem::remove_all(source);
}

}  // namespace

int main(int argc, char **argv)
{
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string work = makeTempFolder("coffervale-pipeline-bench");
    const std::string volume = work + "/volume";
    std::filesystem::create_directories(volume);
    printf("work folder: %s\n", work.c_str());

    XXNotificationCenter center;
    XXDiskFileManager manager(center);
    bool ready = true;
    manager.startManagerWithDiskPath(volume, [&](const XXDiskResultObject &r) { ready &= r.isSuccess(); });
    manager.createAccountWithPassword("Bench#2026", "",
                                      [&](const XXDiskResultObject &r) { ready &= r.isSuccess(); });
    manager.loginWithPassword("Bench#2026", [&](const XXDiskResultObject &r) { ready &= r.isSuccess(); });
    if (!ready) {
        fprintf(stderr, "cannot open a vault in %s\n", volume.c_str());
        return 1;
    }

    mixedFolder(manager, work, mib << 20);
    manySmallFiles(manager, work);

    manager.logOutComplete(nullptr);
    std::filesystem::remove_all(work);
    return 0;
}
