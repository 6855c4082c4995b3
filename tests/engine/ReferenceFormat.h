// An independent reading of the vault format, written straight from docs/vault-format.md
// with OpenSSL and zlib, so tests can check the engine's bytes against it
// (and write files the engine must read).
#pragma once

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace ref {

using Bytes = std::string;

inline Bytes sha1(const Bytes &data)
{
    unsigned char out[20];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out, &n, EVP_sha1(), nullptr);
    return Bytes((char *)out, 20);
}

inline Bytes aesCbc(const Bytes &in, const Bytes &key32, const Bytes &iv16, bool encrypt)
{
    if (in.size() % 16)
        throw std::runtime_error("not a multiple of 16");
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, (const unsigned char *)key32.data(),
                      (const unsigned char *)iv16.data(), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out(in.size(), '\0');
    int n = 0;
    EVP_CipherUpdate(ctx, (unsigned char *)out.data(), &n, (const unsigned char *)in.data(), (int)in.size());
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

inline Bytes rootKey(const std::string &password)
{
    return sha1(password) + Bytes(12, '\0');
}
inline Bytes rootIv()
{
    return Bytes(16, '\0');
}
inline Bytes objectKey(const Bytes &objKey20, const Bytes &id)
{
    return objKey20 + id.substr(0, 12);
}
inline Bytes objectIv(const Bytes &id)
{
    return id.substr(12, 8) + id.substr(12, 8);
}

inline std::string hex(const Bytes &id)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : id) {
        s += d[c >> 4];
        s += d[c & 15];
    }
    return s;
}

inline std::string objectPath(const std::string &storeDir, const Bytes &id)
{
    std::string h = hex(id);
    return storeDir + "/" + h.substr(0, 2) + "/" + h.substr(2);
}

inline uint64_t le(const Bytes &b, size_t off, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; i--)
        v = v << 8 | (unsigned char)b[off + i];
    return v;
}

inline void putLe(Bytes &b, uint64_t v, int n)
{
    for (int i = 0; i < n; i++)
        b += (char)(v >> (8 * i));
}

// The index's name order: bytes compared with A-Z folded to a-z, a prefix first.
inline int compareNames(const std::string &a, const std::string &b)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        if (fold((unsigned char)a[i]) != fold((unsigned char)b[i]))
            return fold((unsigned char)a[i]) < fold((unsigned char)b[i]) ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

struct Entry {
    uint64_t size = 0;
    int64_t time = 0;
    Bytes id;
    uint16_t flags = 0;
    std::string name;
};

struct Index {
    uint32_t version = 0;
    std::vector<Entry> entries;
    Bytes objectKey;  // root only
};

inline Entry entry(const std::string &name, const Bytes &id, uint64_t size = 0)
{
    Entry e;
    e.name = name;
    e.id = id;
    e.size = size;
    return e;
}

// Puts entries added by hand into the order readers search in.
inline void sortEntries(Index &idx)
{
    std::sort(idx.entries.begin(), idx.entries.end(),
              [](const Entry &a, const Entry &b) { return compareNames(a.name, b.name) < 0; });
}

// Parses a decrypted index; throws on anything that does not match the format.
inline Index parseIndex(const Bytes &plain, bool root)
{
    if (plain.size() < 32 || plain.size() % 16 || plain.compare(0, 4, "DIRC") != 0)
        throw std::runtime_error("bad magic");
    if (sha1(plain.substr(0, plain.size() - 20)) != plain.substr(plain.size() - 20))
        throw std::runtime_error("bad checksum");
    Index idx;
    idx.version = (uint32_t)le(plain, 4, 4);
    if (idx.version >= 2)
        throw std::runtime_error("unknown version");
    uint32_t count = (uint32_t)le(plain, 8, 4);
    size_t off = 12;
    for (uint32_t i = 0; i < count; i++) {
        Entry e;
        e.size = le(plain, off, 8);
        e.time = (int64_t)le(plain, off + 8, 8);
        e.id = plain.substr(off + 16, 20);
        e.flags = (uint16_t)le(plain, off + 36, 2);
        size_t n = e.flags & 0xFFF;
        e.name = plain.substr(off + 38, n);
        size_t disk = (n + 46) & ~size_t(7);
        for (size_t z = off + 38 + n; z < off + disk; z++)
            if (plain[z] != 0)
                throw std::runtime_error("entry padding not zero");
        off += disk;
        // Lookups are binary searches: entries must be sorted and unique, ASCII case folded.
        if (!idx.entries.empty() && compareNames(idx.entries.back().name, e.name) >= 0)
            throw std::runtime_error("entries out of order");
        idx.entries.push_back(e);
    }
    size_t pad = root ? (8 - off % 16 + 16) % 16 : (12 - off % 16 + 16) % 16;
    for (size_t z = off; z < off + pad; z++)
        if (plain[z] != 0)
            throw std::runtime_error("trailer padding not zero");
    off += pad;
    if (root) {
        idx.objectKey = plain.substr(off, 20);
        off += 20;
    }
    if (off + 20 != plain.size())
        throw std::runtime_error("trailer length");
    return idx;
}

