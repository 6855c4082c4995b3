// coffervale-cli install-app on plain folders standing in for sticks: what it copies, what it
// replaces, and that a refusal or a failure changes nothing on the volume.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "CliRunner.h"
#include "SmallVolume.h"
#include "TempDir.h"

namespace fs = std::filesystem;
using Tree = std::vector<std::pair<std::string, std::string>>;

namespace {

// A small bundle as scripts/bundle.sh lays it out, with its manifest.
void makeBundle(const std::string &dir, const std::string &programText = "program v1",
                const std::string &exec = "sh x")
{
    const Tree files = {
        {"bin/coffervale", programText},
        {"lib/libQt6Core.so.6", std::string(5000, 'q')},
        {"start.sh", "#!/bin/sh\n"},
        {"coffervale.svg", "<svg/>"},
        {"Coffervale.desktop", "[Desktop Entry]\nName=Coffervale\nIcon=coffervale\nExec=" + exec + "\n"}};
    std::string manifest = "Coffervale bundle 0.9.0\n";
    for (const auto &[path, text] : files) {
        writeFile(dir + "/" + path, text);
        manifest += path + "\t" + std::to_string(text.size()) + "\n";
    }
    writeFile(dir + "/bundle-manifest.txt", manifest);
}

CliResult installApp(const std::string &volume, const std::string &bundle)
{
    return runCli({"install-app", volume, "--from", bundle});
}

class InstallAppTest : public ::testing::Test {
protected:
    TempDir bundleDir, volumeDir;
    const std::string bundle = bundleDir / "Coffervale";
    const std::string volume = volumeDir.path();
    void SetUp() override
    {
        makeBundle(bundle);
        writeFile(volumeDir / ".TovinCoffervale/index", "the vault");
    }
};

}  // namespace

TEST_F(InstallAppTest, CopiesTheBundleBesideTheVaultWithoutExecuteBits)
{
    ASSERT_TRUE(exited(installApp(volume, bundle), 0, "", "sh \"" + volume + "/Coffervale/start.sh\""));
    const std::string installed = volumeDir / "Coffervale";
    EXPECT_EQ(readFile(installed + "/bin/coffervale"), "program v1");
    EXPECT_EQ(readFile(installed + "/lib/libQt6Core.so.6"), std::string(5000, 'q'));
    // The icon needs an absolute path; nothing else of the entry changes.
    EXPECT_EQ(readFile(installed + "/Coffervale.desktop"),
              "[Desktop Entry]\nName=Coffervale\nIcon=" + installed + "/coffervale.svg\nExec=sh x\n");
    struct stat info {};
    ASSERT_EQ(stat((installed + "/bin/coffervale").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0111, 0u);
    // Only the bundle and the untouched vault are left.
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(volume))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".TovinCoffervale", "Coffervale"}));
    EXPECT_EQ(readFile(volumeDir / ".TovinCoffervale/index"), "the vault");
}

TEST_F(InstallAppTest, ReplacesAnEarlierBundleAndClearsWhatAnInterruptedRunLeft)
{
    ASSERT_EQ(installApp(volume, bundle).status, 0);
    writeFile(volumeDir / ".Coffervale-installing/.coffervale-staging", "");
    writeFile(volumeDir / ".Coffervale-installing/bin/coffervale", "half");
    TempDir newer;
    makeBundle(newer / "Coffervale", "program v2");
    ASSERT_TRUE(exited(installApp(volume, newer / "Coffervale"), 0));
    EXPECT_EQ(readFile(volumeDir / "Coffervale/bin/coffervale"), "program v2");
    EXPECT_FALSE(fs::exists(volumeDir / ".Coffervale-installing"));
    EXPECT_FALSE(fs::exists(volumeDir / ".Coffervale-replaced"));
    EXPECT_EQ(readFile(volumeDir / ".TovinCoffervale/index"), "the vault");

    // Run from the installed copy onto its own volume: nothing to do, nothing removed.
    EXPECT_TRUE(exited(installApp(volume, volumeDir / "Coffervale"), 0));
    EXPECT_EQ(readFile(volumeDir / "Coffervale/bin/coffervale"), "program v2");
    // From that copy onto another stick: its manifest matches its changed desktop entry.
    TempDir other;
    EXPECT_TRUE(exited(installApp(other.path(), volumeDir / "Coffervale"), 0));
    EXPECT_NE(readFile(other / "Coffervale/Coffervale.desktop").find("Icon=" + other.path()),
              std::string::npos);
}

