// Tree entries on their own: icons, parent links, lifetimes and both sorts.
#include "ServiceTestSupport.h"
#include "XXProtectFileWrapper.h"

namespace {

std::shared_ptr<XXProtectFileWrapper> file(const std::string &name, std::int64_t type, std::uint64_t size = 1,
                                           const std::string &date = "2024-01-01 00:00:00")
{
    auto entry = std::make_shared<XXProtectFileWrapper>();
    entry->setFileName(name);
    entry->setFileType(type);
    entry->setFileSize(size);
    entry->setCreateDateString(date);
    return entry;
}

}  // namespace

TEST(ServiceProtectWrapper, IconRule)
{
    XXProtectFileWrapper entry;
    entry.setIconName("NSFolder");
    EXPECT_EQ(entry.iconName(), "NSFolder");  // type 0 keeps its stored icon
    const std::pair<std::int64_t, const char *> icons[] = {{1, "main45"}, {2, "main46"}, {3, "main50"},
                                                           {4, "main47"}, {5, "main49"}, {6, "main48"},
                                                           {7, "main45"}, {-1, "main45"}};
    for (const auto &[type, icon] : icons) {
        entry.setFileType(type);
        EXPECT_EQ(entry.iconName(), icon) << type;
    }
    auto folder = XXProtectFileWrapper::makeFolder("/", "New", "2024-03-05 09:07:01");
    EXPECT_TRUE(folder->isDirectory());
    EXPECT_EQ(folder->iconName(), "NSFolder");
}

TEST(ServiceProtectWrapper, ParentLinksFollowOwnership)
{
    auto folder = XXProtectFileWrapper::makeFolder("/", "F", "--");
    auto a = file("a", 4);
    auto sub = XXProtectFileWrapper::makeFolder("/F", "sub", "--");
    folder->appendSubFile(a);
    folder->appendSubFile(sub);
    EXPECT_EQ(a->parentWrapper(), folder.get());
    EXPECT_EQ(namesOf(folder->allSubFolderArray()), Names{"sub"});

    EXPECT_EQ(folder->removeSubFile(a.get()), a);
    EXPECT_EQ(a->parentWrapper(), nullptr);
    EXPECT_EQ(folder->removeSubFile(a.get()), nullptr);

    // A child kept by a selection outlives its folder and forgets it.
    auto grandchild = file("g", 2);
    sub->appendSubFile(grandchild);
    std::weak_ptr<XXProtectFileWrapper> subAlive = sub;
    sub.reset();
    folder.reset();
    EXPECT_TRUE(subAlive.expired());
    EXPECT_EQ(grandchild->parentWrapper(), nullptr);
}

TEST(ServiceProtectWrapper, DeepTreesNeedNoDeepStack)
{
    constexpr int depth = 200000;
    auto top = XXProtectFileWrapper::makeFolder("", "top", "--");
    XXProtectFileWrapper *folder = top.get();
    for (int i = 0; i < depth; i++) {
        auto next = XXProtectFileWrapper::makeFolder("", "d", "--");
        XXProtectFileWrapper *raw = next.get();
        folder->appendSubFile(std::move(next));
        folder = raw;
    }
    folder->appendSubFile(file("leaf.txt", 4, 9));

    XXNotificationCenter center;
    XXDiskFileManager manager(center);
    const XXProtectSizeAndNumber counted = manager.protectWrapperSizeAndFileNum(*top);
    EXPECT_EQ(counted.size, 9u);
    EXPECT_EQ(counted.number, 1);
    XXProtectFileArray folders, files;
    manager.separateProtectFolderWrapper(top, folders, files);
    EXPECT_EQ(folders.size(), static_cast<size_t>(depth) + 1);
    EXPECT_EQ(folders.back()->folderLevel(), depth + 1);
    EXPECT_EQ(files.size(), 1u);
    folders.clear();  // so the reset below releases the whole chain, level by level
    files.clear();
    top.reset();
}

TEST(ServiceProtectWrapper, SortGroupsComeBeforeTheKey)
{
    // Under every key, the video v.mp4 before the picture p.png, the archive before type 9.
    XXProtectFileArray entries{file("odd", 9),
                               file("a.zip", 3),
                               file("p.png", 2),
                               file("t.txt", 4),
                               file("m.mp3", 1),
                               file("v.mp4", 5),
                               XXProtectFileWrapper::makeFolder("/", "zz", "--")};
    for (std::int64_t key = 0; key <= 7; key++) {
        XXProtectFileWrapper::sortFileArray(entries, key);
        EXPECT_EQ(namesOf(entries), (Names{"zz", "v.mp4", "m.mp3", "t.txt", "p.png", "a.zip", "odd"})) << key;
    }
}

TEST(ServiceProtectWrapper, SortKeysWithinAGroup)
{
    XXProtectFileArray entries{file("b.txt", 4, 10, "2024-01-02 00:00:00"),
                               file("B.txt", 4, 9, "2024-01-03 00:00:00"),
                               file("a.txt", 4, 100, "2023-12-31 23:59:59")};
    auto sorted = [&](std::int64_t key) {
        XXProtectFileWrapper::sortFileArray(entries, key);
        return namesOf(entries);
    };
    EXPECT_EQ(sorted(0), (Names{"B.txt", "a.txt", "b.txt"}));  // code order: capitals first
    EXPECT_EQ(sorted(1), (Names{"b.txt", "a.txt", "B.txt"}));
    EXPECT_EQ(sorted(2), (Names{"a.txt", "b.txt", "B.txt"}));
    EXPECT_EQ(sorted(3), (Names{"B.txt", "b.txt", "a.txt"}));
    EXPECT_EQ(sorted(4), (Names{"B.txt", "b.txt", "a.txt"}));  // 9 < 10 < 100, as numbers
    for (std::int64_t key : {5, 6, 7, 1000})
        EXPECT_EQ(sorted(key), (Names{"a.txt", "b.txt", "B.txt"})) << key;

    // Equal keys keep their order; sortFilesWithType sorts the entry's own children.
    auto folder = XXProtectFileWrapper::makeFolder("/", "F", "--");
    for (const char *name : {"x.txt", "y.txt", "w.txt"})
        folder->appendSubFile(file(name, 4, 5));
    folder->sortFilesWithType(XXProtectFileWrapper::SortSizeAscending);
    EXPECT_EQ(namesOf(folder->allSubFileArray()), (Names{"x.txt", "y.txt", "w.txt"}));
    folder->sortFilesWithType(XXProtectFileWrapper::SortNameAscending);
    EXPECT_EQ(namesOf(folder->allSubFileArray()), (Names{"w.txt", "x.txt", "y.txt"}));
}
