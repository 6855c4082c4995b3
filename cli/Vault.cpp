#include "Vault.h"

#include <errno.h>

#include <algorithm>
#include <cstdio>

#include "fs.h"

namespace cli {

Vault::Vault(const std::string &volume) : volume_(volume)
{
    int r = fs_mount(volume.c_str());
    if (r < 0)
        failErrno("cannot open the volume " + volume, errno == EBADF ? ENOENT : errno);
    if (r != 0 && r != ENOENT) {
        fs_umount();
        failErrno("cannot read the vault on " + volume, r);
    }
    hasAccount_ = r == 0;
}

Vault::~Vault()
{
    fs_umount();
}

std::string Vault::login(const Invocation &inv)
{
    if (!hasAccount_)
        throw OperationError("no vault on " + volume_ + " (create one with init)");
    std::string password = readPassword(inv, "Password: ");
    if (fs_login(password.c_str()) < 0) {
        if (errno == EACCES)
            throw OperationError("wrong password");
        failErrno("login", errno);
    }
    return password;
}

std::vector<StoreEntry> Vault::list(const std::string &folder) const
{
    fs_dir *dir = fs_opendir(folder.c_str());
    if (!dir)
        failErrno(folder.empty() ? "/" : folder, errno);
    std::vector<StoreEntry> entries;
    while (struct fs_dirent *d = fs_readdir(dir))
        entries.push_back({d->name, d->type == FS_DT_DIR, d->size, d->time});
    fs_closedir(dir);
    return entries;
}

std::optional<StoreEntry> Vault::find(const std::string &path) const
{
    std::string name = storeBaseName(path);
    if (name.empty())
        return StoreEntry{"", true, 0, 0};
    std::string parent = storeParent(path);
    fs_dir *dir = fs_opendir(parent.c_str());
    if (!dir) {
        if (errno == ENOENT)
            return std::nullopt;
        failErrno(parent.empty() ? "/" : parent, errno);
    }
    std::optional<StoreEntry> found;
    while (struct fs_dirent *d = fs_readdir(dir)) {
        std::string n = d->name;
        bool same = n.size() == name.size() &&
                    std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) { return tolower(a) == tolower(b); });
        // A file named like a folder wins, as the store's own lookup does.
        if (same && (!found || !(d->type == FS_DT_DIR)))
            found = StoreEntry{n, d->type == FS_DT_DIR, d->size, d->time};
    }
    fs_closedir(dir);
    return found;
}

static std::string trimSlashes(std::string p)
{
    while (!p.empty() && (p.back() == '/' || p.back() == '\\'))
        p.pop_back();
    size_t lead = 0;
    while (lead < p.size() && (p[lead] == '/' || p[lead] == '\\'))
        lead++;
    return p.substr(lead);
}

std::string joinStorePath(const std::string &folder, const std::string &name)
{
    std::string f = trimSlashes(folder);
    return f.empty() ? name : f + "/" + name;
}

std::string storeBaseName(const std::string &path)
{
    std::string p = trimSlashes(path);
    size_t slash = p.find_last_of("/\\");
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string storeParent(const std::string &path)
{
    std::string p = trimSlashes(path);
    size_t slash = p.find_last_of("/\\");
    return slash == std::string::npos ? "" : p.substr(0, slash);
}

bool isSafeLocalName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string humanSize(uint64_t bytes)
{
    const char *units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double v = (double)bytes;
    int u = 0;
    while (v >= 1024 && u < 4) {
        v /= 1024;
        u++;
    }
    char buf[32];
    snprintf(buf, sizeof(buf), u ? "%.1f %s" : "%.0f %s", v, units[u]);
    return buf;
}

} // namespace cli
