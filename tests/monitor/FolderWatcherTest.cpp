// The folder watcher on real folders: what counts as a change, the folding of a burst, and
// folders that go away.
#include <gtest/gtest.h>

#include <fstream>

#include "MonitorTestSupport.h"
#include "XXFolderWatcher.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Folders = std::vector<std::string>;

namespace {

class FolderWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(a + "/inner");
        fs::create_directories(b);
    }
    // The next report, or nothing within a while.
    Folders nextReport(std::chrono::milliseconds wait = 3s)
    {
        reports.clear();
        monitortest::runUntil(
            loop, [&] { return !reports.empty(); }, wait);
        loop.runFor(150ms);  // a second report would come now
        EXPECT_LE(reports.size(), 1u);
        return reports.empty() ? Folders{} : reports.front();
    }

    monitortest::ScratchFolder scratch;
    const std::string a = (scratch.path() / "a").string(), b = (scratch.path() / "b").string();
    XXPollRunLoop loop;
    std::vector<Folders> reports;
    XXFolderWatcher watcher{loop, 100ms, [this](const Folders &folders) { reports.push_back(folders); }};
};

}  // namespace

TEST_F(FolderWatcherTest, EntriesMadeRemovedRenamedOrWrittenAreReportedOncePerFolder)
{
    watcher.setWatchedFolders({a, b});
    EXPECT_FALSE(watcher.watchFolder(a + "/missing"));
    fs::create_directory(a + "/made outside");
    EXPECT_EQ(nextReport(), Folders{a});
    std::ofstream(b + "/new.txt") << "x";
    EXPECT_EQ(nextReport(), Folders{b});
    fs::rename(b + "/new.txt", b + "/renamed.txt");
    EXPECT_EQ(nextReport(), Folders{b});

    // A burst in one folder and a move between the two: one report naming both.
    for (int i = 0; i < 50; ++i)
        std::ofstream(a + "/burst" + std::to_string(i)) << i;
    fs::rename(b + "/renamed.txt", a + "/renamed.txt");
    EXPECT_EQ(nextReport(), (Folders{a, b}));

    watcher.unwatchFolder(b);
    std::ofstream(b + "/quiet") << "";
    EXPECT_EQ(nextReport(300ms), Folders{});
}

TEST_F(FolderWatcherTest, AFolderThatGoesIsReportedAndDroppedAndALinkKeepsItsOwnName)
{
    const std::string inner = a + "/inner", link = (scratch.path() / "link to b").string();
    fs::create_directory_symlink(b, link);
    watcher.setWatchedFolders({inner, b, link});
    fs::remove(inner);
    EXPECT_EQ(nextReport(), Folders{inner});

    // Two names of one folder share the kernel's watch: both report, each unwatches alone.
    std::ofstream(b + "/one") << "";
    EXPECT_EQ(nextReport(), (Folders{b, link}));
    watcher.unwatchFolder(link);
    std::ofstream(b + "/two") << "";
    EXPECT_EQ(nextReport(), Folders{b});

    // Renamed away: reported, not followed, and watched again once back under its name.
    fs::rename(b, scratch.path() / "b moved");
    EXPECT_EQ(nextReport(), Folders{b});
    EXPECT_TRUE(watcher.watchedFolders().empty());
    std::ofstream((scratch.path() / "b moved" / "late").string()) << "";
    EXPECT_EQ(nextReport(300ms), Folders{});
    fs::create_directory(b);
    EXPECT_TRUE(watcher.watchFolder(b));
    std::ofstream(b + "/again") << "";
    EXPECT_EQ(nextReport(), Folders{b});
}
