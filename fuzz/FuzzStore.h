// A mounted, logged-in vault in a temporary folder for the fuzz targets, and the encryption
// of a fuzzed plaintext under the key the engine will read it with, so that inputs reach the
// parsers instead of stopping at the cipher.
#pragma once

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "crypto.h"
#include "fs.h"
#include "object.h"

namespace fuzzstore {

inline const std::string &storeDir()
{
    static const std::string dir = [] {
        // Memory-backed when possible: the writers flush to the disk on every input.
        char pattern[] = "/dev/shm/coffervale-fuzz-XXXXXX";
        if (access("/dev/shm", W_OK) != 0)
            memcpy(pattern, "/tmp/coffervale-fuzz-XXXXXX", sizeof("/tmp/coffervale-fuzz-XXXXXX"));
        const char *made = mkdtemp(pattern);
        if (!made || fs_mount(made) != 2 || fs_mkfs("fuzz", "hint") != 0)
            abort();
        return std::string(fs_store_dir());
    }();
    return dir;
}

// Pads plain with zero bytes to whole blocks and writes it at path, encrypted for that path.
inline bool writeEncrypted(const std::string &path, std::vector<unsigned char> plain)
{
    plain.resize((plain.size() + 15) / 16 * 16);
    if (plain.empty())
        plain.resize(16);
    struct aes_cbc cipher = {NULL, 0};
    bool ok = cipher_setup(path.c_str(), &cipher, 1) == 0 &&
        aes_cbc_update(&cipher, plain.data(), plain.data(), plain.size()) == 0;
    aes_cbc_release(&cipher);
    FILE *f = ok ? fopen(path.c_str(), "wb") : nullptr;
    if (!f)
        return false;
    ok = fwrite(plain.data(), 1, plain.size(), f) == plain.size();
    return fclose(f) == 0 && ok;
}

}  // namespace fuzzstore
