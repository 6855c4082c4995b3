// A fake /proc and /sys: mountinfo lines and sysfs block devices, as the kernel lays them out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "MonitorTestSupport.h"

namespace monitortest {

// Device tree paths below /sys for the kinds of disk the tests need.
inline std::string usbPartitionPath(const std::string &disk, const std::string &partition)
{
    return "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/" + disk + "/" +
        partition;
}
inline std::string sataPartitionPath(const std::string &disk, const std::string &partition)
{
    return "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/" + disk + "/" + partition;
}

class DiskFixture {
public:
    std::filesystem::path procRoot() const { return scratch_.path() / "proc"; }
    std::filesystem::path sysRoot() const { return scratch_.path() / "sys"; }
    const std::filesystem::path &scratch() const { return scratch_.path(); }

    DiskFixture()
    {
        std::filesystem::create_directories(sysRoot() / "dev/block");
        std::filesystem::create_directories(sysRoot() / "class/block");
        setMounts({});
    }

    // devicePath is below /sys; bytes is rounded down to whole 512-byte sectors, as sysfs counts.
    void addBlockDevice(const std::string &number, const std::string &devicePath, std::uint64_t bytes)
    {
        setSize(devicePath, bytes);
        const std::string name = std::filesystem::path(devicePath).filename().string();
        std::filesystem::create_directory_symlink("../../" + devicePath, sysRoot() / "dev/block" / number);
        std::filesystem::create_directory_symlink("../../" + devicePath, sysRoot() / "class/block" / name);
    }
    void setSize(const std::string &devicePath, std::uint64_t bytes)
    {
        writeFile(sysRoot() / devicePath / "size", std::to_string(bytes / 512) + "\n");
    }

    // One mountinfo line; mountPoint as the kernel writes it (blanks as \040).
    static std::string mount(const std::string &number, const std::string &mountPoint,
                             const std::string &source, const std::string &root = "/",
                             const std::string &fsType = "vfat")
    {
        return "40 25 " + number + " " + root + " " + mountPoint + " rw,nosuid,nodev,relatime shared:7 - " +
            fsType + " " + source + " rw,uid=1000\n";
    }
    static std::string systemMounts()
    {
        return "22 1 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
               "25 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
               "30 22 0:25 / /run rw,nosuid shared:5 - tmpfs tmpfs rw,size=1600000k\n";
    }
    void setMounts(const std::vector<std::string> &lines)
    {
        std::string text = systemMounts();
        for (const std::string &line : lines)
            text += line;
        writeFile(procRoot() / "self/mountinfo", text);
    }

private:
    ScratchFolder scratch_;
};

}  // namespace monitortest
