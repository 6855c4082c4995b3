// Buffers and path helpers.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "lockfile.h"
#include "path.h"
#include "strbuf.h"

namespace {

std::string normalized(const char *src)
{
    std::string dst(strlen(src) + 1, '\0');
    if (normalize_path(dst.data(), src) < 0)
        return "<fail>";
    return dst.c_str();
}

std::string storePath(const char *src)
{
    struct strbuf sb = STRBUF_INIT;
    normalize_store_path(&sb, src);
    std::string out(sb.buf, sb.len);
    strbuf_release(&sb);
    return out;
}

}  // namespace

TEST(EngineStrbuf, GrowsKeepsTerminatorAndDetaches)
{
    struct strbuf sb = STRBUF_INIT;
    EXPECT_EQ(sb.len, 0u);
    EXPECT_STREQ(sb.buf, "");
    strbuf_release(&sb);
    strbuf_release(&sb);  // harmless twice
    strbuf_addstr(&sb, "ab");
    strbuf_addbuf(&sb, &sb);  // from itself, while growing moves the bytes
    EXPECT_STREQ(sb.buf, "abab");
    strbuf_reset(&sb);

    std::string hundred(100, 'x');
    ASSERT_EQ(strbuf_addf(&sb, "%s", hundred.c_str()), 0);
    EXPECT_GE(sb.alloc, 101u);
    EXPECT_EQ(std::string(sb.buf, sb.len), hundred);
    EXPECT_EQ(sb.buf[sb.len], 0);

    strbuf_reset(&sb);
    strbuf_addstr(&sb, "abcdef");
    strbuf_remove(&sb, 0, 2);
    EXPECT_STREQ(sb.buf, "cdef");
    strbuf_splice(&sb, 1, 2, "XYZ", 3);
    EXPECT_STREQ(sb.buf, "cXYZf");
    strbuf_addch(&sb, 'A');
    strbuf_tolower(&sb);
    EXPECT_STREQ(sb.buf, "cxyzfa");

    // Content may hold zero bytes.
    strbuf_add(&sb, "\0z", 2);
    EXPECT_EQ(sb.len, 8u);

    size_t len = 0;
    char *bytes = strbuf_detach(&sb, &len);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(sb.alloc, 0u);
    EXPECT_EQ(sb.buf, strbuf_slopbuf);
    free(bytes);

    // A fresh buffer detaches to an owned empty string.
    char *empty = strbuf_detach(&sb, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    free(empty);
}

TEST(EnginePath, NormalizesBothSeparatorsAndDots)
{
    EXPECT_EQ(normalized("a//b/./c/"), "a/b/c/");
    EXPECT_EQ(normalized("a/../b"), "b");
    EXPECT_EQ(normalized("../a"), "<fail>");
    EXPECT_EQ(normalized("\\x\\y"), "/x/y");
    EXPECT_EQ(normalized("a\\b\\..\\c"), "a/c");
    EXPECT_EQ(normalized("/.."), "<fail>");
    EXPECT_EQ(normalized("./a/."), "a/");
    EXPECT_EQ(normalized("C:\\x\\..\\y"), "C:/y");
}

TEST(EnginePath, RootPartForms)
{
    EXPECT_EQ(root_part_length("/a"), 1u);
    EXPECT_EQ(root_part_length("C:\\a"), 3u);
    EXPECT_EQ(root_part_length("C:a"), 2u);
    EXPECT_EQ(root_part_length("//host/share/x"), 13u);
    EXPECT_EQ(root_part_length("//host"), 0u);
    EXPECT_EQ(root_part_length("a/b"), 0u);
}

TEST(EnginePath, StorePathsAreRelativeToTheRoot)
{
    EXPECT_EQ(storePath("//x\\y"), "x/y");
    EXPECT_EQ(storePath("/a/./b/../c"), "a/c");
    // A run of leading separators is the top, never a network root ahead of a kept ".".
    EXPECT_EQ(storePath("///./Docs"), "Docs");
    EXPECT_EQ(storePath("\\\\./a"), "a");
    // ".." above the root keeps the text: resolution then finds no such entry.
    EXPECT_EQ(storePath("../x"), "../x");

    struct strbuf folder = STRBUF_INIT, name = STRBUF_INIT;
    const std::tuple<const char *, const char *, const char *> splits[] = {
        {"/a/b/c.txt", "a/b", "c.txt"}, {"c.txt", "", "c.txt"}, {"a/b/", "a/b", ""}};
    for (const auto &[path, inFolder, named] : splits) {
        strbuf_reset(&folder);
        strbuf_reset(&name);
        split_store_path(path, &folder, &name);
        EXPECT_STREQ(folder.buf, inFolder) << path;
        EXPECT_STREQ(name.buf, named) << path;
    }
    strbuf_release(&folder);
    strbuf_release(&name);

    EXPECT_EQ(last_slash_pos("a/b/c"), 4u);
    EXPECT_EQ(last_slash_pos("abc"), 0u);
}

TEST(EnginePath, RealpathFollowsLinksAndAcceptsAMissingLastComponent)
{
    TempDir tmp;
    ASSERT_EQ(mkdir((tmp / "real").c_str(), 0777), 0);
    ASSERT_EQ(symlink("real", (tmp / "link").c_str()), 0);
    ASSERT_EQ(symlink((tmp / "real").c_str(), (tmp / "abs").c_str()), 0);
    struct strbuf out = STRBUF_INIT;
    char resolvedTmp[PATH_MAX];
    ASSERT_NE(realpath(tmp.path().c_str(), resolvedTmp), nullptr);
    std::string base = resolvedTmp;

    ASSERT_NE(strbuf_realpath(&out, (tmp / "link/new-file").c_str()), nullptr);
    EXPECT_EQ(std::string(out.buf), base + "/real/new-file");
    ASSERT_EQ(mkdir((tmp / "real/sub").c_str(), 0777), 0);
    ASSERT_NE(strbuf_realpath(&out, (tmp / "abs/./sub/../y").c_str()), nullptr);
    EXPECT_EQ(std::string(out.buf), base + "/real/y");

    errno = 0;
    EXPECT_EQ(strbuf_realpath(&out, (tmp / "missing/child").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(out.len, 0u);
    EXPECT_EQ(strbuf_realpath(&out, ""), nullptr);

    ASSERT_EQ(symlink("loop2", (tmp / "loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", (tmp / "loop2").c_str()), 0);
    errno = 0;
    EXPECT_EQ(strbuf_realpath(&out, (tmp / "loop1").c_str()), nullptr);
    EXPECT_EQ(errno, ELOOP);
    strbuf_release(&out);
}

TEST(EnginePath, HexRoundTripAndRejection)
{
    unsigned char id[20];
    for (int i = 0; i < 20; i++)
        id[i] = (unsigned char)(i * 13 + 7);
    char hex[41];
    object_id_to_hex(id, hex);
    EXPECT_EQ(std::string(hex).substr(0, 6), "071421");
    unsigned char back[20];
    ASSERT_EQ(hex_to_object_id(hex, back), 0);
    EXPECT_EQ(memcmp(id, back, 20), 0);

    std::string upper = hex;
    for (auto &c : upper)
        c = (char)toupper((unsigned char)c);
    ASSERT_EQ(hex_to_object_id(upper.c_str(), back), 0);
    EXPECT_EQ(memcmp(id, back, 20), 0);

    std::string bad = hex;
    bad[17] = 'g';
    EXPECT_EQ(hex_to_object_id(bad.c_str(), back), -1);
}

TEST(EngineLockFile, SecondHolderFailsAndCommitReplacesTarget)
{
    TempDir tmp;
    std::string target = tmp / "config";
    writeFile(target, "old");
    struct lock_file first = LOCK_INIT, second = LOCK_INIT;
    int fd = lock_file_hold(&first, target.c_str());
    ASSERT_GE(fd, 0);
    errno = 0;
    EXPECT_EQ(lock_file_hold(&second, target.c_str()), -1);
    EXPECT_EQ(errno, EEXIST);

    struct strbuf t = STRBUF_INIT;
    EXPECT_STREQ(lock_file_target(&first, &t), target.c_str());
    strbuf_release(&t);
    ASSERT_EQ(write(fd, "new", 3), 3);
    ASSERT_EQ(lock_file_commit(&first), 0);
    EXPECT_EQ(readFile(target), "new");
    EXPECT_NE(access((target + ".lock").c_str(), F_OK), 0);

    // A rollback leaves the target untouched.
    fd = lock_file_hold(&second, target.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "bad", 3), 3);
    lock_file_rollback(&second);
    EXPECT_EQ(readFile(target), "new");
    EXPECT_NE(access((target + ".lock").c_str(), F_OK), 0);
    strbuf_release(&second.path);
}
