#include "DiskFixture.h"
#include "XXMountMonitor.h"
#include "XXMountTable.h"

#include <gtest/gtest.h>

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
        "40 35 8:49 / /media/last rw - exfat /dev/sdd1 rw");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].major, 98u);
    EXPECT_EQ(mounts[0].minor, 0u);
    EXPECT_EQ(mounts[0].root, "/mnt1");
    EXPECT_EQ(mounts[0].mountPoint, "/mnt two\\x");
    EXPECT_EQ(mounts[0].fsType, "ext3");
    EXPECT_EQ(mounts[0].source, "/dev/root");
    EXPECT_EQ(mounts[1].mountPoint, "/media/a\tb");
    EXPECT_EQ(mounts[2].mountPoint, "/media/last");  // last line without a newline
    EXPECT_EQ(mounts[2].minor, 49u);
}

TEST(MountTable, DescribesMountedBlockDevicesFromSysfs)
{
    DiskFixture fixture;
    fixture.addBlockDevice("8:2", sataPartitionPath("sda", "sda2"), 500'000'000'000);
    fixture.addBlockDevice("8:17", usbPartitionPath("sdb", "sdb1"), 8'000'000'000);
    const auto mounts = XXParseMountInfo(
        DiskFixture::systemMounts() +
        DiskFixture::mount("8:17", "/home/anna/bound", "/dev/sdb1", "/photos") +
        DiskFixture::mount("8:17", "/media/anna/STICK\\040ONE", "/dev/sdb1") +
        DiskFixture::mount("8:17", "/mnt/again", "/dev/sdb1") +
        DiskFixture::mount("8:99", "/media/anna/ghost", "/dev/sdz1"));  // no sysfs entry

    const XXDiskDictionary disks = XXDescribeMountedDisks(mounts, fixture.sysRoot());
    ASSERT_EQ(disks.size(), 2u);
    const XXDiskDescription &stick = disks.at("sdb1");
    EXPECT_EQ(stick.mediaBSDName, "sdb1");
    EXPECT_EQ(stick.deviceProtocol, "USB");
    EXPECT_EQ(stick.mediaSize, 8'000'000'000u / 512 * 512);
    // The first mount of the whole file system wins over a bind mount of a sub-folder.
    EXPECT_EQ(stick.volumePath, "/media/anna/STICK ONE");
    const XXDiskDescription &internal = disks.at("sda2");
    EXPECT_EQ(internal.deviceProtocol, "");
    EXPECT_EQ(internal.volumePath, "/");
}

TEST(MountTable, FindsDevicesOfAnonymousNumbersThroughTheMountSource)
{
    DiskFixture fixture;
    fixture.addBlockDevice("8:33", usbPartitionPath("sdc", "sdc1"), 64'000'000'000);
    const auto mounts = XXParseMountInfo(DiskFixture::mount("0:45", "/media/anna/BTR", "/dev/sdc1", "/", "btrfs"));
    const XXDiskDictionary disks = XXDescribeMountedDisks(mounts, fixture.sysRoot());
    ASSERT_EQ(disks.count("sdc1"), 1u);
    EXPECT_EQ(disks.at("sdc1").deviceProtocol, "USB");
}

TEST(MountTable, ComparesReadingsIntoGonePresentAndModified)
{
    const XXDiskDescription a{"sdb1", "USB", 8'000'000'000, "/media/a"};
    const XXDiskDescription b{"sdc1", "USB", 8'000'000'000, "/media/b"};
    const XXDiskDescription c{"sdd1", "USB", 8'000'000'000, "/media/c"};
    XXDiskDescription bResized = b;
    bResized.mediaSize = 16'000'000'000;
    XXDiskDescription cMoved = c;
    cMoved.volumePath = "/media/c2";
    const XXDiskDescription d{"sde1", "", 1'000, "/mnt/d"};

    const XXDiskTableChanges changes = XXCompareDiskTables(
        {{"sdb1", a}, {"sdc1", b}, {"sdd1", c}}, {{"sdc1", bResized}, {"sdd1", cMoved}, {"sde1", d}});
    EXPECT_EQ(changes.gone, (std::vector<XXDiskDescription>{a, c}));
    EXPECT_EQ(changes.present, (std::vector<XXDiskDescription>{cMoved, d}));
    EXPECT_EQ(changes.modified, (std::vector<XXDiskDescription>{bResized}));

    const XXDiskTableChanges none = XXCompareDiskTables({{"sdb1", a}}, {{"sdb1", a}});
    EXPECT_TRUE(none.gone.empty() && none.present.empty() && none.modified.empty());
}

TEST(MountMonitor, OpensTheRealMountTableAndRefusesAMissingOne)
{
    XXPollRunLoop loop;
    XXMountMonitor real(loop, "/proc", "/sys", {});
    EXPECT_TRUE(real.start());

    monitortest::ScratchFolder empty;
    XXMountMonitor missing(loop, empty.path().string(), "/sys", {});
    EXPECT_FALSE(missing.start());
}
