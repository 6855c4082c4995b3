// A mounted, logged-in store on a temporary volume, with helpers to put and get files.
#pragma once

#include <errno.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "fs.h"

// n bytes that do not compress, the same for the same seed.
inline std::string noise(size_t n, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::string s(n, '\0');
    for (auto &c : s)
        c = (char)rng();
    return s;
}

// n bytes of text that compress as notes do, the same for the same seed.
inline std::string prose(size_t n, uint64_t seed = 7)
{
    static const char *words[] = {"stick ", "vault ", "notes ", "of ", "the ", "quarterly\n", "meeting, "};
    std::mt19937_64 rng(seed);
    std::string s;
    while (s.size() < n)
        s += words[rng() % 7];
    s.resize(n);
    return s;
}

// A call that must fail (-1) with errno err.
#define EXPECT_FAILS_WITH(call, err) \
    do { \
        errno = 0; \
        EXPECT_EQ((call), -1) << #call; \
        EXPECT_EQ(errno, (err)) << #call; \
    } while (0)

class StoreTest : public ::testing::Test {
protected:
    TempDir volume;
    const std::string password = "correct horse";

    void SetUp() override
    {
        ASSERT_EQ(fs_mount(volume.path().c_str()), 2);
        ASSERT_EQ(fs_mkfs(password.c_str(), "the usual"), 0);
    }
    void TearDown() override
    {
        if (fs_store_dir())
            fs_umount();
    }

    std::string storeDir() const { return fs_store_dir(); }

    // Writes content at path in chunks of at most chunk bytes.
    static int put(const std::string &path, const std::string &content, size_t chunk = 2 << 20)
    {
        int h = fs_open(path.c_str(), FS_O_WRITE, (uint64_t)content.size());
        if (h < 0)
            return -1;
        for (size_t off = 0; off < content.size(); off += chunk) {
            size_t n = std::min(chunk, content.size() - off);
            if (fs_write(h, content.data() + off, (uint32_t)n) != (int)n) {
                fs_close(h);
                return -1;
            }
        }
        return fs_close(h);
    }

    // Reads the whole file; "<error N>" with errno on failure.
    static std::string get(const std::string &path)
    {
        int h = fs_open(path.c_str(), FS_O_READ);
        if (h < 0)
            return "<error " + std::to_string(errno) + ">";
        std::string out;
        char buf[65536];
        for (;;) {
            int n = fs_read(h, buf, sizeof(buf));
            if (n < 0) {
                int e = errno;
                fs_close(h);
                return "<error " + std::to_string(e) + ">";
            }
            if (n == 0)
                break;
            out.append(buf, (size_t)n);
        }
        fs_close(h);
        return out;
    }

    // Names listed in a folder, folders marked with a trailing "/".
    static std::vector<std::string> list(const std::string &path)
    {
        std::vector<std::string> names;
        fs_dir *dir = fs_opendir(path.c_str());
        if (!dir)
            return {"<error " + std::to_string(errno) + ">"};
        while (struct fs_dirent *d = fs_readdir(dir))
            names.push_back(std::string(d->name) + (d->type == FS_DT_DIR ? "/" : ""));
        fs_closedir(dir);
        return names;
    }
};
