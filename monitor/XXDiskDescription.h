// What the disk monitor knows about one disk, named after the description keys the rest of
// the application refers to.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct XXDiskDescription {
    // "DAMediaBSDName": the kernel's block device name, e.g. "sdb1"; empty when unknown.
    std::string mediaBSDName;
    // "DADeviceProtocol": "USB" when the device hangs off a USB bus, else empty.
    std::string deviceProtocol;
    // "DAMediaSize": size of the device (the partition, for a partition) in bytes; 0 when unknown.
    std::uint64_t mediaSize = 0;
    // "DAVolumePath": the mount point; empty while not mounted.
    std::string volumePath;

    bool operator==(const XXDiskDescription &) const = default;

    // One line for the log, with the key names above.
    std::string describe() const;
};

// Disks keyed by their BSD name.
using XXDiskDictionary = std::map<std::string, XXDiskDescription>;
