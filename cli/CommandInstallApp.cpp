// install-app: copies the bundle this program runs from (or --from DIR) onto a volume as
// VOLUME/Coffervale, beside the vault. The copy is written to a staging folder and swapped in
// only when it is complete, so a full or pulled stick leaves the earlier bundle as it was; the
// vault and any folder that is not a bundle are never touched.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "Commands.h"
#include "XXExecutablePath.h"

namespace fs = std::filesystem;

namespace cli {
namespace {

constexpr const char *kManifest = "bundle-manifest.txt";
constexpr const char *kManifestTitle = "Coffervale bundle ";
// Written first into a staging folder, so a later run may remove what an interrupted run left.
constexpr const char *kStagingMark = ".coffervale-staging";
constexpr const char *kDesktopFile = "Coffervale.desktop";
constexpr const char *kIcon = "coffervale.svg";

struct BundleFile {
    std::string path;  // relative to the bundle
    std::uintmax_t size = 0;
};

bool isBundle(const fs::path &dir)
{
    std::error_code ec;
    return fs::is_regular_file(dir / kManifest, ec);
}

// "Coffervale bundle VERSION", then one "PATH<TAB>SIZE" line per file.
std::vector<BundleFile> readManifest(const fs::path &bundle)
{
    std::ifstream in(bundle / kManifest);
    std::string line;
    if (!in || !std::getline(in, line) || line.rfind(kManifestTitle, 0) != 0)
        throw OperationError(bundle.string() + " is not a Coffervale bundle (no " + kManifest +
                             "; scripts/bundle.sh makes one)");
    std::vector<BundleFile> files;
    while (std::getline(in, line)) {
        const std::size_t tab = line.find('\t');
        BundleFile file;
        file.path = line.substr(0, tab);
        const fs::path relative(file.path);
        bool sane = tab != std::string::npos && !file.path.empty() && relative.is_relative();
        for (const auto &part : relative)
            sane = sane && part != ".." && part != ".";
        if (sane) {
            std::istringstream number(line.substr(tab + 1));
            sane = static_cast<bool>(number >> file.size);
        }
        if (!sane)
            throw OperationError(bundle.string() + "/" + kManifest + " is damaged at \"" + line + "\"");
        files.push_back(file);
    }
    return files;
}

// Every listed file present with its size: a half-copied bundle is not copied on.
void checkComplete(const fs::path &bundle, const std::vector<BundleFile> &files)
{
    for (const auto &file : files) {
        std::error_code ec;
        const fs::path source = bundle / file.path;
        if (!fs::is_regular_file(source, ec) || fs::file_size(source, ec) != file.size)
            throw OperationError("the bundle at " + bundle.string() + " is incomplete: " + file.path +
                                 " is missing or has the wrong size");
    }
}

void syncPath(const fs::path &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

void copyFile(const fs::path &from, const fs::path &to)
{
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        failErrno("reading " + from.string(), errno);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int err = errno;
        close(in);
        failErrno("writing " + to.string(), err);
    }
    std::vector<char> buffer(1 << 20);
    int err = 0;
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            err = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && err == 0;) {
            const ssize_t put = write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR)
                err = errno;
            else if (put > 0)
                done += put;
        }
        if (err)
            break;
    }
    // A stick can be pulled right after: the bytes are on it before the bundle is swapped in.
    if (err == 0 && fsync(out) != 0)
        err = errno;
    if (close(out) != 0 && err == 0)
        err = errno;
    close(in);
    if (err)
        failErrno("writing " + to.string(), err);
}

// Space for the files, each rounded up to whole blocks, plus a block per folder entry.
void checkSpace(const fs::path &volume, const std::vector<BundleFile> &files)
{
    struct statvfs info;
    if (statvfs(volume.c_str(), &info) != 0)
        failErrno("reading the free space of " + volume.string(), errno);
    const std::uintmax_t block = info.f_bsize ? info.f_bsize : 4096;
    std::uintmax_t needed = 0;
    for (const auto &file : files)
        needed += (file.size + block - 1) / block * block + block;
    const std::uintmax_t available = static_cast<std::uintmax_t>(info.f_bavail) * info.f_frsize;
    if (needed > available)
        throw OperationError("not enough space on " + volume.string() + ": the bundle needs " +
                             std::to_string(needed >> 20) + " MiB, " + std::to_string(available >> 20) +
                             " MiB are free; nothing was changed");
}

// A working folder of ours: absent, or left by an earlier run (it has our mark or a manifest).
void clearWorkingFolder(const fs::path &dir)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec)))
        return;
    if (!fs::is_directory(fs::symlink_status(dir, ec)) ||
        (!fs::exists(dir / kStagingMark, ec) && !isBundle(dir)))
        throw OperationError(dir.string() + " exists and was not made by install-app; nothing was changed");
    fs::remove_all(dir, ec);
    if (ec)
        failErrno("removing the unfinished copy " + dir.string(), ec.value());
}

// One argument of a desktop entry's Exec line naming path: quoted, with the characters the
// entry format reserves escaped, then the backslashes doubled as its string values want.
std::string execArgument(const std::string &path)
{
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted)
        value += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return value;
}

