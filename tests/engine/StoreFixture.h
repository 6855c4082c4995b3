// A mounted, logged-in store on a temporary volume, with helpers to put and get files and to
// read and write the vault's bytes through the independent reading of the format.
#pragma once

#include <errno.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ReferenceFormat.h"
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

// Changes one byte of a file, at offset at, or -at bytes before its end, as a failing stick does.
inline void flipByte(const std::string &path, long at, char mask = 0x5a)
{
    std::string bytes = readFile(path);
    bytes.at(at < 0 ? bytes.size() - (size_t)-at : (size_t)at) ^= mask;
    writeFile(path, bytes);
}

// What one fs_check reported.
struct CheckRun {
    struct Found {
        int kind;
        std::string path, text;
    };
    int result = 0;
    fs_check_summary summary{};
    std::vector<Found> problems;

    bool has(int kind, const std::string &path) const
    {
        return std::any_of(problems.begin(), problems.end(),
                           [&](const Found &f) { return f.kind == kind && f.path == path; });
    }
    int count(int kind) const
    {
        return (int)std::count_if(problems.begin(), problems.end(), [&](const Found &f) { return f.kind == kind; });
    }
    std::string all() const
    {
        std::string s;
        for (const Found &f : problems)
            s += f.text + "\n";
        return s;
    }
};

inline CheckRun checkVault()
{
    CheckRun run;
    run.result = fs_check(
        [](const fs_check_problem *p, void *ctx) {
            static_cast<CheckRun *>(ctx)->problems.push_back({p->kind, p->path, p->text});
        },
        &run, &run.summary);
    return run;
}

// The actions fs_repair reported; its result in *result.
inline std::vector<std::string> repairVault(int *result = nullptr)
{
    std::vector<std::string> actions;
    int r = fs_repair([](const char *text, void *ctx) { static_cast<std::vector<std::string> *>(ctx)->push_back(text); },
                      &actions);
    if (result)
        *result = r;
    return actions;
}

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

    // Mounts and logs in again, as a new program would.
    void relogin(const std::string &at = "")
    {
        fs_umount();
        ASSERT_EQ(fs_mount(at.empty() ? volume.path().c_str() : at.c_str()), 0);
        ASSERT_GE(fs_login(password.c_str()), 0);
    }

    ref::Bytes objectKey() const { return ref::sha1(password); }
    ref::Index rootIndex() const { return ref::readRootIndex(readFile(storeDir() + "/index"), password); }
    // Encrypts plain, a root index's bytes, into the root index file.
    void writeRootIndex(const ref::Bytes &plain) const
    {
        writeFile(storeDir() + "/index", ref::aesCbc(plain, ref::rootKey(password), ref::rootIv(), true));
    }
    void writeRootIndex(const ref::Index &idx) const { writeRootIndex(ref::buildIndex(idx, true)); }
    // The root entry called name, empty if there is none, and its object file ("" then).
    ref::Entry entryOf(const std::string &name) const
    {
        for (const ref::Entry &e : rootIndex().entries)
            if (e.name == name)
                return e;
        return {};
    }
    std::string objectOf(const std::string &name) const
    {
        const ref::Bytes id = entryOf(name).id;
        return id.empty() ? "" : ref::objectPath(storeDir(), id);
    }
    // name's object decrypted: a zlib stream and its padding, or a folder's index.
    ref::Bytes objectPlain(const std::string &name) const
    {
        const ref::Entry e = entryOf(name);
        return ref::aesCbc(readFile(objectOf(name)), ref::objectKey(objectKey(), e.id), ref::objectIv(e.id), false);
    }
    // Header and content of name's object, as the independent reader decodes them.
    std::pair<std::string, ref::Bytes> readObject(const std::string &name) const
    {
        const ref::Entry e = entryOf(name);
        return ref::readContentObject(readFile(ref::objectPath(storeDir(), e.id)), objectKey(), e.id);
    }
    // A content object as another copy of the program writes it.
    void writeContent(const ref::Bytes &id, uint64_t headerSize, const std::string &content) const
    {
        writeFile(ref::objectPath(storeDir(), id),
                  ref::writeContentObject("blob " + std::to_string(headerSize), content, objectKey(), id));
    }

    // Writes content at path in chunks of at most chunk bytes; on failure, errno is the first
    // failing call's, whether a write's or the close's.
    static int put(const std::string &path, const std::string &content, size_t chunk = 2 << 20)
    {
        int h = fs_open(path.c_str(), FS_O_WRITE, (uint64_t)content.size());
        if (h < 0)
            return -1;
        for (size_t off = 0; off < content.size(); off += chunk) {
            size_t n = std::min(chunk, content.size() - off);
            if (fs_write(h, content.data() + off, (uint32_t)n) != (int)n) {
                int saved = errno;
                fs_close(h);
                errno = saved;
                return -1;
            }
        }
        return fs_close(h);
    }

    // Reads the whole file in reads of bufSize bytes; "<error N>" with errno on failure.
    static std::string get(const std::string &path, size_t bufSize = 65536)
    {
        int h = fs_open(path.c_str(), FS_O_READ);
        if (h < 0)
            return "<error " + std::to_string(errno) + ">";
        std::string out;
        std::vector<char> buf(bufSize);
        for (;;) {
            int n = fs_read(h, buf.data(), (uint32_t)buf.size());
            if (n < 0) {
                int e = errno;
                fs_close(h);
                return "<error " + std::to_string(e) + ">";
            }
            if (n == 0) {
                EXPECT_EQ(fs_read(h, buf.data(), 10), 0) << path << ": a read past the end";
                break;
            }
            out.append(buf.data(), (size_t)n);
        }
        EXPECT_EQ(fs_close(h), 0) << path;
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
