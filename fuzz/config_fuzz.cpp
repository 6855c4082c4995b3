// The configuration parser on any file, then a setting written into it: a value set must
// read back, and a file that was refused must be left as it was.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "FuzzStore.h"
#include "config.h"

namespace {

int ignore(const char *, const char *, void *)
{
    return 0;
}

std::string readAll(const std::string &path)
{
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

struct Last {
    std::string value;
    bool found = false;
};

int keepPrompt(const char *name, const char *value, void *data)
{
    auto *last = static_cast<Last *>(data);
    if (!strcmp(name, "core.prompt")) {
        last->found = value != nullptr;
        last->value = value ? value : "";
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = fuzzstore::storeDir() + "/fuzzed-config";
    const std::string input(reinterpret_cast<const char *>(data), size);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(input.data(), 1, input.size(), f) != input.size() || fclose(f) != 0)
        abort();
    config_from_file(ignore, path.c_str(), nullptr);
    int status = config_set_in_file(path.c_str(), "core.prompt", "a \"new\" hint; #1\n", 0);
    if (status == FS_CONFIG_OK) {
        Last last;
        if (config_from_file(keepPrompt, path.c_str(), &last) == 0 &&
            (!last.found || last.value != "a \"new\" hint; #1\n"))
            abort();
    } else if (readAll(path) != input) {
        abort();
    }
    return 0;
}
