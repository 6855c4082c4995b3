// 10,000 files of 4 KiB, in one folder or spread over 100, imported into a vault and exported
// again, against the archivers a person would otherwise use, measured in the same run:
//   one folder / over 100 folders, import and export             (target <= 1.3)
//   per-file cost of files 9,001-10,000 / files 1-1,000          (target <= 1.2)
//   import / tar | gzip -1 | openssl enc                         (target <= 2)
//   import / 7-Zip zip with AES, -mx1, one folder                (target <= 0.7)
//   bytes the file system is made to write per byte imported     (target <= 1.5): the process's
//     output blocks (getrusage's ru_oublock, 0 on tmpfs and on FUSE) and, where the volume is
//     a block device (or COFFERVALE_BENCH_DEVICE names one, for a FUSE mount), what that
//     device wrote; next to what cp -r of the same files makes it write, the volume's own cost
//     of 10,000 new files (on ext4 without a journal, its metadata is booked to the process)
//   fsync and syncfs calls per 1,000 files, counted by wrapping the calls in this program
//   files per second against cp -r onto the same volume          (aim >= 0.5 on exFAT)
//
// Each import and each other tool's archive ends durable: the tools' times are shown as they
// end and with one syncfs of the volume after them (the fair one, and the one the ratios use).
// The tools are called when installed (Debian: p7zip-full, tar, gzip, openssl) and reported as
// "not installed" otherwise. Every case runs twice, alternated, and the faster time is kept:
// the machine is shared and its volume's speed swings.
//
// Usage: small_files_bench [VOLUME [SOURCES]]   The vault, the archives and the copies go to
// VOLUME ($TMPDIR by default); the files to import and the exported ones to SOURCES ($TMPDIR;
// /dev/shm keeps the computer's side out of the measurement). On ext4, files created within a
// minute of deleting many are made several times more slowly (the allocator steps over recently
// freed inodes), so give a volume that just lost many files a minute's pause.
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchVault.h"

using namespace bench;
namespace fsys = std::filesystem;

