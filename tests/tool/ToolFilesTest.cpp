// Sizes of computer files and folders, and MD5.
#include <gtest/gtest.h>

#include <filesystem>

#include "ToolTestSupport.h"
#include "XXTool.h"

TEST(ToolDiskSize, FilesAndFoldersAtEveryDepthWithoutFollowingLinks)
{
    TempDir dir;
    writeFile(dir / "a.bin", std::string(10, 'a'));
    writeFile(dir / "zero.bin", "");
    writeFile(dir / "sub/b.bin", std::string(20, 'b'));
    writeFile(dir / "sub/deeper/.hidden", std::string(30, 'c'));
    std::filesystem::create_directories(dir / "empty/folder");
    // A link is not followed, so a loop or a link to a big file elsewhere adds nothing.
    std::filesystem::create_directory_symlink(dir.path(), dir / "sub/loop");
    std::filesystem::create_symlink(dir / "a.bin", dir / "link.bin");

    EXPECT_EQ(XXTool::fileSizeAtPath(dir / "a.bin"), 10u);
    EXPECT_EQ(XXTool::fileSizeAtPath(dir / "zero.bin"), 0u);
    EXPECT_EQ(XXTool::fileSizeAtPath(dir / "missing"), 0u);
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir.path()), 60.0f);
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir / "sub"), 50.0f);
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir / "missing"), 0.0f);
    EXPECT_FLOAT_EQ(XXTool::folderSizeAtPath(dir / "a.bin"), 0.0f);
}

TEST(ToolMd5, KnownDigests)
{
    // RFC 1321 test suite, then UTF-8 and an embedded zero byte.
    const std::pair<std::string, const char *> rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"中文", "a7bac2239fcdcb3a067903d8077c4a07"},
        {std::string("a\0b", 3), "70350f6027bce3713f6b76473084309b"},
    };
    for (const auto &[text, digest] : rows)
        EXPECT_EQ(XXTool::md5ForString(text), digest) << text;
}
