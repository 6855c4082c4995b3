// Reading the kernel's mount table and sysfs into disk descriptions, and comparing two
// readings. Pure functions over text and a sysfs root, so fixtures can stand in for both.
#pragma once

#include "XXDiskDescription.h"

#include <string>
#include <string_view>
#include <vector>

// One line of /proc/<pid>/mountinfo, with the octal escapes (\040 for a blank ...) decoded.
struct XXMountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;  // the part of the file system mounted here; "/" for all of it
    std::string mountPoint;
    std::string fsType;
    std::string source;  // e.g. "/dev/sdb1"
};

// Lines that do not have the mountinfo layout are skipped.
std::vector<XXMountEntry> XXParseMountInfo(std::string_view text);

// One description per mounted block device, keyed by its kernel name. A device mounted at
// several points is described by its first mount of the whole file system (root "/"), or
// its first mount when there is none. Mounts without a block device (tmpfs, proc, fuse...)
// are left out.
XXDiskDictionary XXDescribeMountedDisks(const std::vector<XXMountEntry> &mounts, const std::string &sysRoot);

struct XXDiskTableChanges {
    std::vector<XXDiskDescription> gone;  // as they were described before
    std::vector<XXDiskDescription> present;
    std::vector<XXDiskDescription> modified;  // same device and mount point, other values
};

// A device whose mount point changed counts as gone (with the old point) and present again,
// so that whoever uses the old point hears that it went away.
XXDiskTableChanges XXCompareDiskTables(const XXDiskDictionary &before, const XXDiskDictionary &after);
