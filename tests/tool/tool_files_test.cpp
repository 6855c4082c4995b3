// Sizes of computer files and folders, and MD5.
#include <gtest/gtest.h>

#include <filesystem>

#include "ToolTestSupport.h"
#include "XXTool.h"

TEST(ToolDiskSize, FileSizeIsZeroWhenMissing) {
    tooltest::TempDir dir;
    const auto file = dir.write("ten.bin", std::string(10, 'x'));
    EXPECT_EQ(XXTool::fileSizeAtPath(file), 10u);
    EXPECT_EQ(XXTool::fileSizeAtPath(dir.write("empty", "")), 0u);
    EXPECT_EQ(XXTool::fileSizeAtPath(dir.path() / "missing"), 0u);
}

TEST(ToolDiskSize, FolderSizeSumsFilesAtEveryDepth) {
    tooltest::TempDir dir;
    dir.write("a.bin", std::string(10, 'a'));
    dir.write("sub/b.bin", std::string(20, 'b'));
    dir.write("sub/deeper/.hidden", std::string(30, 'c'));
    std::filesystem::create_directories(dir.path() / "empty/folder");
    // A link is not followed, so a loop or a link to a big file elsewhere adds nothing.
    std::filesystem::create_directory_symlink(dir.path(), dir.path() / "sub/loop");
    std::filesystem::create_symlink(dir.path() / "a.bin", dir.path() / "link.bin");
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir.path()), 60.0f);
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir.path() / "sub"), 50.0f);
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir.path() / "missing"), 0.0f);
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir.path() / "a.bin"), 0.0f);
}

TEST(ToolMd5, KnownDigests) {
    // RFC 1321 test suite, then UTF-8 and an embedded zero byte.
    EXPECT_EQ(XXTool::md5ForString(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(XXTool::md5ForString("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(XXTool::md5ForString("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(XXTool::md5ForString("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(XXTool::md5ForString("中文"), "a7bac2239fcdcb3a067903d8077c4a07");
    EXPECT_EQ(XXTool::md5ForString(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");
}
