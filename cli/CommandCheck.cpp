// check: reads every index and every object of the vault and changes nothing.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <set>
#include <vector>

#include "Commands.h"
#include "Vault.h"
#include "fs.h"
#include "index.h"
#include "object.h"

namespace cli {
namespace {

struct Checker {
    std::string storeDir;
    std::vector<std::string> problems;
    std::set<std::string> referenced;
    std::set<std::string> visitedFolders;
    uint64_t folders = 0, files = 0, bytes = 0;

    void problem(const std::string &text) { problems.push_back(text); }

    static std::string shown(const std::string &folder, const std::string &name)
    {
        return "/" + joinStorePath(folder, name);
    }

    std::string objectFile(const unsigned char *id)
    {
        struct strbuf path = STRBUF_INIT;
        object_path(&path, id);
        std::string p = path.buf;
        strbuf_release(&path);
        referenced.insert(p);
        return p;
    }

    // Reads one content object through; returns its length, or -1 after reporting.
    int64_t readObject(const unsigned char *id, uint64_t expectedHeader, const std::string &what)
    {
        std::string path = objectFile(id);
        struct stat st;
        if (stat(path.c_str(), &st) < 0) {
            problem(what + ": object file missing (" + path + ")");
            return -1;
        }
        int type = 0;
        struct object_stream *s = object_stream_open(id, &type);
        if (!s) {
            problem(what + ": object cannot be decrypted or inflated");
            return -1;
        }
        if (type != OBJ_BLOB || object_stream_declared_size(s) != expectedHeader) {
            problem(what + ": object header does not match its entry");
            object_stream_close(s);
            return -1;
        }
        std::vector<char> buf(1 << 20);
        int64_t total = 0;
        ssize_t n;
        while ((n = object_stream_read(s, buf.data(), buf.size())) > 0)
            total += n;
        object_stream_close(s);
        if (n < 0) {
            problem(what + ": content is damaged");
            return -1;
        }
        return total;
    }

    void checkFile(const std::string &folder, const store_index &index, const index_entry &e)
    {
        std::string what = shown(folder, e.name);
        files++;
        uint64_t first = std::min<uint64_t>(e.size, FS_PART_SIZE);
        int64_t got = readObject(e.id, first, what);
        if (got >= 0 && (uint64_t)got != first)
            problem(what + ": holds " + std::to_string(got) + " bytes, its entry says " +
                    std::to_string(first));
        uint64_t parts = e.size ? (e.size - 1) / FS_PART_SIZE : 0;
        for (uint64_t k = 1; k <= parts; k++) {
            std::string part = std::string(e.name) + "?" + std::to_string(k);
            int pos = index_name_pos(&index, part.c_str(), part.size());
            if (pos < 0) {
                problem(what + ": part " + std::to_string(k) + " is missing");
                continue;
            }
            uint64_t want = std::min<uint64_t>(e.size - k * FS_PART_SIZE, FS_PART_SIZE);
            got = readObject(index.entries[pos]->id, 0, what + " part " + std::to_string(k));
            if (got >= 0 && (uint64_t)got != want)
                problem(what + ": part " + std::to_string(k) + " holds " + std::to_string(got) +
                        " bytes, expected " + std::to_string(want));
        }
        bytes += e.size;
    }

    void checkPart(const std::string &folder, const store_index &index, const index_entry &e)
    {
        std::string name = e.name;
        size_t q = name.rfind('?');
        std::string base = name.substr(0, q);
        unsigned long long k = strtoull(name.c_str() + q + 1, nullptr, 10);
        int pos = index_name_pos(&index, base.c_str(), base.size());
        if (pos < 0 || k == 0 || index.entries[pos]->size <= k * FS_PART_SIZE)
            problem(shown(folder, name) + ": a part that belongs to no file");
        objectFile(e.id);
    }