// The root index as stored: the encrypted bytes of "index" under the password's root key.
inline Index readRootIndex(const Bytes &fileBytes, const std::string &password)
{
    return parseIndex(aesCbc(fileBytes, rootKey(password), rootIv(), false), true);
}

inline Bytes buildIndex(const Index &idx, bool root)
{
    Bytes p = "DIRC";
    putLe(p, idx.version, 4);
    putLe(p, idx.entries.size(), 4);
    for (const Entry &e : idx.entries) {
        putLe(p, e.size, 8);
        putLe(p, (uint64_t)e.time, 8);
        p += e.id;
        putLe(p, (e.flags & 0xF000) | e.name.size(), 2);
        p += e.name;
        size_t disk = (e.name.size() + 46) & ~size_t(7);
        p += Bytes(disk - 38 - e.name.size(), '\0');
    }
    size_t pad = root ? (8 - p.size() % 16 + 16) % 16 : (12 - p.size() % 16 + 16) % 16;
    p += Bytes(pad, '\0');
    if (root)
        p += idx.objectKey;
    p += sha1(p);
    return p;
}

// Decrypts a content object and inflates it: returns header text and content.
inline std::pair<std::string, Bytes> readContentObject(const Bytes &cipherText, const Bytes &objKey20,
                                                       const Bytes &id)
{
    Bytes plain = aesCbc(cipherText, objectKey(objKey20, id), objectIv(id), false);
    z_stream z{};
    inflateInit(&z);
    z.next_in = (Bytef *)plain.data();
    z.avail_in = (uInt)plain.size();
    Bytes out;
    char buf[65536];
    int ret;
    do {
        z.next_out = (Bytef *)buf;
        z.avail_out = sizeof(buf);
        ret = inflate(&z, Z_NO_FLUSH);
        out.append(buf, sizeof(buf) - z.avail_out);
    } while (ret == Z_OK);
    size_t rest = z.avail_in;
    inflateEnd(&z);
    if (ret != Z_STREAM_END)
        throw std::runtime_error("inflate failed");
    for (size_t i = plain.size() - rest; i < plain.size(); i++)
        if (plain[i] != 0)
            throw std::runtime_error("object padding not zero");
    if (rest >= 16)
        throw std::runtime_error("object padding too long");
    size_t zero = out.find('\0');
    // "blob" or "dirc", a space, decimal digits without a leading zero, within 32 bytes.
    size_t space = out.find(' ');
    std::string type = space == std::string::npos ? "" : out.substr(0, space);
    std::string digits =
        space == std::string::npos || zero < space ? "" : out.substr(space + 1, zero - space - 1);
    if (zero == std::string::npos || zero >= 32 || (type != "blob" && type != "dirc") || digits.empty() ||
        digits.find_first_not_of("0123456789") != std::string::npos ||
        (digits[0] == '0' && digits.size() > 1))
        throw std::runtime_error("bad object header");
    return {out.substr(0, zero), out.substr(zero + 1)};
}

inline Bytes writeContentObject(const Bytes &header, const Bytes &content, const Bytes &objKey20,
                                const Bytes &id)
{
    Bytes input = header + Bytes(1, '\0') + content;
    uLongf len = compressBound(input.size());
    Bytes z(len, '\0');
    compress2((Bytef *)z.data(), &len, (const Bytef *)input.data(), input.size(), 1);
    z.resize(len);
    z += Bytes((16 - z.size() % 16) % 16, '\0');
    return aesCbc(z, objectKey(objKey20, id), objectIv(id), true);
}

inline Bytes objectId(const std::string &type, uint64_t n, std::string seed)
{
    for (auto &c : seed)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    std::string header = type + " " + std::to_string(n);
    return sha1(header + Bytes(1, '\0') + seed);
}

}  // namespace ref
