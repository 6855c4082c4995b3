// The object stream reader on any plaintext, as a damaged or hostile object decrypts to.
#include <stddef.h>
#include <stdint.h>

#include "FuzzStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = fuzzstore::storeDir() + "/cd/ef0123456789abcdef0123456789abcdef0123";
    static const bool made = [] {
        std::string dir = fuzzstore::storeDir() + "/cd";
        return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
    }();
    if (!made || !fuzzstore::writeEncrypted(path, std::vector<unsigned char>(data, data + size)))
        abort();
    int type = 0;
    struct object_stream *s = object_stream_open_path(path.c_str(), &type);
    if (!s)
        return 0;
    static unsigned char buf[65536];
    uint64_t total = 0;
    ssize_t n;
    while ((n = object_stream_read(s, buf, sizeof(buf))) > 0)
        total += (uint64_t)n;
    // Inflating must stop at the stream's end, however much the header declares.
    if (n == 0 && total > (uint64_t)size * 1032 + 64)
        abort();
    object_stream_close(s);
    return 0;
}
