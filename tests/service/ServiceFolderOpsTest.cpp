// Rename, remove and create folder on a real vault, keeping the tree in step.
#include "TransferTestSupport.h"

namespace {

using ServiceFolderOps = TransferFixture;

TEST_F(ServiceFolderOps, RenameKeepsTheExtensionAndRefreshesDescendants)
{
    storePut("/report.pdf", "pdf");
    storePut("/README", "readme");
    storeMkdir("/Docs");
    storeMkdir("/Docs/Inner");
    storePut("/Docs/Inner/deep.txt", "deep");
    storePut("/taken.txt", "taken");
    storePut("/taken.pdf", "taken pdf");
    refreshTree();

    EXPECT_EQ(manager->renameProtectWrapper(*entry("/report.pdf"), "summary"), std::nullopt);
    EXPECT_EQ(storeGet("/summary.pdf"), "pdf");
    EXPECT_TRUE(entry("/summary.pdf"));
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/README"), "READ"), std::nullopt);
    EXPECT_EQ(storeGet("/READ"), "readme");

    auto deep = entry("/Docs/Inner/deep.txt");
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/Docs"), "Old"), std::nullopt);
    EXPECT_EQ(deep->parentFolderPath(), "/Old/Inner");
    EXPECT_EQ(deep->fullPath(), "/Old/Inner/deep.txt");
    EXPECT_EQ(storeGet("/Old/Inner/deep.txt"), "deep");

    // Refused names and refused renames leave store and tree as they were.
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/summary.pdf"), "a/b"), localized("String_98"));
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/summary.pdf"), "taken"), localized("String_97"));
    EXPECT_TRUE(logged("oldPath__/summary.pdf"));
    EXPECT_TRUE(logged("newPath__/taken.pdf"));
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/summary.pdf"), "TAKEN.txt"), localized("String_97"));
    EXPECT_TRUE(entry("/summary.pdf"));
    EXPECT_EQ(storeGet("/taken.txt"), "taken");
    EXPECT_EQ(storeGet("/taken.pdf"), "taken pdf");
}

TEST_F(ServiceFolderOps, RemoveTakesFilesFirstThenFoldersDeepestFirst)
{
    storeMkdir("/Box");
    storePut("/Box/a.txt", "a");
    storePut("/Box/empty.txt", "");  // not in the tree, yet it keeps the folder from being empty
    storeMkdir("/Box/Sub");
    storeMkdir("/Box/Sub/Deeper");
    storePut("/Box/Sub/Deeper/d.txt", "d");
    storePut("/loose.txt", "loose");
    storePut("/stay.txt", "stay");
    refreshTree();

    XXDiskResultObjct result = run([&](const XXDiskResultBlock &b) {
        manager->removeProtectedFiles({entry("/Box"), entry("/Box/a.txt"), entry("/loose.txt")}, b);
    });
    expectSuccess(result);
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"stay.txt"}));
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"stay.txt"}));
}

TEST_F(ServiceFolderOps, AFileThatCannotBeRemovedLeavesEveryFolderInPlace)
{
    storeMkdir("/Box");
    storePut("/Box/a.txt", "a");
    storeMkdir("/Box/Sub");
    storePut("/Box/Sub/b.txt", "b");
    refreshTree();
    auto ghost = std::make_shared<XXProtectFileWrapper>();  // shown, but not in the store
    ghost->setParentFolderPath("/Box/Sub");
    ghost->setFileName("ghost.txt");
    ghost->setFileSize(1);
    entry("/Box/Sub")->appendSubFile(ghost);

    XXDiskResultObjct result = run([&](const XXDiskResultBlock &b) { manager->removeProtectedFiles({entry("/Box")}, b); });
    expectError(result, "9+1", 1, localized("String_93"));
    EXPECT_TRUE(logged("removeFileFailed_-1_/Box/Sub/ghost.txt"));
    // The other files went; no folder was touched.
    EXPECT_EQ(storeList("/Box"), (std::vector<std::string>{"Sub/"}));
    EXPECT_EQ(storeList("/Box/Sub"), (std::vector<std::string>{}));
    EXPECT_EQ(childNames(*entry("/Box/Sub")), (std::vector<std::string>{"ghost.txt"}));
    EXPECT_TRUE(entry("/Box"));

    // A folder the store will not remove stops the removal with the same report.
    auto phantom = XXProtectFileWrapper::makeFolder("/", "Phantom", "--");
    root->appendSubFile(phantom);
    result = run([&](const XXDiskResultBlock &b) { manager->removeProtectedFiles({phantom}, b); });
    expectError(result, "9+1", 1, localized("String_93"));
    EXPECT_TRUE(logged("removeFailed__/Phantom"));
    EXPECT_EQ(phantom->parentWrapper(), root.get());
}

TEST_F(ServiceFolderOps, CreateFolderChecksTheNameAndHandsBackTheNewEntry)
{
    auto create = [&](const std::string &parent, const std::string &name) {
        return run([&](const XXDiskResultBlock &b) { manager->createDirInFolderPath(parent, name, b); });
    };
    expectError(create("/", ""), "6+1", 3, localized("String_107"));
    expectError(create("/", "a?b"), "6+1", 4, localized("String_98"));
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{}));

    XXDiskResultObjct made = create("/", "Docs");
    expectSuccess(made);
    auto docs = made.successWrapper();
    ASSERT_TRUE(docs);
    EXPECT_EQ(docs->fullPath(), "/Docs");
    EXPECT_TRUE(docs->isDirectory());
    EXPECT_EQ(docs->iconName(), "NSFolder");
    EXPECT_EQ(docs->parentWrapper(), nullptr);
    EXPECT_EQ(storeList("/"), (std::vector<std::string>{"Docs/"}));

    expectSuccess(create("/Docs", "Inner"));
    EXPECT_EQ(storeList("/Docs"), (std::vector<std::string>{"Inner/"}));
    expectError(create("/", "docs"), "6+0", -1, "fs_mkdir---1");

    manager->setIsLogin(false);
    expectError(create("/", "Other"), "6+1", 2, localized("String_106"));
    manager->logOutComplate(nullptr);
    expectError(create("/", "Other"), "6+1", 1, localized("String_104"));
}

}  // namespace