TEST_F(InstallAppTest, TheDesktopEntryNamesItsInstalledPlaceForLaunchersThatPassNoLocation)
{
    // The entry's own location (%k) stays first; the installed path stands in for "sh" ($0),
    // quoted as the entry format wants ($ and " escaped, backslashes doubled).
    makeBundle(bundle, "program v1", "sh -c \"x\" sh %k");
    const fs::path stick = volumeDir / "my $tick";
    fs::create_directory(stick);
    ASSERT_TRUE(exited(installApp(stick, bundle), 0));
    const std::string entry = (stick / "Coffervale/Coffervale.desktop").string();
    const std::string quoted = volumeDir.path() + "/my \\\\$tick/Coffervale/Coffervale.desktop";
    EXPECT_NE(readFile(entry).find("\nExec=sh -c \"x\" \"" + quoted + "\" %k\n"), std::string::npos)
        << readFile(entry);
}

TEST_F(InstallAppTest, RefusalsLeaveTheVolumeAsItWas)
{
    struct Case {
        const char *what;
        std::function<void()> prepare;
        std::string message;
    };
    const Case cases[] = {
        {"a folder of the user's own named Coffervale",
         [&] { writeFile(volumeDir / "Coffervale/letters/mum.txt", "dear mum"); },
         "is not a Coffervale bundle"},
        {"a foreign folder in the staging name",
         [&] { writeFile(volumeDir / ".Coffervale-installing/mine.txt", "mine"); },
         "not made by install-app"},
        {"a bundle with a truncated library", [&] { writeFile(bundle + "/lib/libQt6Core.so.6", "short"); },
         "is incomplete: lib/libQt6Core.so.6"},
        {"a damaged manifest",
         [&] { writeFile(bundle + "/bundle-manifest.txt", "Coffervale bundle 1\n../x\t1\n"); }, "is damaged"},
        {"a folder that is no bundle", [&] { fs::remove(bundle + "/bundle-manifest.txt"); },
         "is not a Coffervale bundle"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        makeBundle(bundle);
        c.prepare();
        const Tree before = snapshotTree(volume);
        EXPECT_TRUE(exited(installApp(volume, bundle), 1, c.message));
        EXPECT_EQ(snapshotTree(volume), before);
        fs::remove_all(volumeDir / "Coffervale");
        fs::remove_all(volumeDir / ".Coffervale-installing");
    }
}

TEST(InstallAppCommandLine, NeedsAVolumeFolderAndABundle)
{
    TempDir dir;
    EXPECT_TRUE(exited(runCli({"install-app"}), 2, "no volume"));
    EXPECT_TRUE(exited(runCli({"install-app", dir / "missing", "--from", dir.path()}), 1, "is not a folder"));
    // The build's coffervale-cli is not inside a bundle.
    EXPECT_TRUE(exited(runCli({"install-app", dir.path()}), 1, "not running from a bundle"));
}

TEST(InstallAppFullVolume, AFullStickKeepsTheEarlierBundleAndTheVault)
{
    TempDir bundleDir;
    const std::string bundle = bundleDir / "Coffervale";
    makeBundle(bundle);
    {
        // Too little space for the bytes: refused before anything is written.
        SmallVolume tiny("size=8k");
        if (!tiny.mounted())
            GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root): " << strerror(errno);
        writeFile(tiny.path() + "/.TovinCoffervale/index", "the vault");
        EXPECT_TRUE(exited(installApp(tiny.path(), bundle), 1, "not enough space"));
        EXPECT_EQ(snapshotTree(tiny.path()), (Tree{{".TovinCoffervale/index", "the vault"}}));
    }
    // Room for one copy's files but not two: the second copy fails half-way.
    SmallVolume stick("size=4m,nr_inodes=16");
    writeFile(stick.path() + "/.TovinCoffervale/index", "the vault");
    ASSERT_EQ(installApp(stick.path(), bundle).status, 0);
    const Tree before = snapshotTree(stick.path());
    makeBundle(bundle, "program v2");
    EXPECT_TRUE(exited(installApp(stick.path(), bundle), 1, "the drive is full"));
    EXPECT_EQ(snapshotTree(stick.path()), before);
    EXPECT_FALSE(fs::exists(stick.path() + "/.Coffervale-installing"));
}
