// The computer pane follows the disk: folders and files made or removed by other programs, and
// by the program's own exports, show in the tree and the list without losing the person's
// place; its hidden files and renames; and the user folders it offers.
#include <QItemSelectionModel>
#include <QTreeView>

#include "UnlockedScreenFixture.h"
#include "XXComputerFileController.h"
#include "XXComputerFileModel.h"
#include "XXComputerTreeModel.h"

using apptest::waitFor;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

class ComputerPaneTest : public apptest::UnlockedScreenTest {
protected:
    // The screen, with folder as the last root of the tree, shown and expanded.
    XXComputerFileController *showRoot(const std::string &folder)
    {
        pane_ = openScreen()->computerFileVC();
        pane_->addVolume(folder);
        root_ = pane_->treeModel()->index(pane_->treeModel()->rowCount() - 1, 0);
        pane_->computerFileTreeTable()->setCurrentIndex(root_);
        pane_->computerFileTreeTable()->expand(root_);
        EXPECT_TRUE(waitFor([&] { return pane_->treeModel()->isListed(root_) && pane_->treeTableSelectedWrapper(); }));
        return pane_;
    }
    Names tableNames() const
    {
        Names names;
        for (const auto &item : pane_->fileModel()->items())
            names.push_back(item->fileName());
        return names;
    }
    std::shared_ptr<XXFileWrapper> listed(const std::string &name) const
    {
        for (const auto &item : pane_->fileModel()->items())
            if (item->fileName() == name)
                return item;
        return nullptr;
    }
    Names treeNames(const std::string &path) const
    {
        const QModelIndex parent = pane_->treeModel()->indexOfPath(path);
        Names names;
        for (int row = 0; row < pane_->treeModel()->rowCount(parent); ++row)
            names.push_back(pane_->treeModel()->wrapper(pane_->treeModel()->index(row, 0, parent))->fileName());
        return names;
    }

    const std::string computer_ = dir_ / "computer";
    XXComputerFileController *pane_ = nullptr;
    QModelIndex root_;
};

}  // namespace

