// Rename, remove and create folder on a real vault, keeping the tree in step.
#include "TransferTestSupport.h"

namespace {

using ServiceFolderOps = TransferFixture;

TEST_F(ServiceFolderOps, RenameKeepsTheExtensionAndRefreshesDescendants)
{
    storeAll({{"/report.pdf", "pdf"},
              {"/README", "readme"},
              {"/taken.txt", "taken"},
              {"/taken.pdf", "taken pdf"},
              {"/Docs/", ""},
              {"/Docs/Inner/", ""},
              {"/Docs/Inner/deep.txt", "deep"}});
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/report.pdf"), "summary"), std::nullopt);
    EXPECT_EQ(storeGet("/summary.pdf"), "pdf");
    ASSERT_TRUE(entry("/summary.pdf"));
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/README"), "READ"), std::nullopt);
    EXPECT_EQ(storeGet("/READ"), "readme");
    auto deep = entry("/Docs/Inner/deep.txt");
    EXPECT_EQ(manager->renameProtectWrapper(*entry("/Docs"), "Old"), std::nullopt);
    EXPECT_EQ(deep->fullPath(), "/Old/Inner/deep.txt");
    EXPECT_EQ(storeGet("/Old/Inner/deep.txt"), "deep");

    // Refused names and refused renames (whatever the case) leave store and tree as they were.
    auto summary = entry("/summary.pdf");
    EXPECT_EQ(manager->renameProtectWrapper(*summary, "a/b"), localized("String_98"));
    EXPECT_EQ(manager->renameProtectWrapper(*summary, "taken"), localized("String_97"));
    EXPECT_TRUE(logged("oldPath__/summary.pdf"));
    EXPECT_TRUE(logged("newPath__/taken.pdf"));
    EXPECT_EQ(manager->renameProtectWrapper(*summary, "TAKEN.txt"), localized("String_97"));
    EXPECT_EQ(summary->fullPath(), "/summary.pdf");
    EXPECT_EQ(storeGet("/summary.pdf"), "pdf");
    EXPECT_EQ(storeGet("/taken.txt"), "taken");
    EXPECT_EQ(storeGet("/taken.pdf"), "taken pdf");
}

TEST_F(ServiceFolderOps, RemoveTakesFilesFirstThenFoldersDeepestFirst)
{
    // The empty file is not in the tree, yet it keeps its folder from being empty.
    storeAll({{"/Box/", ""},
              {"/Box/a.txt", "a"},
              {"/Box/empty.txt", ""},
              {"/Box/Sub/", ""},
              {"/Box/Sub/Deeper/", ""},
              {"/Box/Sub/Deeper/d.txt", "d"},
              {"/loose.txt", "loose"},
              {"/stay.txt", "stay"}});
    // A folder and an entry inside it may both be chosen.
    expectSuccess(run([&](const XXDiskResultBlock &b) {
        manager->removeProtectedFiles(entries({"/Box", "/Box/a.txt", "/loose.txt"}), b);
    }));
    EXPECT_EQ(storeList("/"), (Names{"stay.txt"}));
    EXPECT_EQ(childNames(*root), (Names{"stay.txt"}));
}

TEST_F(ServiceFolderOps, AFileThatCannotBeRemovedLeavesEveryFolderInPlace)
{
    storeAll({{"/Box/", ""}, {"/Box/a.txt", "a"}, {"/Box/Sub/", ""}, {"/Box/Sub/b.txt", "b"}});
    showGhost("/Box/Sub", "ghost.txt");
    auto remove = [&](const XXProtectFileArray &items) {
        return run([&](const XXDiskResultBlock &b) { manager->removeProtectedFiles(items, b); });
    };
    expectError(remove({entry("/Box")}), "9+1", 1, localized("String_93"));
    EXPECT_TRUE(logged("removeFileFailed_-1_/Box/Sub/ghost.txt"));
    // The other files went; no folder was touched.
    EXPECT_EQ(storeList("/Box"), (Names{"Sub/"}));
    EXPECT_EQ(storeList("/Box/Sub"), Names{});
    ASSERT_TRUE(entry("/Box/Sub"));
    EXPECT_EQ(childNames(*entry("/Box/Sub")), (Names{"ghost.txt"}));
    EXPECT_TRUE(entry("/Box"));

    // A folder the store will not remove stops the removal with the same report.
    auto phantom = XXProtectFileWrapper::makeFolder("/", "Phantom", "--");
    root->appendSubFile(phantom);
    expectError(remove({phantom}), "9+1", 1, localized("String_93"));
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
    EXPECT_EQ(storeList("/"), Names{});

    XXDiskResultObject made = create("/", "Docs");
    expectSuccess(made);
    ASSERT_TRUE(made.successWrapper());
    EXPECT_EQ(made.successWrapper()->fullPath(), "/Docs");
    EXPECT_TRUE(made.successWrapper()->isDirectory());
    expectSuccess(create("/Docs", "Inner"));
    EXPECT_EQ(storeList("/Docs"), (Names{"Inner/"}));
    expectError(create("/", "docs"), "6+0", -1, "fs_mkdir---1");

    manager->setIsLogin(false);
    expectError(create("/", "Other"), "6+1", 2, localized("String_106"));
    manager->logOutComplete(nullptr);
    expectError(create("/", "Other"), "6+1", 1, localized("String_104"));
}

}  // namespace
