// The protected tree built from a real vault: shape, left-out entries, sizes and counts,
// separation and search, listing again, and damaged vaults.
#include <algorithm>
#include <filesystem>
#include <regex>

#include "ReferenceFormat.h"
#include "ServiceTestSupport.h"
#include "XXServiceText.h"

namespace {

// The entry at a path below entry ("Docs/Inner"); nullptr when absent.
std::shared_ptr<XXProtectFileWrapper> entryAt(std::shared_ptr<XXProtectFileWrapper> entry,
                                              const std::string &path)
{
    for (const std::string &name : xxservice::splitText(path, "/")) {
        const XXProtectFileArray &children = entry->allSubFileArray();
        const auto found = std::find_if(children.begin(), children.end(),
                                        [&](const auto &child) { return child->fileName() == name; });
        if (found == children.end())
            return nullptr;
        entry = *found;
    }
    return entry;
}

// Every child names its holder as parent and the holder's full path as parent path.
void expectLinksHold(const XXProtectFileWrapper &folder)
{
    for (const auto &entry : folder.allSubFileArray()) {
        EXPECT_EQ(entry->parentWrapper(), &folder) << entry->fullPath();
        EXPECT_EQ(entry->parentFolderPath(), folder.fullPath()) << entry->fullPath();
        expectLinksHold(*entry);
    }
}

class ServiceTree : public OpenVaultFixture {
protected:
    // expectedCode 1: some folders cannot be listed, the first of them is unreadable.
    std::shared_ptr<XXProtectFileWrapper> buildTree(int expectedCode = 0, const std::string &unreadable = "")
    {
        const XXDiskResultObject result =
            run([&](const XXDiskResultBlock &b) { manager->acquireProtectFileWithComplete(b); });
        EXPECT_EQ(result.successCode(), expectedCode);
        if (!unreadable.empty()) {
            EXPECT_EQ(result.errorFileName(), unreadable);
        }
        return result.successWrapper();
    }

    // The root entry of a tree of /Docs/{report.pdf 10, empty.txt 0, Inner/{deep.mp3 5},
    // Hollow/{Void/}}, a.png 3, z.mp4 4, doc.txt 7.
    std::shared_ptr<XXProtectFileWrapper> filledRoot()
    {
        storeMkdir("/Docs");
        storePut("/Docs/report.pdf", "0123456789");
        storePut("/Docs/empty.txt", "");
        storeMkdir("/Docs/Inner");
        storePut("/Docs/Inner/deep.mp3", "12345");
        storeMkdir("/Docs/Hollow");
        storeMkdir("/Docs/Hollow/Void");
        storePut("/a.png", "abc");
        storePut("/z.mp4", "abcd");
        storePut("/doc.txt", "1234567");
        const auto container = buildTree();
        return container ? container->allSubFileArray().at(0) : nullptr;
    }

    static ref::Index readIndex(const std::string &file, const ref::Bytes &key, const ref::Bytes &iv,
                                bool root)
    {
        return ref::parseIndex(ref::aesCbc(readFile(file), key, iv, false), root);
    }
    // Decrypts an index file of the store, lets edit change it and writes it back.
    static void editIndex(const std::string &file, const ref::Bytes &key, const ref::Bytes &iv, bool root,
                          const std::function<void(ref::Index &)> &edit)
    {
        ref::Index index = readIndex(file, key, iv, root);
        edit(index);
        std::filesystem::remove(file);
        writeFile(file, ref::aesCbc(ref::buildIndex(index, root), key, iv, true));
    }
};

}  // namespace

TEST_F(ServiceTree, AnEmptyStoreGivesAnEmptyRootAndNoStoreNone)
{
    const auto container = buildTree();
    ASSERT_NE(container, nullptr);
    EXPECT_TRUE(container->isRootContainerWrapper());
    EXPECT_TRUE(container->isDirectory());
    ASSERT_EQ(container->allSubFileArray().size(), 1u);
    const auto &root = container->allSubFileArray()[0];
    EXPECT_TRUE(root->isRootWrapper());
    EXPECT_TRUE(root->isDirectory());
    EXPECT_EQ(root->parentWrapper(), container.get());
    EXPECT_EQ(root->iconName(), "main44");
    EXPECT_EQ(root->createDateString(), "--");
    EXPECT_EQ(root->fullPath(), "/");
    EXPECT_TRUE(root->allSubFileArray().empty());

    manager->logOutComplete(nullptr);
    const XXDiskResultObject result =
        run([&](const XXDiskResultBlock &b) { manager->acquireProtectFileWithComplete(b); });
    expectError(result, "5+1", 1, localized("String_102"));
    EXPECT_FALSE(result.successValue().has_value());
}