// The icon needs an absolute path. The launcher is found through the entry's own location
// (%k), which not every launcher passes (GLib's leaves it empty): the entry's installed path
// stands in, as the argument the bundle's Exec line leaves as "sh".
void pointDesktopFileAtCopy(const fs::path &staged, const fs::path &installed)
{
    static const std::string kEntryArgument = " sh %k";
    const fs::path file = staged / kDesktopFile;
    std::ifstream in(file);
    if (!in)
        return;
    std::string text, line;
    while (std::getline(in, line)) {
        if (line.rfind("Icon=", 0) == 0)
            line = "Icon=" + (installed / kIcon).string();
        else if (line.rfind("Exec=", 0) == 0 && line.ends_with(kEntryArgument))
            line.replace(line.size() - kEntryArgument.size(), kEntryArgument.size(),
                         " " + execArgument((installed / kDesktopFile).string()) + " %k");
        text += line + "\n";
    }
    in.close();
    std::error_code ec;
    fs::remove(file, ec);
    std::ofstream out(file);
    out << text;
    out.close();
    if (!out)
        failErrno("writing " + file.string(), errno ? errno : EIO);
}

void stage(const fs::path &source, const std::vector<BundleFile> &files, const fs::path &staging,
           const fs::path &destination)
{
    std::error_code ec;
    if (!fs::create_directory(staging, ec) || ec)
        failErrno("creating " + staging.string(), ec ? ec.value() : EEXIST);
    std::ofstream(staging / kStagingMark) << "an unfinished copy of Coffervale; safe to delete\n";
    for (const auto &file : files) {
        const fs::path target = staging / file.path;
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            failErrno("creating " + target.parent_path().string(), ec.value());
        copyFile(source / file.path, target);
    }
    pointDesktopFileAtCopy(staging, destination);
    // The manifest last: a folder with it is a whole bundle. It gives the sizes of the copy,
    // whose desktop entry changed, so that the copy can be installed elsewhere in turn.
    std::ifstream in(source / kManifest);
    std::string title;
    std::getline(in, title);
    std::ofstream manifest(staging / kManifest);
    manifest << title << "\n";
    for (const auto &file : files)
        manifest << file.path << "\t" << fs::file_size(staging / file.path, ec) << "\n";
    manifest.close();
    if (!manifest || ec)
        failErrno("writing " + (staging / kManifest).string(), ec ? ec.value() : EIO);
    syncPath(staging / kManifest);
    fs::remove(staging / kStagingMark, ec);
    syncPath(staging);
}

std::string megabytes(const std::vector<BundleFile> &files)
{
    std::uintmax_t total = 0;
    for (const auto &file : files)
        total += file.size;
    char text[32];
    snprintf(text, sizeof text, "%.1f MB", static_cast<double>(total) / 1e6);
    return text;
}

}  // namespace

int runInstallApp(Invocation &inv)
{
    const std::optional<std::string> from = takeOption(inv.args, "--from");
    rejectUnknownOptions(inv.args);
    if (inv.args.size() > 1)
        throw UsageError("install-app takes one volume");
    const std::string volumeArg = inv.args.empty() ? inv.volume : inv.args[0];
    if (volumeArg.empty())
        throw UsageError("no volume: give VOLUME, --volume DIR or COFFERVALE_VOLUME");

    std::error_code ec;
    const fs::path volume = fs::canonical(volumeArg, ec);
    if (ec || !fs::is_directory(volume))
        throw OperationError(volumeArg + " is not a folder (is the volume mounted?)");
    fs::path source;
    if (from) {
        source = fs::canonical(*from, ec);
        if (ec)
            throw OperationError(*from + " does not exist");
    } else {
        // The programs sit in the bundle's bin/.
        source = fs::path(xxtool::executableFolder()).parent_path();
        if (!isBundle(source))
            throw OperationError("coffervale-cli is not running from a bundle; give the bundle folder with "
                                 "--from DIR (scripts/bundle.sh makes dist/Coffervale)");
    }
    const std::vector<BundleFile> files = readManifest(source);
    checkComplete(source, files);

    const fs::path destination = volume / "Coffervale";
    const fs::path staging = volume / ".Coffervale-installing";
    const fs::path replaced = volume / ".Coffervale-replaced";
    if (fs::exists(destination, ec) && fs::equivalent(destination, source, ec)) {
        printf("Coffervale is already installed on %s\n", volume.c_str());
        return 0;
    }
    const auto [inside, rest] = std::mismatch(source.begin(), source.end(), volume.begin(), volume.end());
    if (inside == source.end())
        throw OperationError("the volume " + volume.string() + " lies inside the bundle " + source.string());
    const bool replacing = fs::exists(fs::symlink_status(destination, ec));
    if (replacing && !(fs::is_directory(fs::symlink_status(destination, ec)) && isBundle(destination)))
        throw OperationError(
            destination.string() +
            " exists and is not a Coffervale bundle; nothing was changed. Move or rename it, "
            "then try again.");
    clearWorkingFolder(staging);
    clearWorkingFolder(replaced);
    checkSpace(volume, files);

    try {
        stage(source, files, staging, destination);
    } catch (...) {
        fs::remove_all(staging, ec);
        throw;
    }
    // Swap: the old bundle steps aside, the new one takes its name, then the old one goes.
    if (replacing && rename(destination.c_str(), replaced.c_str()) != 0)
        failErrno("moving the earlier " + destination.string() + " aside", errno);
    if (rename(staging.c_str(), destination.c_str()) != 0) {
        const int err = errno;
        if (replacing)
            rename(replaced.c_str(), destination.c_str());
        failErrno("renaming " + staging.string() + " to " + destination.string(), err);
    }
    syncPath(volume);
    if (replacing)
        fs::remove_all(replaced, ec);

    printf("Installed Coffervale on %s: %s, %zu files, %s.\n", volume.c_str(), destination.c_str(),
           files.size(), megabytes(files).c_str());
    printf("Start it with: sh \"%s/start.sh\"\n", destination.c_str());
    return 0;
}

}  // namespace cli
