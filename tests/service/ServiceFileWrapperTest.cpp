// The computer-side model on a real folder tree with hidden entries, links and escapes. (Its
// sort order shows in the window's computer pane test.)
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ServiceTestSupport.h"
#include "XXFileWrapper.h"

namespace {

std::shared_ptr<XXFileWrapper> item(const std::string &name, bool folder)
{
    auto model = std::make_shared<XXFileWrapper>();
    model->setFileName(name);
    model->setIsDirectory(folder);
    return model;
}

class ServiceFileWrapper : public ::testing::Test {
protected:
    TempDir dir;
    std::string top;

    void SetUp() override
    {
        top = dir / "top";
        writeFile(top + "/.DS_Store", "x");
        writeFile(top + "/.hidden/secret.txt", "s");
        writeFile(top + "/z/inner.txt", "inner");
        writeFile(top + "/b.mp3", "music");
        writeFile(top + "/a.jpg", "pic");
        std::filesystem::create_directory_symlink(top, top + "/loop");
    }
};

}  // namespace

TEST_F(ServiceFileWrapper, AFolderAndItsAttributes)
{
    ASSERT_EQ(chmod((top + "/b.mp3").c_str(), 0640), 0);
    const auto model = XXFileWrapper::initWithURL(top);
    EXPECT_TRUE(model->isDirectory());
    EXPECT_EQ(model->fileName(), "top");
    EXPECT_EQ(model->parentFolderPath(), dir.path());
    EXPECT_EQ(model->iconName(), "NSFolder");
    EXPECT_TRUE(model->fileAttributes().has_value());

    const XXFileWrapper music(top + "/b.mp3");
    EXPECT_FALSE(music.isDirectory());
    ASSERT_TRUE(music.fileAttributes().has_value());
    EXPECT_EQ(music.fileAttributes()->fileSize, 5u);
    EXPECT_EQ(music.fileAttributes()->permissions, 0640u);
    EXPECT_EQ(music.fileAttributes()->ownerID, getuid());
    EXPECT_GT(music.fileAttributes()->modificationDate, 0);
    EXPECT_GT(music.fileAttributes()->creationDate, 0);
    EXPECT_EQ(music.iconName(), "main45");
}

TEST_F(ServiceFileWrapper, HiddenChildrenAreListedButNotShown)
{
    auto model = XXFileWrapper::initWithURL(top);
    EXPECT_EQ(namesOf(model->allSubFileArray()),
              (Names{".DS_Store", ".hidden", "a.jpg", "b.mp3", "loop", "z"}));
    EXPECT_EQ(namesOf(model->allWithoutHiddenFileSubFileArray()), (Names{"a.jpg", "b.mp3", "loop", "z"}));
    // The link to the folder itself is not a folder of the model, so no walk can loop.
    EXPECT_EQ(namesOf(model->allSubFolderFileArray()), (Names{"z"}));
    for (const auto &child : model->allSubFileArray())
        EXPECT_EQ(child->parentFolderPath(), top);

    const auto z = model->allSubFolderFileArray()[0];
    EXPECT_EQ(namesOf(z->allSubFileArray()), (Names{"inner.txt"}));
    EXPECT_EQ(z->allSubFileArray()[0]->fullPath(), top + "/z/inner.txt");
    EXPECT_EQ(z->allSubFileArray()[0]->fileAttributes()->fileSize, 5u);

    // Listed once: later changes on disk do not show.
    writeFile(top + "/new.txt", "n");
    EXPECT_EQ(model->allSubFileArray().size(), 6u);

    // The link named directly is followed.
    EXPECT_TRUE(XXFileWrapper(top + "/loop").isDirectory());
}

TEST_F(ServiceFileWrapper, EscapedPathsAreTriedDecoded)
{
    writeFile(dir / "my docs/file one.txt", "1");
    const XXFileWrapper escaped(dir / "my%20docs/file%20one.txt");
    ASSERT_TRUE(escaped.fileAttributes().has_value());
    EXPECT_EQ(escaped.fileName(), "file one.txt");
    EXPECT_EQ(escaped.parentFolderPath(), dir / "my docs");

    XXFileWrapper url("file://" + dir.path() + "/my%20docs");
    EXPECT_TRUE(url.isDirectory());
    EXPECT_EQ(url.fileName(), "my docs");
    EXPECT_EQ(namesOf(url.allSubFileArray()), (Names{"file one.txt"}));

    // A name that really holds an escape is opened as it stands.
    writeFile(dir / "100%25", "literal");
    const XXFileWrapper literal(dir / "100%25");
    ASSERT_TRUE(literal.fileAttributes().has_value());
    EXPECT_EQ(literal.fileName(), "100%25");
}

TEST_F(ServiceFileWrapper, AnItemThatCannotBeReadHasNoContent)
{
    XXFileWrapper missing(dir / "missing%2Fthing");
    EXPECT_FALSE(missing.fileAttributes().has_value());
    EXPECT_FALSE(missing.isDirectory());
    EXPECT_TRUE(missing.allSubFileArray().empty());
    EXPECT_EQ(missing.fileName(), "thing");  // the decoded path is the item's from then on
    EXPECT_EQ(missing.parentFolderPath(), dir / "missing");
}

TEST(ServiceFileWrapperText, PercentDecodingAndPathsAtTheRoot)
{
    EXPECT_EQ(XXFileWrapper::removingPercentEncoding("a%20b"), "a b");
    EXPECT_EQ(XXFileWrapper::removingPercentEncoding("%E4%B8%AD"), "中");
    EXPECT_EQ(XXFileWrapper::removingPercentEncoding("plain"), "plain");
    for (const char *bad : {"%zz", "%4", "end%", "%ff", "a%00b", "%C0%AF"})
        EXPECT_FALSE(XXFileWrapper::removingPercentEncoding(bad).has_value()) << bad;

    EXPECT_EQ(XXFileWrapper("/").fullPath(), "/");
    const XXFileWrapper tmp("/tmp");
    EXPECT_EQ(tmp.parentFolderPath(), "/");
    EXPECT_EQ(tmp.fullPath(), "/tmp");
}

TEST_F(ServiceFileWrapper, SetArraysAreNotReplacedByALaterListing)
{
    XXFileWrapper model(top);
    model.setAllSubFileArray({item("mine", false)});
    EXPECT_EQ(namesOf(model.allWithoutHiddenFileSubFileArray()), (Names{"a.jpg", "b.mp3", "loop", "z"}));
    EXPECT_EQ(namesOf(model.allSubFileArray()), (Names{"mine"}));
}