// Empty files are left out of the tree and so of its sizes and counts; the order of the
// entries shows in the separation below.
TEST_F(ServiceTree, TheTreeMirrorsTheStoreWithItsSizesAndFileCounts)
{
    const auto root = filledRoot();
    ASSERT_NE(root, nullptr);
    expectLinksHold(*root);
    const auto docs = entryAt(root, "Docs");
    EXPECT_EQ(docs->fileType(), 0);
    EXPECT_EQ(docs->iconName(), "NSFolder");
    const auto report = entryAt(root, "Docs/report.pdf");
    EXPECT_FALSE(report->isDirectory());
    EXPECT_EQ(report->fileType(), XXTool::shareTool().changeFileTypeWithName("report.pdf"));
    EXPECT_TRUE(std::regex_match(report->createDateString(),
                                 std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << report->createDateString();

    const std::tuple<std::string, std::uint64_t, std::int32_t> cases[] = {
        {"", 29, 5}, {"Docs", 15, 2}, {"Docs/Hollow", 0, 0}, {"z.mp4", 4, 1}};
    for (const auto &[path, size, number] : cases) {
        SCOPED_TRACE(path);
        const auto entry = path.empty() ? root : entryAt(root, path);
        EXPECT_EQ(manager->protectWrapperSize(*entry), size);
        EXPECT_EQ(manager->protectWrapperSizeAndFileNum(*entry).size, size);
        EXPECT_EQ(manager->protectWrapperSizeAndFileNum(*entry).number, number);
    }
    EXPECT_EQ(manager->allSelectedProtectFileSize({entryAt(root, "a.png"), docs}), 18u);
    EXPECT_EQ(manager->allSelectedProtectFileSize({}), 0u);
}

TEST_F(ServiceTree, SeparationAndSearchListFoldersInPreOrderThenFilesInDiscoveryOrder)
{
    const auto root = filledRoot();
    ASSERT_NE(root, nullptr);
    // The store lists names in case-folded order: doc.txt before Docs, Hollow before Inner.
    XXProtectFileArray folders, files;
    manager->separateProtectFolderWrapper(root, folders, files);
    EXPECT_EQ(namesOf(folders), (Names{"", "Docs", "Hollow", "Void", "Inner"}));
    EXPECT_EQ(namesOf(files), (Names{"a.png", "doc.txt", "deep.mp3", "report.pdf", "z.mp4"}));
    // Levels count from the entry the pass starts at: the root is below the container.
    EXPECT_EQ(root->folderLevel(), 1);
    EXPECT_EQ(entryAt(root, "Docs")->folderLevel(), 2);
    EXPECT_EQ(entryAt(root, "Docs/Hollow/Void")->folderLevel(), 4);

    // Matching folders before matching files, although the file doc.txt lies higher.
    EXPECT_EQ(namesOf(manager->searchFileWithKeyString("o", root)),
              (Names{"Docs", "Hollow", "Void", "doc.txt", "report.pdf"}));
    EXPECT_EQ(namesOf(manager->searchFileWithKeyString("Doc", root)), (Names{"Docs"}));
    EXPECT_EQ(namesOf(manager->searchFileWithKeyString("doc", root)), (Names{"doc.txt"}));
    EXPECT_TRUE(manager->searchFileWithKeyString("", root).empty());
    EXPECT_TRUE(manager->searchFileWithKeyString("a", entryAt(root, "a.png")).empty());
}

// (A rename's refresh of the paths below shows in the folder operations' rename test.)
TEST_F(ServiceTree, ListingAgainReplacesTheChildren)
{
    const auto root = filledRoot();
    ASSERT_NE(root, nullptr);
    const auto docs = entryAt(root, "Docs");
    const auto oldReport = entryAt(docs, "report.pdf");
    manager->fullFileToFolderFile(*docs);
    EXPECT_EQ(namesOf(docs->allSubFileArray()), (Names{"Hollow", "Inner", "report.pdf"}));
    EXPECT_EQ(oldReport->parentWrapper(), nullptr);
    EXPECT_EQ(entryAt(docs, "Inner/deep.mp3")->fileSize(), 5u);
    expectLinksHold(*root);
}

TEST_F(ServiceTree, NamesNoPathCanHoldAreLeftOut)
{
    storePut("/good.txt", "hello");
    storeMkdir("/dir");
    storePut("/dir/inside.txt", "x");
    editIndex(storeDir() + "/index", ref::rootKey(password), ref::rootIv(), true, [](ref::Index &root) {
        ASSERT_EQ(root.entries.size(), 2u);
        ASSERT_EQ(root.entries[0].name, "dir/");
        const ref::Entry folder = root.entries[0], file = root.entries[1];
        // Files, then folders sharing dir's index, whose names would make their paths name others.
        for (const char *name : {"", ".", "..", "a/b", "x\\y", "\xff\xfe.txt", "/", "./", "../", "p\\q/"}) {
            root.entries.push_back(std::string_view(name).ends_with('/') ? folder : file);
            root.entries.back().name = name;
        }
        // The store keeps its index in case-folded order.
        auto fold = [](std::string s) {
            std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
            return s;
        };
        std::sort(root.entries.begin(), root.entries.end(),
                  [&](const ref::Entry &a, const ref::Entry &b) { return fold(a.name) < fold(b.name); });
    });

    const auto tree = buildTree();
    ASSERT_NE(tree, nullptr);
    const auto top = tree->allSubFileArray()[0];
    EXPECT_EQ(namesOf(top->allSubFileArray()), (Names{"dir", "good.txt"}));
    EXPECT_EQ(namesOf(entryAt(top, "dir")->allSubFileArray()), (Names{"inside.txt"}));
    EXPECT_TRUE(logged("whose name no path can hold: \"x\\x5cy\""));
    EXPECT_TRUE(logged("whose name no path can hold: \"..\""));
    EXPECT_TRUE(logged("whose name no path can hold: \"\\xff\\xfe.txt\""));
}

TEST_F(ServiceTree, AFolderIndexNamingItselfEndsTheListing)
{
    storeMkdir("/L");
    storePut("/L/f.txt", "data");
    const ref::Index root = readIndex(storeDir() + "/index", ref::rootKey(password), ref::rootIv(), true);
    ASSERT_EQ(root.entries.size(), 1u);
    const ref::Entry self = root.entries[0];
    editIndex(ref::objectPath(storeDir(), self.id), ref::objectKey(root.objectKey, self.id),
              ref::objectIv(self.id), false,
              [&](ref::Index &inside) { inside.entries.push_back(self); });  // folded order: "f.txt" < "l/"

    // The folder's id tells the second level is the first again: it shows, empty, as
    // unreadable, instead of a listing that goes round until the path is too long.
    const auto tree = buildTree(1, "/L/L");
    ASSERT_NE(tree, nullptr);
    auto top = entryAt(tree->allSubFileArray()[0], "L");
    ASSERT_NE(top, nullptr);
    EXPECT_NE(entryAt(top, "f.txt"), nullptr);
    auto again = entryAt(top, "L");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->allSubFileArray().empty());
    EXPECT_TRUE(logged("folder names the index of another folder, not listed: /L/L"));
}

TEST_F(ServiceTree, AMissingOrDamagedFolderIndexIsReportedNotShownAsEmpty)
{
    storeMkdir("/Good");
    storePut("/Good/g.txt", "g");
    storeMkdir("/Lost");
    storePut("/Lost/inside.txt", "gone");
    const ref::Index root = readIndex(storeDir() + "/index", ref::rootKey(password), ref::rootIv(), true);
    for (const ref::Entry &e : root.entries) {
        if (e.name == "Lost/") {
            ASSERT_EQ(unlink(ref::objectPath(storeDir(), e.id).c_str()), 0);
        }
    }

    const auto tree = buildTree(1, "/Lost");
    ASSERT_NE(tree, nullptr);
    EXPECT_NE(entryAt(entryAt(tree->allSubFileArray()[0], "Good"), "g.txt"), nullptr);
    EXPECT_TRUE(logged("fs_opendir---1 errno 74: /Lost"));
}