    void checkIndex(const std::string &folder, store_index &index)
    {
        for (uint32_t i = 0; i < index.count; i++) {
            const index_entry &e = *index.entries[i];
            std::string name(e.name, e.name_len);
            if (i &&
                name_compare(index.entries[i - 1]->name, index.entries[i - 1]->name_len, e.name,
                             e.name_len) >= 0)
                problem(shown(folder, name) + ": entries out of order or named twice");
            bool isFolder = !name.empty() && name.back() == '/';
            std::string plain = isFolder ? name.substr(0, name.size() - 1) : name;
            if (name.find('?') != std::string::npos) {
                checkPart(folder, index, e);
                continue;
            }
            if (!isSafeLocalName(plain) || name.size() != strlen(e.name)) {
                problem(shown(folder, plain) + ": unsafe name in the vault");
                continue;
            }
            if (isFolder)
                checkFolder(joinStorePath(folder, plain), e);
            else
                checkFile(folder, index, e);
        }
    }

    void checkFolder(const std::string &path, const index_entry &e)
    {
        folders++;
        std::string file = objectFile(e.id);
        // A damaged vault can name one folder index from two places, or from inside itself.
        if (!visitedFolders.insert(file).second) {
            problem("/" + path + "/: shares its folder index with another folder (" + file + ")");
            return;
        }
        struct stat st;
        if (stat(file.c_str(), &st) < 0) {
            problem("/" + path + "/: folder index missing (" + file + ")");
            return;
        }
        store_index sub = INDEX_INIT;
        if (index_read_from(&sub, path.c_str(), file.c_str()) < 0)
            problem("/" + path + "/: folder index damaged (" + strerror(errno) + ")");
        else
            checkIndex(path, sub);
        index_discard(&sub);
    }

    void findStrayFiles()
    {
        DIR *top = opendir(storeDir.c_str());
        if (!top)
            return;
        while (struct dirent *d = readdir(top)) {
            std::string n = d->d_name;
            std::string full = storeDir + "/" + n;
            if (n == "." || n == ".." || n == "index" || n == "config")
                continue;
            if (n.size() == 2 && isxdigit((unsigned char)n[0]) && isxdigit((unsigned char)n[1])) {
                DIR *fan = opendir(full.c_str());
                if (!fan)
                    continue;
                while (struct dirent *o = readdir(fan)) {
                    std::string on = o->d_name;
                    if (on == "." || on == "..")
                        continue;
                    std::string objectPath = full + "/" + on;
                    if (on.size() > 5 && on.compare(on.size() - 5, 5, ".lock") == 0)
                        problem("leftover lock file " + objectPath);
                    else if (!referenced.count(objectPath))
                        problem("orphaned object file " + objectPath);
                }
                closedir(fan);
            } else if (n == "config.lock") {
                problem("leftover lock file " + full + " (settings cannot be saved while it exists)");
            } else if (n == "index.lock") {
                problem("leftover lock file " + full);
            }
        }
        closedir(top);
    }
};

}  // namespace

int runCheck(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (!inv.args.empty())
        throw UsageError("check takes no arguments");
    Vault vault(inv.volume);
    vault.login(inv);
    auto guard = vault.lockEngine();
    Checker c;
    c.storeDir = fs_store_dir();
    store_index root = INDEX_INIT;
    if (index_read(&root) < 0) {
        c.problem(std::string("root index cannot be read: ") + strerror(errno));
    } else {
        c.referenced.insert(c.storeDir + "/index");
        c.checkIndex("", root);
        c.findStrayFiles();
    }
    index_discard(&root);

    for (const auto &p : c.problems)
        printf("problem: %s\n", p.c_str());
    printf("%llu folders, %llu files, %s checked; %zu problem%s\n", (unsigned long long)c.folders,
           (unsigned long long)c.files, humanSize(c.bytes).c_str(), c.problems.size(),
           c.problems.size() == 1 ? "" : "s");
    return c.problems.empty() ? 0 : 1;
}

}  // namespace cli
