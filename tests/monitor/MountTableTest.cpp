// Reading mountinfo and sysfs into disk descriptions; how two readings compare shows in the disk
// monitor's reports (DiskToolTest).
#include <gtest/gtest.h>

#include <tuple>

#include "DiskFixture.h"
#include "XXMountMonitor.h"
#include "XXMountTable.h"

using monitortest::DiskFixture;
using monitortest::sataPartitionPath;
using monitortest::usbPartitionPath;

TEST(MountTable, ParsesMountInfoLinesAndDecodesEscapes)
{
    const auto mounts = XXParseMountInfo(
        "36 35 98:0 /mnt1 /mnt\\040two\\134x rw,noatime master:1 shared:2 - ext3 /dev/root rw\n"
        "37 35 8:17 / /media/a\\011b rw - vfat /dev/sdb1 rw\n"
        "broken line\n"
        "38 35 8:x / /m rw - vfat /dev/sdc1 rw\n"
        "39 35 8:33 / /media/no-separator rw vfat /dev/sdc1 rw\n"
        "40 35 8:49 / /media/last rw - exfat /dev/sdd1 rw");  // the last line without a newline
    const auto fields = [](const XXMountEntry &m) {
        return std::tie(m.major, m.minor, m.root, m.mountPoint, m.fsType, m.source);
    };
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(fields(mounts[0]), std::make_tuple(98u, 0u, "/mnt1", "/mnt two\\x", "ext3", "/dev/root"));
    EXPECT_EQ(fields(mounts[1]), std::make_tuple(8u, 17u, "/", "/media/a\tb", "vfat", "/dev/sdb1"));
    EXPECT_EQ(fields(mounts[2]), std::make_tuple(8u, 49u, "/", "/media/last", "exfat", "/dev/sdd1"));
}

TEST(MountTable, DescribesMountedBlockDevicesFromSysfs)
{
    DiskFixture fixture;
    fixture.addBlockDevice("8:2", sataPartitionPath("sda", "sda2"), 500'000'000'000);
    fixture.addBlockDevice("8:17", usbPartitionPath("sdb", "sdb1"), 8'000'000'000);
    fixture.addBlockDevice("8:33", usbPartitionPath("sdc", "sdc1"), 64'000'000'000);
    const auto mounts = XXParseMountInfo(
        DiskFixture::systemMounts() + DiskFixture::mount("8:17", "/home/anna/bound", "/dev/sdb1", "/photos") +
        DiskFixture::mount("8:17", "/media/anna/STICK\\040ONE", "/dev/sdb1") +
        DiskFixture::mount("8:17", "/mnt/again", "/dev/sdb1") +
        DiskFixture::mount("8:99", "/media/anna/ghost", "/dev/sdz1") +  // no sysfs entry
        // btrfs reports an anonymous device number: the mount source names the device.
        DiskFixture::mount("0:45", "/media/anna/BTR", "/dev/sdc1", "/", "btrfs"));

    // The first mount of the whole file system wins over a bind mount of a sub-folder.
    EXPECT_EQ(XXDescribeMountedDisks(mounts, fixture.sysRoot()),
              (XXDiskDictionary{{"sda2", {"sda2", "", 500'000'000'000, "/"}},
                                {"sdb1", {"sdb1", "USB", 8'000'000'000 / 512 * 512, "/media/anna/STICK ONE"}},
                                {"sdc1", {"sdc1", "USB", 64'000'000'000, "/media/anna/BTR"}}}));
}

TEST(MountMonitor, OpensTheRealMountTableAndRefusesAMissingOne)
{
    XXPollRunLoop loop;
    EXPECT_TRUE(XXMountMonitor(loop, "/proc", "/sys", {}).start());
    monitortest::ScratchFolder empty;
    EXPECT_FALSE(XXMountMonitor(loop, empty.path().string(), "/sys", {}).start());
}
