// Staging a selection for a paste into another program: whole trees, clashing names, cancel,
// and a cut that removes only what another program took.
#include <thread>

#include "TransferTestSupport.h"
#include "XXPasteProtectFileOutAppModel.h"
#include "XXPasteStaging.h"

namespace {

class ServicePasteStaging : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        storeAll({{"/A/", ""},
                  {"/A/one.txt", "one"},
                  {"/A/Folder/", ""},
                  {"/A/Folder/inner.txt", "inner"},
                  {"/A/Folder/Deep/", ""},
                  {"/A/Folder/Deep/deep.txt", "deep"},
                  {"/B/", ""},
                  {"/B/one.txt", "other one"},
                  {"/C/", ""},
                  {"/C/one.txt", "third one"}});
        staging.emplace(*manager);
    }
    void TearDown() override
    {
        staging.reset();
        TransferFixture::TearDown();
    }
    static std::string cache() { return XXPasteProtectFileOutAppModel::pasteCacheFolderPath(); }

    std::optional<XXPasteStaging> staging;
};

TEST_F(ServicePasteStaging, StagesFilesAndWholeFoldersPrivatelyWithOverallProgress)
{
    std::filesystem::create_directories(cache());
    writeFile(cache() + "/left.txt", "from the last paste");
    std::vector<std::pair<std::uint64_t, std::uint64_t>> steps;
    const auto result = staging->stage(entries({"/A/Folder", "/A/one.txt"}), false,
                                       [&](std::uint64_t total, std::uint64_t done, const std::string &) {
                                           steps.emplace_back(total, done);
                                       });
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.failedFiles.empty());
    EXPECT_EQ(result.stagedPaths, (Names{cache() + "/Folder", cache() + "/one.txt"}));
    EXPECT_EQ(result.stagedEntries, entries({"/A/Folder", "/A/one.txt"}));
    EXPECT_FALSE(std::filesystem::exists(cache() + "/left.txt"));
    EXPECT_EQ(readFile(cache() + "/Folder/Deep/deep.txt"), "deep");
    EXPECT_EQ(readFile(cache() + "/one.txt"), "one");
    EXPECT_EQ(modeOf(cache() + "/Folder/Deep"), 0700u);
    EXPECT_EQ(modeOf(cache() + "/Folder/inner.txt"), 0600u);
    EXPECT_EQ(modeOf(cache() + "/one.txt"), 0600u);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), std::make_pair(std::uint64_t{12}, std::uint64_t{12}));  // both entries
    for (const auto &[total, done] : steps)
        EXPECT_EQ(total, 12u);
}

TEST_F(ServicePasteStaging, SameNamesFromDifferentFoldersEachGetAFolderOfTheirOwn)
{
    const auto result = staging->stage(entries({"/A/one.txt", "/B/one.txt", "/C/one.txt"}), false, nullptr);
    ASSERT_EQ(result.stagedPaths.size(), 3u);
    EXPECT_TRUE(result.failedFiles.empty());
    EXPECT_EQ(result.stagedPaths[0], cache() + "/one.txt");
    EXPECT_EQ(readFile(result.stagedPaths[0]), "one");
    EXPECT_EQ(readFile(result.stagedPaths[1]), "other one");
    EXPECT_EQ(readFile(result.stagedPaths[2]), "third one");
    EXPECT_NE(result.stagedPaths[1], result.stagedPaths[2]);
    EXPECT_EQ(std::filesystem::path(result.stagedPaths[2]).filename(), "one.txt");
}

TEST_F(ServicePasteStaging, AnEntryThatCannotBeReadFailsAloneAndLeavesNoPart)
{
    auto ghost = showGhost("/A/Folder", "ghost.txt", 5);
    const auto result = staging->stage(entries({"/A/Folder", "/A/one.txt"}), false, nullptr);
    EXPECT_EQ(result.failedFiles, entries({"/A/Folder"}));
    EXPECT_EQ(result.stagedPaths, (Names{cache() + "/one.txt"}));
    EXPECT_FALSE(std::filesystem::exists(cache() + "/Folder"));
}

TEST_F(ServicePasteStaging, CancelRemovesThePartialCopiesAndOffersNothing)
{
    storePut("/big.bin", randomContent(5 * 1024 * 1024, 3));
    refreshTree();
    const auto result = staging->stage(entries({"/A/one.txt", "/big.bin"}), true,
                                       [&](std::uint64_t, std::uint64_t done, const std::string &) {
                                           if (done > 3)
                                               staging->cancel();
                                       });
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.stagedPaths.empty());
    EXPECT_TRUE(std::filesystem::is_empty(cache()));
    // A cancelled cut removes nothing, even though its copies are gone.
    EXPECT_TRUE(staging->removeEntriesTakenByOtherPrograms().empty());
    EXPECT_EQ(storeGet("/A/one.txt"), "one");
    EXPECT_TRUE(storeGet("/big.bin"));
}

TEST_F(ServicePasteStaging, ACutRemovesOnlyWhatAnotherProgramMovedAwayUntilForgotten)
{
    const auto result = staging->stage(entries({"/A/one.txt", "/A/Folder", "/B/one.txt"}), true, nullptr);
    ASSERT_EQ(result.stagedPaths.size(), 3u);
    EXPECT_TRUE(staging->isCut());
    EXPECT_TRUE(staging->removeEntriesTakenByOtherPrograms().empty());

    TempDir elsewhere;
    std::filesystem::rename(result.stagedPaths[1], elsewhere / "Folder");
    EXPECT_EQ(staging->removeEntriesTakenByOtherPrograms(), entries({"/A/Folder"}));
    EXPECT_FALSE(storeGet("/A/Folder/inner.txt"));
    EXPECT_EQ(childNames(*entry("/A")), (Names{"one.txt"}));
    EXPECT_EQ(readFile(elsewhere / "Folder/Deep/deep.txt"), "deep");
    EXPECT_TRUE(staging->removeEntriesTakenByOtherPrograms().empty());  // once

    staging->forget();
    std::filesystem::remove(result.stagedPaths[0]);
    std::filesystem::remove(result.stagedPaths[2]);
    EXPECT_TRUE(staging->removeEntriesTakenByOtherPrograms().empty());
    EXPECT_EQ(storeGet("/A/one.txt"), "one");
    EXPECT_EQ(storeGet("/B/one.txt"), "other one");
}

TEST_F(ServicePasteStaging, ANewStageEndsThePreviousCutAndACopyNeverRemoves)
{
    const auto cut = staging->stage(entries({"/A/one.txt"}), true, nullptr);
    ASSERT_EQ(cut.stagedPaths.size(), 1u);
    // The new stage empties the cache: that is not the old cut's paste.
    const auto copy = staging->stage(entries({"/B/one.txt"}), false, nullptr);
    EXPECT_FALSE(staging->isCut());
    std::filesystem::remove(copy.stagedPaths.at(0));
    EXPECT_TRUE(staging->removeEntriesTakenByOtherPrograms().empty());
    EXPECT_EQ(storeGet("/A/one.txt"), "one");
    EXPECT_EQ(storeGet("/B/one.txt"), "other one");
}

}  // namespace