// Every fsync and syncfs of the process goes through these, the engine's included.
namespace {
std::atomic<unsigned long> fsyncCalls{0}, syncfsCalls{0};

template <typename F> F realCall(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int fsync(int fd)
{
    static auto real = realCall<int (*)(int)>("fsync");
    fsyncCalls++;
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static auto real = realCall<int (*)(int)>("fdatasync");
    fsyncCalls++;
    return real(fd);
}

extern "C" int syncfs(int fd)
{
    static auto real = realCall<int (*)(int)>("syncfs");
    syncfsCalls++;
    return real(fd);
}

namespace {

constexpr int kFiles = 10000;
constexpr size_t kFileSize = 4096;
const char *kPassword = "Bench#2026";

void writeLocal(const std::string &path, const std::vector<char> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

bool installed(const char *tool)
{
    return system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string quoted(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void syncVolume(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    syncfs(fd);
    close(fd);
}

uint64_t outputBytes(int who = RUSAGE_SELF)
{
    struct rusage usage {};
    getrusage(who, &usage);
    return (uint64_t)usage.ru_oublock * 512;
}

// The sysfs statistics of the block device that holds path, or of COFFERVALE_BENCH_DEVICE.
std::string deviceStatFile(const std::string &path)
{
    struct stat st {};
    dev_t dev = 0;
    if (const char *named = getenv("COFFERVALE_BENCH_DEVICE")) {
        if (stat(named, &st) == 0 && S_ISBLK(st.st_mode))
            dev = st.st_rdev;
    } else if (stat(path.c_str(), &st) == 0) {
        dev = st.st_dev;
    }
    const std::string file =
        "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)) + "/stat";
    return dev && major(dev) && fsys::exists(file) ? file : std::string();
}

// Sectors written, the seventh field; -1 without a device.
int64_t deviceWrittenBytes(const std::string &statFile)
{
    if (statFile.empty())
        return -1;
    std::ifstream in(statFile);
    uint64_t fields[7] = {};
    for (uint64_t &f : fields)
        in >> f;
    return (int64_t)(fields[6] * 512);
}

struct Written {
    uint64_t process;
    int64_t device;
    unsigned long fsyncs, syncfss;
};

Written writtenNow(const std::string &statFile)
{
    return {outputBytes(), deviceWrittenBytes(statFile), fsyncCalls.load(), syncfsCalls.load()};
}

Written since(const Written &before, const std::string &statFile)
{
    Written now = writtenNow(statFile);
    return {now.process - before.process, before.device < 0 ? -1 : now.device - before.device,
            now.fsyncs - before.fsyncs, now.syncfss - before.syncfss};
}

// The two sets, made once on the computer's side; renamed between rounds so that each import
// gets a fresh name in the vault without deleting anything from the volume.
void makeSet(const std::string &root, int folders)
{
    for (int i = 0; i < kFiles; i++) {
        const std::string folder = folders == 1 ? root : root + "/f" + std::to_string(i % folders);
        if (i < folders)
            fsys::create_directories(folder);
        writeLocal(folder + "/small-" + std::to_string(i) + ".txt", textLikeBytes(kFileSize, 3 + (uint64_t)i));
    }
}

struct Case {
    double importSecs = 1e9, exportSecs = 1e9;
    double firstPerFile = 0, lastPerFile = 0;
    Written written{};
};

void keepBetter(Case &best, const Case &run)
{
    if (run.importSecs < best.importSecs) {
        best.importSecs = run.importSecs;
        best.firstPerFile = run.firstPerFile;
        best.lastPerFile = run.lastPerFile;
        best.written = run.written;
    }
    best.exportSecs = std::min(best.exportSecs, run.exportSecs);
}

// The import of one set into the vault's top folder, then its export; the progress block marks
// each file's start.
Case coffervale(Vault &vault, const std::string &set, const std::string &exportTo, const std::string &volume)
{
    std::map<std::string, double> firstSeen;
    std::vector<double> starts;
    starts.reserve(kFiles);
    vault.manager().importJob().setProgressBlock([&](uint64_t, uint64_t, const std::string &file) {
        if (file.rfind("small-", 0) == 0 && firstSeen.emplace(file, 0).second)
            starts.push_back(seconds());
    });
    const std::string statFile = deviceStatFile(volume);
    syncVolume(volume);
    const Written before = writtenNow(statFile);
    Case run;
    run.importSecs = vault.importFolder(set);
    syncVolume(volume);  // a no-op for the import, which ends durable; counts the device's writes
    run.written = since(before, statFile);
    run.written.syncfss--;
    vault.manager().importJob().setProgressBlock(nullptr);
    if (starts.size() >= (size_t)kFiles) {
        run.firstPerFile = (starts[1000] - starts[0]) / 1000;
        run.lastPerFile = (starts[kFiles - 1] - starts[kFiles - 1001]) / 1000;
    }
    run.exportSecs = vault.exportFolder(fsys::path(set).filename().string(), exportTo);
    fsys::remove_all(exportTo);
    return run;
}

struct Tool {
    double secs = 1e9, durableSecs = 1e9, exportSecs = 1e9;
    bool ran = false;
};

double runShell(const std::string &command)
{
    const double t = seconds();
    if (system(command.c_str()) != 0) {
        fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return seconds() - t;
}

// One archive of the set written to the volume, timed as it ends and once flushed; then
// extracted again to exportTo.
void archive(Tool &best, const std::string &pack, const std::string &unpack, const std::string &archivePath,
             const std::string &volume, const std::string &exportTo)
{
    const double t = seconds();
    const double secs = runShell(pack);
    syncVolume(volume);
    const double durable = seconds() - t;
    fsys::create_directories(exportTo);
    const double out = runShell(unpack);
    fsys::remove_all(exportTo);
    fsys::remove(archivePath);
    best.secs = std::min(best.secs, secs);
    best.durableSecs = std::min(best.durableSecs, durable);
    best.exportSecs = std::min(best.exportSecs, out);
    best.ran = true;
}

void tarGzipOpenssl(Tool &best, const std::string &set, const std::string &volume, const std::string &exportTo)
{
    const fsys::path p(set);
    const std::string out = volume + "/bench-archive.tar.gz.enc";
    const std::string pass = std::string(" -pbkdf2 -pass pass:") + kPassword;
    archive(best,
            "tar -C " + quoted(p.parent_path()) + " -cf - " + quoted(p.filename()) +
                " | gzip -1 | openssl enc -aes-256-cbc" + pass + " -out " + quoted(out),
            "openssl enc -d -aes-256-cbc" + pass + " -in " + quoted(out) + " | gzip -d | tar -C " +
                quoted(exportTo) + " -xf -",
            out, volume, exportTo);
}

void sevenZip(Tool &best, const std::string &set, const std::string &volume, const std::string &exportTo)
{
    const fsys::path p(set);
    const std::string out = volume + "/bench-archive.zip";
    const std::string quiet = " -bd -bso0 -bsp0 -p" + std::string(kPassword);
    archive(best,
            "cd " + quoted(p.parent_path()) + " && 7z a -tzip -mx=1 -mem=AES256" + quiet + " " + quoted(out) +
                " " + quoted(p.filename()),
            "7z x" + quiet + " -o" + quoted(exportTo) + " " + quoted(out), out, volume, exportTo);
}

struct Copy {
    double secs = 1e9;
    Written written{};  // the copy's own, read from its finished child processes
};

// A plain copy onto the volume, flushed at the end; kept until the end, so that no deletion
// slows the volume's next file creations. What it makes the file system write is the volume's
// own cost of 10,000 new files (a volume without a journal books its metadata to the writer).
void plainCopy(Copy &best, const std::string &set, const std::string &to, const std::string &volume)
{
    const std::string statFile = deviceStatFile(volume);
    syncVolume(volume);
    const uint64_t childrenBefore = outputBytes(RUSAGE_CHILDREN);
    const int64_t deviceBefore = deviceWrittenBytes(statFile);
    const double t = seconds();
    runShell("cp -r " + quoted(set) + " " + quoted(to));
    syncVolume(volume);
    const double secs = seconds() - t;
    if (secs < best.secs) {
        best.secs = secs;
        best.written.process = outputBytes(RUSAGE_CHILDREN) - childrenBefore;
        best.written.device = deviceBefore < 0 ? -1 : deviceWrittenBytes(statFile) - deviceBefore;
    }
}

void printTool(const char *name, const Tool &tool)
{
    if (!tool.ran) {
        printf("  %-26s not installed\n", name);
        return;
    }
    printf("  %-26s import %5.2f s (%5.2f s flushed)  export %5.2f s\n", name, tool.secs, tool.durableSecs,
           tool.exportSecs);
}

void printWritten(const char *name, const Case &c, const Copy &copy)
{
    const double input = (double)kFiles * kFileSize;
    printf("  %-26s bytes written per byte: process %.2f", name, (double)c.written.process / input);
    if (c.written.device >= 0)
        printf(", device %.2f", (double)c.written.device / input);
    printf(" (<= 1.5); per 1,000 files %.1f fsync, %.1f syncfs\n", c.written.fsyncs * 1000.0 / kFiles,
           c.written.syncfss * 1000.0 / kFiles);
    printf("  %-26s cp -r's own: process %.2f", "", (double)copy.written.process / input);
    if (copy.written.device >= 0)
        printf(", device %.2f", (double)copy.written.device / input);
    printf("\n");
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string tmp = fsys::temp_directory_path().string();
    const std::string volumeRoot = argc > 1 ? argv[1] : tmp;
    const std::string sourceRoot = argc > 2 ? argv[2] : tmp;
    std::string volume = volumeRoot + "/coffervale-small-bench-XXXXXX";
    std::string sources = sourceRoot + "/coffervale-small-sources-XXXXXX";
    if (!mkdtemp(volume.data()) || !mkdtemp(sources.data())) {
        perror("mkdtemp");
        return 1;
    }
    makeSet(sources + "/OneFolder", 1);
    makeSet(sources + "/Spread", 100);

    // COFFERVALE_BENCH_ONLY_VAULT=1 leaves the other tools out, for profiling the import alone.
    const bool others = !getenv("COFFERVALE_BENCH_ONLY_VAULT");
    const bool haveTar = others && installed("tar") && installed("gzip") && installed("openssl");
    const bool have7z = others && installed("7z");
    Case one, spread;
    Tool tarOne, tarSpread, zipOne, zipSpread;
    Copy copyOne, copySpread;
    {
        Vault vault(volume);
        for (int round = 0; round < 2; round++) {
            const std::string r = std::to_string(round);
            if (round) {
                fsys::rename(sources + "/OneFolder", sources + "/OneFolder" + r);
                fsys::rename(sources + "/Spread", sources + "/Spread" + r);
            }
            const std::string oneSet = sources + "/OneFolder" + (round ? r : "");
            const std::string spreadSet = sources + "/Spread" + (round ? r : "");
            keepBetter(one, coffervale(vault, oneSet, sources + "/out", volume));
            keepBetter(spread, coffervale(vault, spreadSet, sources + "/out", volume));
            if (haveTar) {
                tarGzipOpenssl(tarOne, oneSet, volume, sources + "/out");
                tarGzipOpenssl(tarSpread, spreadSet, volume, sources + "/out");
            }
            if (have7z) {
                sevenZip(zipOne, oneSet, volume, sources + "/out");
                sevenZip(zipSpread, spreadSet, volume, sources + "/out");
            }
            plainCopy(copyOne, oneSet, volume + "/copy-one-" + r, volume);
            plainCopy(copySpread, spreadSet, volume + "/copy-spread-" + r, volume);
        }
    }

    printf("10,000 x 4 KiB, vault on %s, files from %s (best of 2 runs each)\n", volumeRoot.c_str(),
           sourceRoot.c_str());
    printf("  %-26s import %5.2f s  export %5.2f s\n", "Coffervale, one folder", one.importSecs, one.exportSecs);
    printf("  %-26s import %5.2f s  export %5.2f s\n", "Coffervale, 100 folders", spread.importSecs,
           spread.exportSecs);
    printTool("tar|gzip -1|openssl, one", tarOne);
    printTool("tar|gzip -1|openssl, 100", tarSpread);
    printTool("7-Zip zip AES -mx1, one", zipOne);
    printTool("7-Zip zip AES -mx1, 100", zipSpread);
    printf("  %-26s %5.2f s one folder, %5.2f s 100 folders (flushed)\n", "cp -r", copyOne.secs,
           copySpread.secs);
    printf("ratios\n");
    printf("  one / 100 folders: import %.2f, export %.2f (<= 1.3)\n", one.importSecs / spread.importSecs,
           one.exportSecs / spread.exportSecs);
    printf("  per file, one folder: files 1-1000 %.3f ms, 9001-10000 %.3f ms -> %.2f (<= 1.2)\n",
           one.firstPerFile * 1e3, one.lastPerFile * 1e3, one.lastPerFile / one.firstPerFile);
    if (tarOne.ran)
        printf("  import / tar|gzip|openssl flushed: one folder %.2f, 100 folders %.2f (<= 2)\n",
               one.importSecs / tarOne.durableSecs, spread.importSecs / tarSpread.durableSecs);
    if (zipOne.ran)
        printf("  import / 7-Zip flushed: one folder %.2f (<= 0.7), 100 folders %.2f; export / 7-Zip's: %.2f, "
               "%.2f\n",
               one.importSecs / zipOne.durableSecs, spread.importSecs / zipSpread.durableSecs,
               one.exportSecs / zipOne.exportSecs, spread.exportSecs / zipSpread.exportSecs);
    printf(
        "  files per second against cp -r: one folder %.0f vs %.0f -> %.2f, 100 folders %.0f vs %.0f -> %.2f "
        "(>= 0.5)\n",
        kFiles / one.importSecs, kFiles / copyOne.secs, copyOne.secs / one.importSecs,
        kFiles / spread.importSecs, kFiles / copySpread.secs, copySpread.secs / spread.importSecs);
    printWritten("one folder", one, copyOne);
    printWritten("100 folders", spread, copySpread);
    fsys::remove_all(volume);
    fsys::remove_all(sources);
    return 0;
}
