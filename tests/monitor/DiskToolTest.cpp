// The disk monitor on fixture mount tables and sysfs trees: which disks qualify, and what
// their arrival, removal and changes report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "DiskFixture.h"
#include "ScopedEnv.h"
#include "XXDiskTool.h"
#include "XXMonitorLog.h"

using namespace std::chrono_literals;
using monitortest::DiskFixture;
using monitortest::sataPartitionPath;
using monitortest::usbPartitionPath;
using Names = std::vector<std::string>;

namespace {

struct RecordingDelegate : XXDiskToolDelegate {
    Names events;  // "appear:sdb1", "dismiss:sdb1", "modify:sdb1"
    void diskDidAppear(XXDiskTool &, const XXDiskDescription &disk) override { record("appear:", disk); }
    void diskDidDismiss(XXDiskTool &, const XXDiskDescription &disk) override { record("dismiss:", disk); }
    void diskDidModify(XXDiskTool &, const XXDiskDescription &disk) override { record("modify:", disk); }
    void record(const char *what, const XXDiskDescription &disk)
    {
        events.push_back(what + disk.mediaBSDName);
    }
};

Names keys(const XXDiskDictionary &disks)
{
    Names names;
    for (const auto &[name, disk] : disks)
        names.push_back(name);
    return names;
}

class DiskToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XXMonitorSetLogSink([](std::string_view) {});
        fixture.addBlockDevice("8:2", sataPartitionPath("sda", "sda2"), 500'000'000'000);
        fixture.addBlockDevice("8:17", usbPartitionPath("sdb", "sdb1"), 8'000'000'000);  // 8 GB stick
        fixture.addBlockDevice("8:33", usbPartitionPath("sdc", "sdc1"), 2'000'000'000);  // 2 GB stick
        fixture.addBlockDevice("8:49", sataPartitionPath("sdd", "sdd1"), 8'000'000'000);  // SATA disk
        fixture.addBlockDevice("8:65", usbPartitionPath("sde", "sde1"), 8'000'000'000);
        center.addObserver(XXDiskDidMoveoutNotification, [this](const XXNotification &n) {
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
    // A tool started on the given mount table, with the initial reports delivered.
    std::unique_ptr<XXDiskTool> start(const Names &mounts, std::optional<XXDiskToolOptions> settings = {})
    {
        fixture.setMounts(mounts);
        auto tool = std::make_unique<XXDiskTool>(settings ? *settings : options());
        tool->setDiskToolDelegate(&delegate);
        tool->registerDiskNotice();
        loop.runFor(0ms);
        return tool;
    }
    void remount(XXDiskTool &tool, const Names &mounts)
    {
        fixture.setMounts(mounts);
        tool.rescanMountTable();
    }

    DiskFixture fixture;
    XXPollRunLoop loop;
    XXNotificationCenter center;
    Names movedOut;
    RecordingDelegate delegate;
    const std::string stick = DiskFixture::mount("8:17", "/media/anna/STICK", "/dev/sdb1");
    const std::string smallStick = DiskFixture::mount("8:33", "/media/anna/SMALL", "/dev/sdc1");
    const std::string outsideRoots = DiskFixture::mount("8:65", "/mnt/stick", "/dev/sde1");
};

}  // namespace

TEST_F(DiskToolTest, ListsOnlyLargeEnoughUsbVolumesUnderMediaRootsAndReportsChangesOfAny)
{
    const auto tool =
        start({stick, smallStick, DiskFixture::mount("8:49", "/media/anna/SATA", "/dev/sdd1"), outsideRoots});
    const auto listed = tool->loadedDisk();
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(keys(*listed), Names{"sdb1"});
    EXPECT_EQ(listed->at("sdb1").volumePath, "/media/anna/STICK");

    // A description change of any disk, listed or not, reaches the delegate.
    fixture.setSize(usbPartitionPath("sdc", "sdc1"), 1'000'000'000);
    fixture.setSize(usbPartitionPath("sdb", "sdb1"), 16'000'000'000);
    tool->rescanMountTable();
    EXPECT_EQ(delegate.events, (Names{"appear:sdb1", "modify:sdb1", "modify:sdc1"}));
    EXPECT_TRUE(movedOut.empty());
}

TEST_F(DiskToolTest, QualificationRulesAtTheirEdges)
{
    XXDiskToolOptions extraRoot = options();
    extraRoot.mediaRoots.push_back("/srv/sticks/");
    const XXDiskTool tool(extraRoot);
    const std::pair<XXDiskDescription, bool> rows[] = {
        {{"sdb1", "USB", 4'000'000'000, "/media/anna/S"}, true},
        {{"sdb1", "USB", 3'999'999'999, "/media/anna/S"}, false},
        {{"sdb1", "USB", 8'000'000'000, "/run/media/anna/S"}, true},
        {{"sdb1", "USB", 8'000'000'000, "/Volumes/STICK"}, true},
        {{"sdb1", "USB", 8'000'000'000, "/srv/sticks/one"}, true},
        {{"sdb1", "USB", 8'000'000'000, "/media"}, false},  // the root itself
        {{"sdb1", "USB", 8'000'000'000, "/mediafiles/S"}, false},  // only looks alike
        {{"sdb1", "USB", 8'000'000'000, "/home/anna/media/S"}, false},
        {{"sdb1", "USB", 8'000'000'000, ""}, false},  // not mounted
        {{"sdb1", "usb", 8'000'000'000, "/media/anna/S"}, false},
        {{"", "USB", 8'000'000'000, "/media/anna/S"}, false},
    };
    for (const auto &[disk, qualifies] : rows)
        EXPECT_EQ(tool.checkDiskType(disk), qualifies) << disk.describe();
}

TEST_F(DiskToolTest, TheDiskTheProgramRunsFromQualifiesUnderAMediaRootWhateverItIs)
{
    XXDiskToolOptions fromStick = options();
    fromStick.appRunPath = "/media/anna/CARD/Coffervale/bin";
    const XXDiskTool tool(fromStick);
    const std::pair<XXDiskDescription, bool> rows[] = {
        {{"mmcblk0p1", "", 2'000'000'000, "/media/anna/CARD"}, true},  // a small card, not USB
        {{"loop0", "", 64'000'000, "/media/anna/CARD/Coffervale"}, true},
        {{"mmcblk0p1", "", 2'000'000'000, "/media/anna/CAR"}, false},  // only a name prefix
        {{"mmcblk0p1", "", 2'000'000'000, "/media/anna/CARD/Coffervale/bin/x"}, false},
        {{"", "", 2'000'000'000, "/media/anna/CARD"}, false},
    };
    for (const auto &[disk, qualifies] : rows)
        EXPECT_EQ(tool.checkDiskType(disk), qualifies) << disk.describe();

    // Outside the media roots the program's own disk is no vault volume: a bundle copied to
    // the home disk must not put a vault at the root of the system.
    fromStick.appRunPath = "/home/anna/Coffervale/bin";
    EXPECT_FALSE(XXDiskTool(fromStick).checkDiskType({"sda2", "", 500'000'000'000, "/home"}));
    EXPECT_FALSE(XXDiskTool(fromStick).checkDiskType({"sda1", "", 500'000'000'000, "/"}));
}

TEST_F(DiskToolTest, RunVolumeIsTheInnermostMountUnderAMediaRootThatHoldsTheProgram)
{
    fixture.addBlockDevice("7:0", "devices/virtual/block/loop0", 64'000'000);
    XXDiskToolOptions fromStick = options();
    fromStick.appRunPath = "/media/anna/STICK/Coffervale/bin";
    fixture.setMounts(
        {stick, DiskFixture::mount("7:0", "/media/anna/STICK/Coffervale", "/dev/loop0", "/", "fuseblk")});
    EXPECT_EQ(XXDiskTool::runVolume(fromStick), "/media/anna/STICK/Coffervale");
    fixture.setMounts({DiskFixture::mount("8:33", "/media/anna/SMALL\\040ONE", "/dev/sdc1")});
    fromStick.appRunPath = "/media/anna/SMALL ONE/Coffervale/bin";
    EXPECT_EQ(XXDiskTool::runVolume(fromStick), "/media/anna/SMALL ONE");

    // Only a name prefix, outside the media roots, or not below any mount point: no volume.
    fromStick.appRunPath = "/media/anna/SMALL ONE2/Coffervale/bin";
    EXPECT_EQ(XXDiskTool::runVolume(fromStick), "");
    fixture.setMounts({outsideRoots});
    fromStick.appRunPath = "/mnt/stick/Coffervale/bin";
    EXPECT_EQ(XXDiskTool::runVolume(fromStick), "");
    fromStick.mediaRoots.push_back("/mnt");
    EXPECT_EQ(XXDiskTool::runVolume(fromStick), "/mnt/stick");
    fromStick.appRunPath = "";
    EXPECT_EQ(XXDiskTool::runVolume(fromStick), "");
}

TEST_F(DiskToolTest, RemountAndRemovalPostTheOldMountPathAndTellTheDelegateOnce)
{
    const auto tool = start({stick, outsideRoots});
    ASSERT_EQ(tool->diskDict().size(), 1u);
    // Mounted elsewhere: gone from the old point, then present at the new one.
    remount(*tool, {DiskFixture::mount("8:17", "/media/anna/STICK1", "/dev/sdb1")});
    EXPECT_EQ(tool->diskDict().at("sdb1").volumePath, "/media/anna/STICK1");
    remount(*tool, {});
    tool->rescanMountTable();  // nothing new: no second report
    EXPECT_EQ(movedOut, (Names{"/media/anna/STICK", "/media/anna/STICK1"}));
    EXPECT_EQ(delegate.events, (Names{"appear:sdb1", "dismiss:sdb1", "appear:sdb1", "dismiss:sdb1"}));
    ASSERT_TRUE(tool->loadedDisk().has_value());
    EXPECT_TRUE(tool->loadedDisk()->empty());
}

TEST_F(DiskToolTest, EventsFromOtherThreadsAreHandledOnTheLoop)
{
    XXDiskTool tool(options());
    tool.setDiskToolDelegate(&delegate);
    const XXDiskDescription small{"sdc1", "USB", 2'000'000'000, "/media/anna/SMALL"};
    const XXDiskDescription big{"sdb1", "USB", 8'000'000'000, "/media/anna/STICK"};
    std::thread([&] {
        tool.diskChange(XXDiskChangePresent, small);
        tool.diskChange(7, big);  // unknown type
    }).join();
    loop.runFor(0ms);
    // Absent until the first qualifying disk, which is not handled before the loop runs.
    EXPECT_FALSE(tool.loadedDisk().has_value());
    std::thread([&] { tool.diskChange(XXDiskChangePresent, big); }).join();
    EXPECT_TRUE(delegate.events.empty());
    loop.runFor(0ms);
    EXPECT_EQ(delegate.events, Names{"appear:sdb1"});
    ASSERT_TRUE(tool.loadedDisk().has_value());
    EXPECT_EQ(keys(*tool.loadedDisk()), Names{"sdb1"});
}

TEST_F(DiskToolTest, AVolumeFolderOrTheStickMountedThereIsOneQualifyingVolume)
{
    const auto folder = fixture.scratch() / "plain";
    std::filesystem::create_directory(folder);
    XXDiskToolOptions withFolder = options();
    withFolder.volumeFolder = (folder / "").string();  // a trailing slash names the same folder
    const auto listed = start({}, withFolder)->loadedDisk();
    ASSERT_TRUE(listed.has_value());
    ASSERT_EQ(keys(*listed), Names{std::string(XXDiskTool::folderVolumeBSDName)});
    EXPECT_EQ(listed->begin()->second.volumePath, folder.string());

    // A folder that does not exist is no volume, but a stick mounted there is, whatever its size.
    const std::string mountPoint = (fixture.scratch() / "small").string();
    withFolder.volumeFolder = mountPoint;
    EXPECT_FALSE(start({}, withFolder)->loadedDisk().has_value());
    const auto tool = start({DiskFixture::mount("8:33", mountPoint, "/dev/sdc1")}, withFolder);
    EXPECT_EQ(keys(tool->diskDict()), Names{"sdc1"});
    remount(*tool, {});
    EXPECT_EQ(movedOut, Names{mountPoint});
}

TEST(DiskToolOptions, EnvironmentAddsMediaRootsAndTheVolumeFolder)
{
    XXPollRunLoop loop;
    XXDiskToolOptions options;
    {
        ScopedEnv env;
        env.set("COFFERVALE_MEDIA_ROOTS", "/srv/sticks:relative/root::/mnt/usb/");
        env.set("COFFERVALE_VOLUME", "/home/anna/vault");
        options = XXDiskToolOptions::fromEnvironment(loop);
    }

    EXPECT_EQ(options.mediaRoots, (Names{"/media", "/run/media", "/Volumes", "/srv/sticks", "/mnt/usb/"}));
    EXPECT_EQ(options.volumeFolder, "/home/anna/vault");
    EXPECT_EQ(options.appRunPath, XXDiskTool::getAppRunPath());
    EXPECT_EQ(std::tie(options.procRoot, options.sysRoot), std::make_tuple("/proc", "/sys"));
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
