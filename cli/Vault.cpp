#include "Vault.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "XXDiskFileManager.h"
#include "XXProtectFileWrapper.h"
#include "fs.h"

namespace cli {

// The service reports through completion blocks that run before the call returns.
static XXDiskResultObject resultOf(const std::function<void(const XXDiskResultBlock &)> &call)
{
    std::optional<XXDiskResultObject> kept;
    call([&](const XXDiskResultObject &r) { kept = r; });
    return *kept;
}

Vault::Vault(const std::string &volume) : manager_(XXDiskFileManager::shareDiskFileManager()), volume_(volume)
{
    manager_.setTerminationHandler([] {
        fprintf(stderr, "coffervale-cli: the volume went away\n");
        _exit(1);
    });
    XXDiskResultObject r = resultOf([&](auto &done) { manager_.startManagerWithDiskPath(volume, done); });
    if (!r.isSuccess()) {
        if (r.failedCall() == XXEngineCall::mount && r.engineReturn() == -1)
            throw OperationError("cannot open the volume " + volume + ": no such folder");
        // A positive answer of the engine is itself the error number.
        failErrno("cannot read the vault on " + volume, r.systemErrorNumber());
    }
    hasAccount_ = r.successCode() == 1;
}

Vault::~Vault()
{
    treeContainer_.reset();
    manager_.logOutComplete([](const XXDiskResultObject &) {});
}

std::unique_lock<std::recursive_mutex> Vault::lockEngine() const
{
    return XXDiskFileManager::lockEngine();
}

void Vault::createAccount(const std::string &password, const std::string &hint)
{
    XXDiskResultObject r =
        resultOf([&](auto &done) { manager_.createAccountWithPassword(password, hint, done); });
    if (!r.isSuccess())
        throw OperationError("creating the vault failed (" + r.errorTips() + ")");
}

std::string Vault::login(const Invocation &inv)
{
    if (!hasAccount_)
        throw OperationError("no vault on " + volume_ + " (create one with init)");
    std::string password = readPassword(inv, "Password: ");
    XXDiskResultObject r = resultOf([&](auto &done) { manager_.loginWithPassword(password, done); });
    if (!r.isSuccess()) {
        if (isPasswordRefusal(r.systemErrorNumber()))
            throw OperationError("wrong password");
        throw OperationError(unreadableVaultMessage(volume_, r.systemErrorNumber()));
    }
    return password;
}

std::shared_ptr<XXProtectFileWrapper> Vault::tree()
{
    if (!treeContainer_) {
        XXDiskResultObject r = resultOf([&](auto &done) { manager_.acquireProtectFileWithComplete(done); });
        if (!r.isSuccess() || !r.successWrapper())
            throw OperationError("the vault's folders cannot be read");
        treeContainer_ = r.successWrapper();
        if (r.successCode() == 1)
            unreadableFolder_ = r.errorFileName();
    }
    return treeContainer_->allSubFileArray().at(0);
}

void Vault::requireReadableBelow(const std::string &path)
{
    tree();
    if (unreadableFolder_.empty())
        return;
    std::string below = "/" + path;
    while (below.size() > 1 && (below.back() == '/' || below.back() == '\\'))
        below.pop_back();
    const std::string &bad = unreadableFolder_;
    bool inside = below == "/" ||
        (bad.size() >= below.size() && strncasecmp(bad.c_str(), below.c_str(), below.size()) == 0 &&
         (bad.size() == below.size() || bad[below.size()] == '/'));
    if (inside && bad.size() > FS_PATH_MAX)
        throw OperationError("folder " + printableName(bad) + " cannot be read: its path is longer than the " +
                             std::to_string(FS_PATH_MAX) + " bytes a vault may hold (run check)");
    if (inside)
        throw OperationError(
            "folder " + printableName(bad) +
            " cannot be read: its index is missing or damaged, or is that of a folder above it (run check)");
}

std::shared_ptr<XXProtectFileWrapper> Vault::treeEntry(const std::string &path)
{
    std::shared_ptr<XXProtectFileWrapper> at = tree();
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find_first_of("/\\", pos);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (!at->isDirectory())
            return nullptr;
        std::shared_ptr<XXProtectFileWrapper> next;
        for (const auto &child : at->allSubFileArray())
            if (sameStoreName(child->fileName(), part) && (!next || !child->isDirectory()))
                next = child;
        if (!next)
            return nullptr;
        at = next;
    }
    return at;
}

std::vector<StoreEntry> Vault::list(const std::string &folder) const
{
    auto guard = lockEngine();
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
    auto guard = lockEngine();
    fs_dir *dir = fs_opendir(parent.c_str());
    if (!dir) {
        if (errno == ENOENT)
            return std::nullopt;
        failErrno(parent.empty() ? "/" : parent, errno);
    }
    std::optional<StoreEntry> found;
    while (struct fs_dirent *d = fs_readdir(dir)) {
        // A file named like a folder wins, as the store's own lookup does.
        if (sameStoreName(d->name, name) && (!found || d->type != FS_DT_DIR))
            found = StoreEntry{d->name, d->type == FS_DT_DIR, d->size, d->time};
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

bool sameStoreName(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool isSafeLocalName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." &&
        name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool isPasswordRefusal(int systemErrorNumber)
{
    return systemErrorNumber == 0 || systemErrorNumber == EACCES;
}

std::string unreadableVaultMessage(const std::string &volume, int systemErrorNumber)
{
    if (systemErrorNumber == EBADMSG)
        return "the vault on " + volume + " is damaged: its index is not one any password could open " +
            "(this is not a wrong password; restore a backup)";
    return "the vault on " + volume + " cannot be read (" + strerror(systemErrorNumber) + ")";
}

std::string printableName(const std::string &name)
{
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            char hex[5];
            snprintf(hex, sizeof(hex), "\\x%02x", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
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

}  // namespace cli
