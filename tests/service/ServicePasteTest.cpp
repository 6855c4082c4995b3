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
        storeAll({{"/A/", ""},
                  {"/A/one.txt", "one"},
                  {"/A/two.txt", "two"},
                  {"/A/Folder/", ""},
                  {"/A/Folder/inner.txt", "inner"},
                  {"/B/", ""},
                  {"/B/one.txt", "other one"}});
        model.emplace(*manager);
    }
    void TearDown() override
    {
        model.reset();
        TransferFixture::TearDown();
    }

    void prepare(const Names &paths, bool isCut)
    {
        model->fullDecodeFiles(entries(paths));
        model->startDecodeIndex(0);
        model->setIsCut(isCut);
        auto record = [this](const XXProtectFileArray &failed) {
            completions++;
            lastFailed = failed;
        };
        isCut ? model->setCutCompleteBlock(record) : model->setCopyCompleteBlock(record);
    }
    std::optional<std::string> ask()
    {
        return model->pasteboardPropertyListForType(XXPasteProtectFileOutAppModel::fileURLType);
    }
    std::string pasted(const std::string &name) const { return model->cacheFolderPath() + "/" + name; }
    std::optional<std::string> urlOf(const std::string &name) const { return "file://" + pasted(name); }

    std::optional<XXPasteProtectFileOutAppModel> model;
    int completions = 0;
    XXProtectFileArray lastFailed;
};

TEST_F(ServicePaste, EachRequestExportsTheNextEntryAndTheLastCallsTheCompletion)
{
    prepare({"/A/one.txt", "/A/Folder", "/A/two.txt"}, false);
    const std::filesystem::path cache = model->cacheFolderPath();
    EXPECT_EQ(cache.filename(), "CachePasteFolder");
    EXPECT_EQ(cache.parent_path().parent_path(), runtime / "TovinUSBENC");  // the program's own folder
    EXPECT_EQ(ask(), urlOf("one.txt"));
    EXPECT_EQ(ask(), urlOf("Folder"));
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(ask(), urlOf("two.txt"));
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(lastFailed.empty());
    EXPECT_EQ(readFile(pasted("Folder/inner.txt")), "inner");
    EXPECT_EQ(readFile(pasted("two.txt")), "two");

    // Asked again: the first entry's copy, not a second export.
    EXPECT_EQ(ask(), urlOf("one.txt"));
    EXPECT_EQ(model->cacheFiles().size(), 3u);
    EXPECT_TRUE(model->failedFiles().empty());
    EXPECT_EQ(storeGet("/A/one.txt"), "one");  // a copy leaves the store as it was

    // A new paste empties the cache of the previous one.
    prepare({"/A/two.txt"}, false);
    EXPECT_FALSE(std::filesystem::exists(pasted("one.txt")));
    EXPECT_TRUE(std::filesystem::is_directory(model->cacheFolderPath()));
    XXPasteProtectFileOutAppModel::cleanCacheFiles();
    EXPECT_FALSE(std::filesystem::exists(model->cacheFolderPath()));
}

// The second entry of a name meets the first in the paste cache: it gets no data, is listed
// as failed, and a cut keeps it while it removes what was exported.
TEST_F(ServicePaste, ACutRemovesWhatWasExportedAndKeepsWhatFailed)
{
    prepare({"/A/one.txt", "/B/one.txt", "/A/Folder"}, true);
    EXPECT_TRUE(ask());
    EXPECT_EQ(ask(), std::nullopt);
    EXPECT_TRUE(ask());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(lastFailed, (XXProtectFileArray{entry("/B/one.txt")}));
    EXPECT_EQ(model->cacheFiles(), (Names{pasted("one.txt"), "", pasted("Folder")}));
    EXPECT_EQ(readFile(pasted("one.txt")), "one");
    EXPECT_EQ(readFile(pasted("Folder/inner.txt")), "inner");
    EXPECT_EQ(storeList("/A"), (Names{"two.txt"}));
    EXPECT_EQ(childNames(*entry("/A")), (Names{"two.txt"}));
    EXPECT_EQ(storeGet("/B/one.txt"), "other one");
    EXPECT_EQ(childNames(*entry("/B")), (Names{"one.txt"}));
    // The model's own export is done with: the screens' export pipeline was never involved.
    EXPECT_FALSE(manager->exportJob().isCancel());
}

TEST(ServicePasteURL, FileURLsEscapeEverythingButPathCharacters)
{
    EXPECT_EQ(XXPasteProtectFileOutAppModel::fileURLForPath("/run/a b/Notiz ä#1.txt"),
              "file:///run/a%20b/Notiz%20%C3%A4%231.txt");
}

}  // namespace
