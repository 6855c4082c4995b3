// The protected tree built from a real vault: shape, left-out entries, sizes and counts,
// search, path refresh, and damaged vaults.
#include <algorithm>
#include <filesystem>
#include <regex>

#include "ReferenceFormat.h"
#include "ServiceTestSupport.h"

namespace {

class ServiceTree : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        openVault();
    }

    static void put(const std::string &path, const std::string &content)
    {
        auto engine = XXDiskFileManager::lockEngine();
        const int handle = fs_open(path.c_str(), FS_O_WRITE, static_cast<std::uint64_t>(content.size()));
        ASSERT_GE(handle, 0) << path;
        if (!content.empty()) {
            ASSERT_EQ(fs_write(handle, content.data(), static_cast<std::uint32_t>(content.size())),
                      static_cast<int>(content.size()));
        }
        ASSERT_EQ(fs_close(handle), 0);
    }

    static void makeFolder(const std::string &path)
    {
        auto engine = XXDiskFileManager::lockEngine();
        ASSERT_EQ(fs_mkdir(path.c_str()), 0) << path;
    }

    std::shared_ptr<XXProtectFileWrapper> buildTree()
    {
        const XXDiskResultObjct result = run([&](const XXDiskResultBlock &b) { manager->acquireProtectFileWithComplate(b); });
        EXPECT_TRUE(result.isSuccess());
        EXPECT_EQ(result.successCode(), 0);
        return result.successWrapper();
    }

    // /Docs/{report.pdf 10, empty.txt 0, Inner/{deep.mp3 5}, Hollow/{Void/}}, a.png 3,
    // z.mp4 4, doc.txt 7.
    void fillVault()
    {
        makeFolder("/Docs");
        put("/Docs/report.pdf", "0123456789");
        put("/Docs/empty.txt", "");
        makeFolder("/Docs/Inner");
        put("/Docs/Inner/deep.mp3", "12345");
        makeFolder("/Docs/Hollow");
        makeFolder("/Docs/Hollow/Void");
        put("/a.png", "abc");
        put("/z.mp4", "abcd");
        put("/doc.txt", "1234567");
    }

    ref::Index readIndex(const std::string &file, const ref::Bytes &key, const ref::Bytes &iv, bool root)
    {
        return ref::parseIndex(ref::aesCbc(readFile(file), key, iv, false), root);
    }
    void writeIndex(const std::string &file, const ref::Index &index, const ref::Bytes &key, const ref::Bytes &iv,
                    bool root)
    {
        std::filesystem::remove(file);
        writeFile(file, ref::aesCbc(ref::buildIndex(index, root), key, iv, true));
    }
};

std::shared_ptr<XXProtectFileWrapper> child(const XXProtectFileWrapper &folder, const std::string &name)
{
    for (const auto &entry : folder.allSubFileArray())
        if (entry->fileName() == name)
            return entry;
    return nullptr;
}

std::vector<std::string> names(const XXProtectFileArray &entries)
{
    std::vector<std::string> out;
    for (const auto &entry : entries)
        out.push_back(entry->fileName());
    return out;
}

std::vector<std::string> sortedNames(const XXProtectFileArray &entries)
{
    std::vector<std::string> out = names(entries);
    std::sort(out.begin(), out.end());
    return out;
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

using V = std::vector<std::string>;

}  // namespace

TEST_F(ServiceTree, NeedsAMountedStore)
{
    manager->logOutComplate(nullptr);
    const XXDiskResultObjct result = run([&](const XXDiskResultBlock &b) { manager->acquireProtectFileWithComplate(b); });
    expectError(result, "5+1", 1, localized("String_102"));
    EXPECT_FALSE(result.successValue().has_value());
}

TEST_F(ServiceTree, AnEmptyStoreGivesAnEmptyRoot)
{
    const auto container = buildTree();
    ASSERT_NE(container, nullptr);
    EXPECT_TRUE(container->isRootContainerWrapper());
    EXPECT_TRUE(container->isDirectory());
    EXPECT_EQ(container->fileName(), "");
    ASSERT_EQ(container->allSubFileArray().size(), 1u);
    const auto &root = container->allSubFileArray()[0];
    EXPECT_TRUE(root->isRootWrapper());
    EXPECT_TRUE(root->isDirectory());
    EXPECT_EQ(root->parentWrapper(), container.get());
    EXPECT_EQ(root->iconName(), "main44");
    EXPECT_EQ(root->createDateString(), "--");
    EXPECT_EQ(root->fullPath(), "/");
    EXPECT_TRUE(root->allSubFileArray().empty());
}

