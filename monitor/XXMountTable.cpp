#include "XXMountTable.h"

#include <charconv>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t end = std::min(line.find(' ', start), line.size());
        if (end > start)
            fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

// The kernel writes blank, tab, newline and backslash in paths as \ and three octal digits.
std::string decodeEscapes(std::string_view field)
{
    std::string decoded;
    decoded.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            decoded += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                         (field[i + 3] - '0'));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

bool parseDeviceNumber(std::string_view text, unsigned &major, unsigned &minor)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const char *begin = text.data();
    const char *mid = begin + colon;
    const char *end = begin + text.size();
    const auto majorParsed = std::from_chars(begin, mid, major);
    const auto minorParsed = std::from_chars(mid + 1, end, minor);
    return majorParsed.ec == std::errc() && majorParsed.ptr == mid && minorParsed.ec == std::errc() &&
        minorParsed.ptr == end;
}

// sysfs reports sizes in 512-byte sectors whatever the device's block size.
std::uint64_t readSectorCount(const fs::path &deviceDir)
{
    std::ifstream in(deviceDir / "size");
    std::uint64_t sectors = 0;
    if (!(in >> sectors))
        return 0;
    return sectors;
}

// A device is on USB when its place in the device tree lies under a USB bus ("usb1", "usb2"...).
bool runsThroughUsbBus(const fs::path &relativeDevicePath)
{
    for (const fs::path &component : relativeDevicePath) {
        const std::string name = component.string();
        if (name.size() > 3 && name.compare(0, 3, "usb") == 0 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos)
            return true;
    }
    return false;
}

// The sysfs folder of the mounted device: by device number, or for file systems that report
// an anonymous number (btrfs) by the kernel name in the mount source.
fs::path findDeviceDir(const XXMountEntry &mount, const fs::path &sysRoot)
{
    std::error_code error;
    if (mount.major != 0) {
        const fs::path byNumber =
            sysRoot / "dev/block" / (std::to_string(mount.major) + ":" + std::to_string(mount.minor));
        fs::path resolved = fs::canonical(byNumber, error);
        return error ? fs::path() : resolved;
    }
    if (mount.source.rfind("/dev/", 0) != 0)
        return {};
    fs::path resolved = fs::canonical(sysRoot / "class/block" / fs::path(mount.source).filename(), error);
    return error ? fs::path() : resolved;
}

}  // namespace

std::vector<XXMountEntry> XXParseMountInfo(std::string_view text)
{
    std::vector<XXMountEntry> mounts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::vector<std::string_view> fields = splitFields(text.substr(start, end - start));
        start = end + 1;

        // id parent major:minor root mount-point options [optional...] - type source super-options
        std::size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-")
            ++separator;
        if (fields.size() < 6 || separator + 2 >= fields.size())
            continue;
        XXMountEntry entry;
        if (!parseDeviceNumber(fields[2], entry.major, entry.minor))
            continue;
        entry.root = decodeEscapes(fields[3]);
        entry.mountPoint = decodeEscapes(fields[4]);
        entry.fsType = decodeEscapes(fields[separator + 1]);
        entry.source = decodeEscapes(fields[separator + 2]);
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

XXDiskDictionary XXDescribeMountedDisks(const std::vector<XXMountEntry> &mounts, const std::string &sysRoot)
{
    std::error_code error;
    const fs::path canonicalSysRoot = fs::canonical(sysRoot, error);
    XXDiskDictionary disks;
    if (error)
        return disks;

    std::map<std::string, bool> describesWholeFileSystem;

    for (const XXMountEntry &mount : mounts) {
        const fs::path deviceDir = findDeviceDir(mount, canonicalSysRoot);
        if (deviceDir.empty())
            continue;
        XXDiskDescription disk;
        disk.mediaBSDName = deviceDir.filename().string();
        disk.deviceProtocol = runsThroughUsbBus(deviceDir.lexically_relative(canonicalSysRoot)) ? "USB" : "";
        disk.mediaSize = readSectorCount(deviceDir) * 512;
        disk.volumePath = mount.mountPoint;

        const bool whole = mount.root == "/";
        auto known = describesWholeFileSystem.find(disk.mediaBSDName);
        if (known != describesWholeFileSystem.end() && (known->second || !whole))
            continue;
        describesWholeFileSystem[disk.mediaBSDName] = whole;
        disks[disk.mediaBSDName] = std::move(disk);
    }
    return disks;
}

XXDiskTableChanges XXCompareDiskTables(const XXDiskDictionary &before, const XXDiskDictionary &after)
{
    XXDiskTableChanges changes;
    for (const auto &[name, old] : before) {
        auto now = after.find(name);
        if (now == after.end()) {
            changes.gone.push_back(old);
        } else if (now->second.volumePath != old.volumePath) {
            changes.gone.push_back(old);
            changes.present.push_back(now->second);
        } else if (now->second != old) {
            changes.modified.push_back(now->second);
        }
    }
    for (const auto &[name, now] : after)
        if (!before.contains(name))
            changes.present.push_back(now);
    return changes;
}
