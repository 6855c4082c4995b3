// The folder index reader on any plaintext. The checksum is made right, as a bad one is
// refused before anything is parsed.
#include <stddef.h>
#include <stdint.h>

#include "FuzzStore.h"
#include "index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = fuzzstore::storeDir() + "/ab/cdef0123456789abcdef0123456789abcdef01";
    static const bool made = [] {
        std::string dir = fuzzstore::storeDir() + "/ab";
        return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
    }();
    if (!made)
        abort();
    std::vector<unsigned char> plain(data, data + size);
    plain.resize((plain.size() + 15) / 16 * 16 + 32);
    unsigned char digest[SHA1_RAWSZ];
    sha1_buffer(plain.data(), plain.size() - SHA1_RAWSZ, digest);
    memcpy(plain.data() + plain.size() - SHA1_RAWSZ, digest, SHA1_RAWSZ);
    if (!fuzzstore::writeEncrypted(path, plain))
        abort();
    struct store_index index = INDEX_INIT;
    if (index_read_from(&index, "folder/", path.c_str()) >= 0) {
        // Whatever was read must be usable: look names up and write it back.
        for (uint32_t i = 0; i < index.count; i++)
            index_name_pos(&index, index.entries[i]->name, index.entries[i]->name_len);
        index_resolve_path(&index, "x", nullptr, nullptr);
    }
    index_discard(&index);
    return 0;
}
