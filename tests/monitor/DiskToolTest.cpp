#include "DiskFixture.h"
#include "XXDiskTool.h"
#include "XXMonitorLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace std::chrono_literals;
using monitortest::DiskFixture;
using monitortest::runUntil;
using monitortest::sataPartitionPath;
using monitortest::usbPartitionPath;

namespace {

struct RecordingDelegate : XXDiskToolDelegate {
    std::vector<std::string> events;  // "appear:sdb1", "dismiss:sdb1", "modify:sdb1"
    void diskDidAppear(XXDiskTool &, const XXDiskDescription &disk) override { events.push_back("appear:" + disk.mediaBSDName); }
    void diskDidDismiss(XXDiskTool &, const XXDiskDescription &disk) override { events.push_back("dismiss:" + disk.mediaBSDName); }
    void diskDidModify(XXDiskTool &, const XXDiskDescription &disk) override { events.push_back("modify:" + disk.mediaBSDName); }
};

class DiskToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XXMonitorSetLogSink([](std::string_view) {});
        fixture.addBlockDevice("8:2", sataPartitionPath("sda", "sda2"), 500'000'000'000);
        fixture.addBlockDevice("8:17", usbPartitionPath("sdb", "sdb1"), 8'000'000'000);   // 8 GB stick
        fixture.addBlockDevice("8:33", usbPartitionPath("sdc", "sdc1"), 2'000'000'000);   // 2 GB stick
        fixture.addBlockDevice("8:49", sataPartitionPath("sdd", "sdd1"), 8'000'000'000);  // SATA disk
        fixture.addBlockDevice("8:65", usbPartitionPath("sde", "sde1"), 8'000'000'000);
        movedOutToken = center.addObserver(XXDiskDidMoveoutNotification, [this](const XXNotification &n) {
            movedOut.push_back(n.stringObject() ? *n.stringObject() : "<not a string>");
        });
    }
    void TearDown() override { XXMonitorSetLogSink(nullptr); }

    XXDiskToolOptions options()
    {
        XXDiskToolOptions result;
        result.runLoop = &loop;
        result.notificationCenter = &center;
        result.procRoot = fixture.procRoot();
        result.sysRoot = fixture.sysRoot();
        return result;
    }
    // Starts monitoring and lets the initial reports arrive.
    void start(XXDiskTool &tool)
    {
        tool.setDiskToolDelegate(&delegate);
        tool.registerDiskNotice();
        loop.runFor(0ms);
    }

    DiskFixture fixture;
    XXPollRunLoop loop;
    XXNotificationCenter center;
    XXNotificationCenter::Token movedOutToken = 0;
    std::vector<std::string> movedOut;
    RecordingDelegate delegate;
};

std::vector<std::string> keys(const XXDiskDictionary &disks)
{
    std::vector<std::string> names;
    for (const auto &[name, disk] : disks)
        names.push_back(name);
    return names;
}

} // namespace

TEST_F(DiskToolTest, ListsOnlyLargeEnoughUsbVolumesUnderMediaRoots)
{
    fixture.setMounts({
        DiskFixture::mount("8:17", "/media/anna/STICK", "/dev/sdb1"),
        DiskFixture::mount("8:33", "/media/anna/SMALL", "/dev/sdc1"),
        DiskFixture::mount("8:49", "/media/anna/SATA", "/dev/sdd1"),
        DiskFixture::mount("8:65", "/mnt/stick", "/dev/sde1"),
    });
    XXDiskTool tool(options());
    start(tool);

    const auto listed = tool.loadedDisk();
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(keys(*listed), std::vector<std::string>{"sdb1"});
    EXPECT_EQ(listed->at("sdb1").volumePath, "/media/anna/STICK");
    EXPECT_EQ(delegate.events, std::vector<std::string>{"appear:sdb1"});
}

TEST_F(DiskToolTest, QualificationRulesAtTheirEdges)
{
    XXDiskToolOptions extraRoot = options();
    extraRoot.mediaRoots.push_back("/srv/sticks/");
    XXDiskTool tool(extraRoot);
    const auto disk = [](std::uint64_t size, std::string path, std::string protocol = "USB",
                         std::string name = "sdb1") {
        return XXDiskDescription{std::move(name), std::move(protocol), size, std::move(path)};
    };
    EXPECT_TRUE(tool.checkDiskType(disk(4'000'000'000, "/media/anna/S")));
    EXPECT_FALSE(tool.checkDiskType(disk(3'999'999'999, "/media/anna/S")));
    EXPECT_TRUE(tool.checkDiskType(disk(8'000'000'000, "/run/media/anna/S")));
    EXPECT_TRUE(tool.checkDiskType(disk(8'000'000'000, "/Volumes/STICK")));
    EXPECT_TRUE(tool.checkDiskType(disk(8'000'000'000, "/srv/sticks/one")));
    EXPECT_FALSE(tool.checkDiskType(disk(8'000'000'000, "/media")));           // the root itself
    EXPECT_FALSE(tool.checkDiskType(disk(8'000'000'000, "/mediafiles/S")));    // only looks alike
    EXPECT_FALSE(tool.checkDiskType(disk(8'000'000'000, "/home/anna/media/S")));
    EXPECT_FALSE(tool.checkDiskType(disk(8'000'000'000, "")));                 // not mounted
    EXPECT_FALSE(tool.checkDiskType(disk(8'000'000'000, "/media/anna/S", "usb")));
    EXPECT_FALSE(tool.checkDiskType(disk(8'000'000'000, "/media/anna/S", "USB", "")));
}

TEST_F(DiskToolTest, RemovalPostsTheMountPathAndTellsTheDelegateOnce)
{
    fixture.setMounts({DiskFixture::mount("8:17", "/media/anna/STICK", "/dev/sdb1"),
                       DiskFixture::mount("8:65", "/mnt/stick", "/dev/sde1")});
    XXDiskTool tool(options());
    start(tool);
    ASSERT_EQ(tool.diskDict().size(), 1u);

    fixture.setMounts({});
    tool.rescanMountTable();
    tool.rescanMountTable();  // nothing new: no second report

    EXPECT_EQ(movedOut, std::vector<std::string>{"/media/anna/STICK"});
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"appear:sdb1", "dismiss:sdb1"}));
    ASSERT_TRUE(tool.loadedDisk().has_value());
    EXPECT_TRUE(tool.loadedDisk()->empty());
}

TEST_F(DiskToolTest, RemountElsewhereIsReportedAsGoneThenPresent)
{
    fixture.setMounts({DiskFixture::mount("8:17", "/media/anna/STICK", "/dev/sdb1")});
    XXDiskTool tool(options());
    start(tool);

    fixture.setMounts({DiskFixture::mount("8:17", "/media/anna/STICK1", "/dev/sdb1")});
    tool.rescanMountTable();
    EXPECT_EQ(movedOut, std::vector<std::string>{"/media/anna/STICK"});
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"appear:sdb1", "dismiss:sdb1", "appear:sdb1"}));
    EXPECT_EQ(tool.diskDict().at("sdb1").volumePath, "/media/anna/STICK1");
}

TEST_F(DiskToolTest, DescriptionChangesOfAnyDiskReachTheDelegate)
{
    fixture.setMounts({DiskFixture::mount("8:17", "/media/anna/STICK", "/dev/sdb1"),
                       DiskFixture::mount("8:33", "/media/anna/SMALL", "/dev/sdc1")});
    XXDiskTool tool(options());
    start(tool);

    fixture.setSize(usbPartitionPath("sdc", "sdc1"), 1'000'000'000);
    fixture.setSize(usbPartitionPath("sdb", "sdb1"), 16'000'000'000);
    tool.rescanMountTable();
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"appear:sdb1", "modify:sdb1", "modify:sdc1"}));
    EXPECT_TRUE(movedOut.empty());
}

TEST_F(DiskToolTest, LoadedDiskIsAbsentUntilTheFirstQualifyingDisk)
{
    fixture.setMounts({DiskFixture::mount("8:33", "/media/anna/SMALL", "/dev/sdc1")});
    XXDiskTool tool(options());
    start(tool);
    EXPECT_FALSE(tool.loadedDisk().has_value());

    // A background reader gets a copy that later changes on the loop do not touch.
    std::optional<XXDiskDictionary> seen;
    fixture.setMounts({DiskFixture::mount("8:17", "/media/anna/STICK", "/dev/sdb1")});
    tool.rescanMountTable();
    std::thread reader([&] { seen = tool.loadedDisk(); });
    reader.join();
    fixture.setMounts({});
    tool.rescanMountTable();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(keys(*seen), std::vector<std::string>{"sdb1"});
    EXPECT_TRUE(tool.loadedDisk()->empty());
}

TEST_F(DiskToolTest, EventsFromOtherThreadsAreHandledOnTheLoop)
{
    XXDiskTool tool(options());
    tool.setDiskToolDelegate(&delegate);
    std::thread other([&] {
        tool.diskChange(XXDiskChangePresent, {"sdb1", "USB", 8'000'000'000, "/media/anna/STICK"});
        tool.diskChange(7, {"sdb1", "USB", 8'000'000'000, "/media/anna/STICK"});  // unknown type
    });
    other.join();
    EXPECT_TRUE(delegate.events.empty());
    loop.runFor(0ms);
    EXPECT_EQ(delegate.events, std::vector<std::string>{"appear:sdb1"});
    EXPECT_EQ(keys(tool.diskDict()), std::vector<std::string>{"sdb1"});
}

TEST_F(DiskToolTest, AVolumeFolderIsReportedAsOneQualifyingVolume)
{
    const auto folder = fixture.scratch() / "plain";
    std::filesystem::create_directory(folder);
    XXDiskToolOptions withFolder = options();
    withFolder.volumeFolder = (folder / "").string();  // a trailing slash names the same folder
    XXDiskTool tool(withFolder);
    start(tool);

    const auto listed = tool.loadedDisk();
    ASSERT_TRUE(listed.has_value());
    ASSERT_EQ(keys(*listed), std::vector<std::string>{std::string(XXDiskTool::folderVolumeBSDName)});
    EXPECT_EQ(listed->begin()->second.volumePath, folder.string());

    XXDiskToolOptions missing = options();
    missing.volumeFolder = (fixture.scratch() / "absent").string();
    XXDiskTool none(missing);
    none.registerDiskNotice();
    loop.runFor(0ms);
    EXPECT_FALSE(none.loadedDisk().has_value());
}

TEST_F(DiskToolTest, AStickMountedAtTheVolumeFolderIsWatchedWhateverItsSize)
{
    const std::string mountPoint = (fixture.scratch() / "small").string();
    fixture.setMounts({DiskFixture::mount("8:33", mountPoint, "/dev/sdc1")});
    XXDiskToolOptions withFolder = options();
    withFolder.volumeFolder = mountPoint;
    XXDiskTool tool(withFolder);
    start(tool);
    // The folder does not exist here, so only the stick mounted there is listed.
    EXPECT_EQ(keys(tool.diskDict()), std::vector<std::string>{"sdc1"});

    fixture.setMounts({});
    tool.rescanMountTable();
    EXPECT_EQ(movedOut, std::vector<std::string>{mountPoint});
}

TEST(DiskToolOptions, EnvironmentAddsMediaRootsAndTheVolumeFolder)
{
    XXPollRunLoop loop;
    setenv("COFFERVALE_MEDIA_ROOTS", "/srv/sticks:relative/root::/mnt/usb/", 1);
    setenv("COFFERVALE_VOLUME", "/home/anna/vault", 1);
    const XXDiskToolOptions options = XXDiskToolOptions::fromEnvironment(loop);
    unsetenv("COFFERVALE_MEDIA_ROOTS");
    unsetenv("COFFERVALE_VOLUME");

    EXPECT_EQ(options.runLoop, &loop);
    EXPECT_EQ(options.mediaRoots,
              (std::vector<std::string>{"/media", "/run/media", "/Volumes", "/srv/sticks", "/mnt/usb/"}));
    EXPECT_EQ(options.volumeFolder, "/home/anna/vault");
    EXPECT_EQ(options.procRoot, "/proc");
    EXPECT_EQ(options.sysRoot, "/sys");
}

TEST(DiskToolShared, NeedsItsLoopInstalledFirstAndIsSingle)
{
    XXMonitorSetLogSink([](std::string_view) {});
    EXPECT_THROW(XXDiskTool::shareDiskTool(), std::logic_error);
    XXPollRunLoop loop;
    XXDiskTool::installShared(loop);
    XXDiskTool &first = XXDiskTool::shareDiskTool();
    EXPECT_EQ(&first, &XXDiskTool::shareDiskTool());
    EXPECT_THROW(XXDiskTool::installShared(loop), std::logic_error);
    loop.runFor(0ms);  // starts on the real mount table without trouble
    XXMonitorSetLogSink(nullptr);
}

TEST(DiskToolAppPath, IsTheFolderOfTheRunningExecutable)
{
    const std::string folder = XXDiskTool::getAppRunPath();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(folder) / "monitor_tests"));
}
