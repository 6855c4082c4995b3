// The paste-out model: one export per request into the paste cache, the completions, cut,
// and a name that meets itself in the paste cache.
#include "TransferTestSupport.h"
#include "XXPasteProtectFileOutAppModel.h"

namespace {

class ServicePaste : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        storeMkdir("/A");
        storeMkdir("/B");
        storePut("/A/one.txt", "one");
        storePut("/A/two.txt", "two");
        storePut("/B/one.txt", "other one");
        storeMkdir("/A/Folder");
        storePut("/A/Folder/inner.txt", "inner");
        refreshTree();
        model.emplace(*manager);
    }
    void TearDown() override
    {
        model.reset();
        TransferFixture::TearDown();
    }

    void prepare(const std::vector<std::string> &paths, bool isCut)
    {
        XXProtectFileArray entries;
        for (const std::string &path : paths)
            entries.push_back(entry(path));
        model->fullDecodeFiles(entries);
        model->startDecodeIndex(0);
        model->setIsCut(isCut);
        auto record = [this](const XXProtectFileArray &failed) {
            completions++;
            lastFailed = failed;
        };
        if (isCut)
            model->setCutComplateBlock(record);
        else
            model->setCopyComplateBlock(record);
    }
    std::optional<std::string> ask() { return model->pasteboardPropertyListForType(XXPasteProtectFileOutAppModel::fileURLType); }
    std::string pasted(const std::string &name) const { return model->cacheFolderPath() + "/" + name; }

    std::optional<XXPasteProtectFileOutAppModel> model;
    int completions = 0;
    XXProtectFileArray lastFailed;
};

TEST_F(ServicePaste, EachRequestExportsTheNextEntryAndTheLastCallsTheCompletion)
{
    EXPECT_EQ(model->writableTypesForPasteboard(),
              (std::vector<std::string>{"public.file-url", "customWrite.to.pasteboard"}));
    EXPECT_EQ(model->writingOptionsForType("public.file-url"), 512u);

    prepare({"/A/one.txt", "/A/Folder", "/A/two.txt"}, false);
    EXPECT_EQ(model->cacheFolderPath(), runtime / "TovinUSBENC/CachePasteFolder");
    EXPECT_EQ(ask(), XXPasteProtectFileOutAppModel::fileURLForPath(pasted("one.txt")));
    EXPECT_EQ(ask(), "file://" + pasted("Folder"));
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(ask(), "file://" + pasted("two.txt"));
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(lastFailed.empty());
    EXPECT_EQ(readFile(pasted("Folder/inner.txt")), "inner");
    EXPECT_EQ(readFile(pasted("two.txt")), "two");
    EXPECT_EQ(model->cacheFiles().size(), 3u);

    // Asked again: the first entry's copy, not a second export.
    EXPECT_EQ(ask(), "file://" + pasted("one.txt"));
    EXPECT_EQ(model->cacheFiles().size(), 3u);
    EXPECT_TRUE(model->failedFiles().empty());
    EXPECT_EQ(storeGet("/A/one.txt"), "one");  // a copy leaves the store as it was
}

TEST_F(ServicePaste, ASecondEntryOfTheSameNameGetsNoDataAndIsListedAsFailed)
{
    prepare({"/A/one.txt", "/B/one.txt"}, false);
    EXPECT_TRUE(ask());
    EXPECT_EQ(ask(), std::nullopt);
    EXPECT_EQ(completions, 1);
    ASSERT_EQ(lastFailed.size(), 1u);
    EXPECT_EQ(lastFailed.front(), entry("/B/one.txt"));
    EXPECT_EQ(model->cacheFiles(), (std::vector<std::string>{pasted("one.txt"), ""}));
    EXPECT_EQ(readFile(pasted("one.txt")), "one");
    // The model's own export is done with: the screens' export pipeline was never involved.
    EXPECT_FALSE(manager->decodePipeline().isCancel());
}

TEST_F(ServicePaste, ACutRemovesWhatWasExportedAndKeepsWhatFailed)
{
    auto ghost = std::make_shared<XXProtectFileWrapper>();
    ghost->setParentFolderPath("/A");
    ghost->setFileName("ghost.txt");
    ghost->setFileSize(2);
    entry("/A")->appendSubFile(ghost);

    prepare({"/A/one.txt", "/A/ghost.txt", "/A/Folder"}, true);
    EXPECT_TRUE(ask());
    EXPECT_FALSE(ask());
    EXPECT_TRUE(ask());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(lastFailed, (XXProtectFileArray{ghost}));
    EXPECT_EQ(storeList("/A"), (std::vector<std::string>{"two.txt"}));
    EXPECT_EQ(childNames(*entry("/A")), (std::vector<std::string>{"two.txt", "ghost.txt"}));
    EXPECT_EQ(readFile(pasted("one.txt")), "one");
    EXPECT_EQ(readFile(pasted("Folder/inner.txt")), "inner");
}

TEST_F(ServicePaste, PreparingANewPasteEmptiesTheCacheOfThePreviousOne)
{
    prepare({"/A/one.txt"}, false);
    ASSERT_TRUE(ask());
    ASSERT_TRUE(std::filesystem::exists(pasted("one.txt")));
    prepare({"/A/two.txt"}, false);
    EXPECT_FALSE(std::filesystem::exists(pasted("one.txt")));
    EXPECT_TRUE(std::filesystem::is_directory(model->cacheFolderPath()));
    XXPasteProtectFileOutAppModel::cleanCacheFiles();
    EXPECT_FALSE(std::filesystem::exists(model->cacheFolderPath()));
}

TEST(ServicePasteURL, FileURLsEscapeEverythingButPathCharacters)
{
    EXPECT_EQ(XXPasteProtectFileOutAppModel::fileURLForPath("/run/a b/Notiz ä#1.txt"),
              "file:///run/a%20b/Notiz%20%C3%A4%231.txt");
}

}  // namespace