TEST_F(ComputerPaneTest, ChangesMadeOutsideShowInTheTreeAndTheListKeepingSelectionAndExpansion)
{
    fs::create_directories(computer_ + "/docs/deeper");
    std::ofstream(computer_ + "/notes.txt") << "some notes";
    showRoot(computer_);
    QTreeView *tree = pane_->computerFileTreeTable();
    const QModelIndex docs = pane_->treeModel()->index(0, 0, root_);
    tree->expand(docs);
    ASSERT_TRUE(waitFor([&] { return treeNames(computer_ + "/docs") == Names{"deeper"}; }));
    pane_->folderSubFileTable()->selectionModel()->select(pane_->fileModel()->index(1, 0),
                                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_EQ(pane_->selectedFiles().front()->fileName(), "notes.txt");

    // Made by another program: under its parent in the tree and in the list, in byte order.
    fs::create_directory(computer_ + "/Exported");
    ASSERT_TRUE(waitFor([&] { return treeNames(computer_) == (Names{"Exported", "docs"}); }));
    EXPECT_TRUE(waitFor([&] { return tableNames() == (Names{"Exported", "docs", "notes.txt"}); }));
    ASSERT_EQ(pane_->selectedFiles().size(), 1u);
    EXPECT_EQ(pane_->selectedFiles().front()->fileName(), "notes.txt") << "the selection stays";
    EXPECT_TRUE(tree->isExpanded(pane_->treeModel()->indexOfPath(computer_ + "/docs"))) << "docs stays open";

    std::ofstream(computer_ + "/added.png") << "x";
    EXPECT_TRUE(waitFor([&] { return tableNames() == (Names{"Exported", "docs", "notes.txt", "added.png"}); }));
    fs::remove(computer_ + "/added.png");
    fs::create_directory(computer_ + "/docs/also");
    EXPECT_TRUE(waitFor([&] { return tableNames() == (Names{"Exported", "docs", "notes.txt"}); }));
    EXPECT_TRUE(waitFor([&] { return treeNames(computer_ + "/docs") == (Names{"also", "deeper"}); }));

    // Removed outside: it leaves the tree, and when it was shown another folder is shown.
    fs::remove(computer_ + "/Exported");
    EXPECT_TRUE(waitFor([&] { return treeNames(computer_) == Names{"docs"}; }));
    tree->setCurrentIndex(pane_->treeModel()->indexOfPath(computer_ + "/docs/deeper"));
    ASSERT_TRUE(waitFor([&] { return pane_->treeTableSelectedWrapper()->fileName() == "deeper"; }));
    fs::remove(computer_ + "/docs/deeper");
    EXPECT_TRUE(waitFor([&] {
        return treeNames(computer_ + "/docs") == Names{"also"} && pane_->treeTableSelectedWrapper() &&
            pane_->treeTableSelectedWrapper()->fileName() != "deeper";
    }));
    EXPECT_FALSE(pane_->watchedFolders().count(computer_ + "/docs/deeper"));
}

TEST_F(ComputerPaneTest, DotFilesAreHiddenAndARenameKeepsTheExtensionAndNeverReplaces)
{
    fs::create_directories(computer_ + "/docs");
    writeFile(computer_ + "/notes.txt", "some notes");
    writeFile(computer_ + "/photo.png", "not really a picture");
    writeFile(computer_ + "/.hidden", "never shown");
    const XXFileWrapper file(computer_ + "/notes.txt"), folder(computer_ + "/docs");
    EXPECT_EQ(XXComputerFileController::renamedName(file, "draft"), "draft.txt");
    EXPECT_EQ(XXComputerFileController::renamedName(file, "draft.md"), "draft.md.txt");
    EXPECT_EQ(XXComputerFileController::renamedName(file, "draft.txt"), "draft.txt");
    EXPECT_EQ(XXComputerFileController::renamedName(folder, "pics.old"), "pics.old");

    showRoot(computer_);
    ASSERT_TRUE(waitFor([&] { return tableNames().size() == 3; }));
    EXPECT_EQ(listed(".hidden"), nullptr);
    ASSERT_NE(listed("notes.txt"), nullptr);
    pane_->renameItem(listed("notes.txt"), "docs");
    EXPECT_EQ(apptest::takeReminder(), xxplatform::text("String_96")) << "docs.txt does not exist";
    EXPECT_TRUE(fs::exists(computer_ + "/docs.txt"));
    ASSERT_NE(listed("docs.txt"), nullptr);
    pane_->renameItem(listed("docs.txt"), "photo.png");
    EXPECT_EQ(apptest::takeReminder(), xxplatform::text("String_96"));
    writeFile(computer_ + "/taken.txt", "x");
    const auto photoTxt = listed("photo.png.txt");
    ASSERT_NE(photoTxt, nullptr);
    pane_->renameItem(photoTxt, "taken");
    EXPECT_EQ(apptest::takeReminder(), xxplatform::text("String_69"));
    EXPECT_EQ(readFile(computer_ + "/taken.txt"), "x") << "nothing replaced";
    pane_->renameItem(photoTxt, "a/b");
    EXPECT_EQ(apptest::takeReminder(), xxplatform::text("String_98"));
}

TEST_F(ComputerPaneTest, AnExportIntoANewFolderShowsItUnderItsParent)
{
    const std::string documents = dir_ / "home/Documents";
    fs::create_directories(documents);
    showRoot(documents);
    auto *screen = apptest::visible<XXMainViewController>().last();
    importFile(screen, "report.txt", "quarterly");
    screen->protectTabVC()->selectedAllFile();
    screen->saveFileToPath(QString::fromStdString(documents + "/Exported"));
    EXPECT_EQ(apptest::takeReminder(), xxplatform::text("String_172"));
    EXPECT_TRUE(waitFor([&] { return treeNames(documents) == Names{"Exported"}; }))
        << "the new folder never showed under its parent";
}

TEST_F(ComputerPaneTest, ThePicturesMusicAndVideosFoldersAreOfferedWhenTheyExist)
{
    // The person's user-dirs name the music folder; the others take the usual names.
    const std::string home = dir_ / "home";
    ScopedEnv env;
    env.set("XDG_CONFIG_HOME", home + "/.config");
    writeFile(home + "/.config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
    for (const char *folder : {"Documents", "Pictures", "Musik", "Music"})
        fs::create_directories(home + "/" + folder);

    auto *pane = openScreen()->computerFileVC();
    Names roots;
    ASSERT_TRUE(waitFor([&] {
        roots.clear();
        for (const auto &root : pane->treeTableRootFileArr())
            roots.push_back(root->fullPath());
        return !roots.empty();
    }));
    // No Desktop, Downloads or Videos (they do not exist), then the stick.
    EXPECT_EQ(roots, (Names{home + "/Documents", home + "/Pictures", home + "/Musik", volume_}));
}