TEST_F(ServiceTree, TheTreeMirrorsTheStore)
{
    fillVault();
    const auto container = buildTree();
    ASSERT_NE(container, nullptr);
    const auto root = container->allSubFileArray()[0];
    expectLinksHold(*root);
    EXPECT_EQ(sortedNames(root->allSubFileArray()), (V{"Docs", "a.png", "doc.txt", "z.mp4"}));

    const auto docs = child(*root, "Docs");
    ASSERT_NE(docs, nullptr);
    EXPECT_TRUE(docs->isDirectory());
    EXPECT_EQ(docs->fileType(), 0);
    EXPECT_EQ(docs->iconName(), "NSFolder");
    EXPECT_EQ(docs->fullPath(), "/Docs");
    // The empty file is left out.
    EXPECT_EQ(sortedNames(docs->allSubFileArray()), (V{"Hollow", "Inner", "report.pdf"}));
    EXPECT_EQ(names(docs->allSubFolderArray()).size(), 2u);

    const auto report = child(*docs, "report.pdf");
    EXPECT_FALSE(report->isDirectory());
    EXPECT_EQ(report->fileSize(), 10u);
    EXPECT_EQ(report->fileType(), XXTool::shareTool().changeFileTypeWithName("report.pdf"));
    EXPECT_EQ(report->fullPath(), "/Docs/report.pdf");
    EXPECT_TRUE(std::regex_match(report->createDateString(),
                                 std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << report->createDateString();
    const auto deep = child(*child(*docs, "Inner"), "deep.mp3");
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->parentFolderPath(), "/Docs/Inner");
    EXPECT_EQ(deep->iconName(), "main45");
    EXPECT_EQ(child(*root, "a.png")->iconName(), "main46");
}

TEST_F(ServiceTree, SizesAndFileCounts)
{
    fillVault();
    const auto root = buildTree()->allSubFileArray()[0];
    const auto docs = child(*root, "Docs");
    EXPECT_EQ(manager->protectWrapperSize(*docs), 15u);
    EXPECT_EQ(manager->protectWrapperSize(*child(*root, "a.png")), 3u);
    const XXProtectSizeAndNumber all = manager->protectWrapperSizeAndFileNum(*root);
    EXPECT_EQ(all.size, 29u);
    EXPECT_EQ(all.number, 5);
    const XXProtectSizeAndNumber hollow = manager->protectWrapperSizeAndFileNum(*child(*docs, "Hollow"));
    EXPECT_EQ(hollow.size, 0u);
    EXPECT_EQ(hollow.number, 0);
    const XXProtectSizeAndNumber one = manager->protectWrapperSizeAndFileNum(*child(*root, "z.mp4"));
    EXPECT_EQ(one.size, 4u);
    EXPECT_EQ(one.number, 1);
    EXPECT_EQ(manager->allSelectedProtectFileSize({child(*root, "a.png"), docs}), 18u);
    EXPECT_EQ(manager->allSelectedProtectFileSize({}), 0u);
}

TEST_F(ServiceTree, SearchFindsFoldersFirstAndIsCaseSensitive)
{
    fillVault();
    const auto root = buildTree()->allSubFileArray()[0];
    EXPECT_EQ(names(manager->searchFileWithKeyString("Doc", root)), (V{"Docs"}));
    EXPECT_EQ(names(manager->searchFileWithKeyString("doc", root)), (V{"doc.txt"}));
    EXPECT_TRUE(manager->searchFileWithKeyString("", root).empty());
    EXPECT_TRUE(manager->searchFileWithKeyString("a", child(*root, "a.png")).empty());

    // Folders in pre-order, then files in discovery order, although the file doc.txt lies
    // higher than the folders Hollow and Void.
    EXPECT_EQ(names(manager->searchFileWithKeyString("o", root)), (V{"Docs", "Hollow", "Void", "doc.txt", "report.pdf"}));

    // The pass sets levels from the entry it starts at: the root is below the container.
    const auto docs = child(*root, "Docs");
    EXPECT_EQ(root->folderLever(), 1);
    EXPECT_EQ(docs->folderLever(), 2);
    EXPECT_EQ(child(*child(*docs, "Hollow"), "Void")->folderLever(), 4);
}

TEST_F(ServiceTree, SeparationListsFoldersInPreOrderAndFilesInDiscoveryOrder)
{
    auto top = XXProtectFileWrapper::makeFolder("/", "T", "--");
    auto first = XXProtectFileWrapper::makeFolder("/T", "first", "--");
    auto second = XXProtectFileWrapper::makeFolder("/T", "second", "--");
    auto file = [](const char *name) {
        auto entry = std::make_shared<XXProtectFileWrapper>();
        entry->setFileName(name);
        entry->setFileType(4);
        entry->setFileSize(1);
        return entry;
    };
    top->appendSubFile(file("t1"));
    top->appendSubFile(first);
    first->appendSubFile(file("f1"));
    top->appendSubFile(file("t2"));
    top->appendSubFile(second);
    second->appendSubFile(file("s1"));
    XXProtectFileArray folders, files;
    manager->seperateProtectFolderWrapper(top, folders, files);
    EXPECT_EQ(names(folders), (V{"T", "first", "second"}));
    EXPECT_EQ(names(files), (V{"t1", "f1", "t2", "s1"}));
    EXPECT_EQ(top->folderLever(), 1);
    EXPECT_EQ(second->folderLever(), 2);
}

TEST_F(ServiceTree, RenamedFoldersRefreshTheirDescendants)
{
    fillVault();
    const auto root = buildTree()->allSubFileArray()[0];
    const auto docs = child(*root, "Docs");
    docs->setFileName("B");
    manager->wrapperChangeSubFilePath(*docs);
    EXPECT_EQ(child(*docs, "report.pdf")->fullPath(), "/B/report.pdf");
    EXPECT_EQ(child(*child(*docs, "Inner"), "deep.mp3")->parentFolderPath(), "/B/Inner");
    expectLinksHold(*root);

    const auto png = child(*root, "a.png");
    manager->wrapperChangeSubFilePath(*png);  // a file is left alone
    EXPECT_EQ(png->parentFolderPath(), "/");
}

TEST_F(ServiceTree, ListingAgainReplacesTheChildren)
{
    fillVault();
    const auto root = buildTree()->allSubFileArray()[0];
    const auto docs = child(*root, "Docs");
    const auto oldReport = child(*docs, "report.pdf");
    manager->fullFileToFolderFile(*docs);
    EXPECT_EQ(sortedNames(docs->allSubFileArray()), (V{"Hollow", "Inner", "report.pdf"}));
    EXPECT_EQ(oldReport->parentWrapper(), nullptr);
    EXPECT_EQ(child(*child(*docs, "Inner"), "deep.mp3")->fileSize(), 5u);
}

TEST_F(ServiceTree, NamesNoPathCanHoldAreLeftOut)
{
    put("/good.txt", "hello");
    makeFolder("/dir");
    put("/dir/inside.txt", "x");
    const std::string indexFile = storeDir() + "/index";
    const ref::Bytes key = ref::rootKey(password);
    ref::Index root = readIndex(indexFile, key, ref::rootIv(), true);
    ASSERT_EQ(root.entries.size(), 2u);
    const ref::Entry folderEntry = root.entries[0].name == "dir/" ? root.entries[0] : root.entries[1];
    const ref::Entry fileEntry = root.entries[0].name == "dir/" ? root.entries[1] : root.entries[0];
    for (const char *name : {"", ".", "..", "a/b", "x\\y", "\xff\xfe.txt"}) {
        ref::Entry hostile = fileEntry;
        hostile.name = name;
        root.entries.push_back(hostile);
    }
    // Folders named "", ".", "..", and one holding a backslash, all sharing dir's index.
    for (const char *name : {"/", "./", "../", "p\\q/"}) {
        ref::Entry hostile = folderEntry;
        hostile.name = name;
        root.entries.push_back(hostile);
    }
    std::sort(root.entries.begin(), root.entries.end(), [](const ref::Entry &a, const ref::Entry &b) {
        auto fold = [](std::string s) {
            for (char &c : s)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            return s;
        };
        return fold(a.name) < fold(b.name);
    });
    writeIndex(indexFile, root, key, ref::rootIv(), true);

    const auto tree = buildTree();
    ASSERT_NE(tree, nullptr);
    const auto top = tree->allSubFileArray()[0];
    EXPECT_EQ(sortedNames(top->allSubFileArray()), (V{"dir", "good.txt"}));
    EXPECT_EQ(sortedNames(child(*top, "dir")->allSubFileArray()), (V{"inside.txt"}));
    EXPECT_TRUE(logged("whose name no path can hold: \"x\\x5cy\""));
    EXPECT_TRUE(logged("whose name no path can hold: \"..\""));
    EXPECT_TRUE(logged("whose name no path can hold: \"\\xff\\xfe.txt\""));
}

TEST_F(ServiceTree, AFolderIndexNamingItselfEndsTheListing)
{
    const std::string name(250, 'L');
    makeFolder("/" + name);
    put("/" + name + "/f.txt", "data");
    const ref::Index root = readIndex(storeDir() + "/index", ref::rootKey(password), ref::rootIv(), true);
    ASSERT_EQ(root.entries.size(), 1u);
    const ref::Entry self = root.entries[0];
    const std::string folderIndex = ref::objectPath(storeDir(), self.id);
    const ref::Bytes key = ref::objectKey(root.objectKey, self.id);
    const ref::Bytes iv = ref::objectIv(self.id);
    ref::Index inside = readIndex(folderIndex, key, iv, false);
    inside.entries.push_back(self);  // index order folds case: "f.txt" < "LLL.../"
    writeIndex(folderIndex, inside, key, iv, false);

    const auto tree = buildTree();
    ASSERT_NE(tree, nullptr);
    // Each level's path is 251 bytes longer; listing stops past the system's path limit and
    // the deepest folder shows as empty.
    int listed = 0;
    auto folder = child(*tree->allSubFileArray()[0], name);
    while (folder && !folder->allSubFileArray().empty()) {
        EXPECT_NE(child(*folder, "f.txt"), nullptr);
        listed++;
        folder = child(*folder, name);
    }
    EXPECT_NE(folder, nullptr);
    EXPECT_EQ(listed, 4096 / 251);
    EXPECT_TRUE(logged("folder nested too deep, not listed"));
}
