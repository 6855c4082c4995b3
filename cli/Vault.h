// The vault on one volume for the length of a command, through the disk session service:
// started on construction, logged out on destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CliSupport.h"

class XXDiskFileManager;
class XXDiskResultObject;
class XXProtectFileWrapper;

namespace cli {

struct StoreEntry {
    std::string name;
    bool folder = false;
    uint64_t size = 0;
    int64_t time = 0;
};

class Vault {
public:
    explicit Vault(const std::string &volume);
    ~Vault();
    Vault(const Vault &) = delete;
    Vault &operator=(const Vault &) = delete;

    XXDiskFileManager &manager() const { return manager_; }
    bool hasAccount() const { return hasAccount_; }
    const std::string &volume() const { return volume_; }

    void createAccount(const std::string &password, const std::string &hint);
    // Asks for the password and logs in; "wrong password" on a wrong one, and a vault that
    // cannot be read (damaged, a failing drive) says so instead. Returns the password.
    std::string login(const Invocation &inv);

    // Held by commands that call the engine themselves, for their whole run.
    std::unique_lock<std::recursive_mutex> lockEngine() const;

    // The protected tree as the window shows it (empty files are not part of it), built on
    // first use. Returns the root entry.
    std::shared_ptr<XXProtectFileWrapper> tree();
    // The tree entry at a store path ("" or "/" is the root), matched without regard to
    // ASCII case as the store matches names.
    std::shared_ptr<XXProtectFileWrapper> treeEntry(const std::string &path);
    // Fails, naming the folder, when a folder at or below path could not be listed while
    // the tree was built (it shows as empty there). Call after printing what could be read.
    void requireReadableBelow(const std::string &path);

    // The store's own listing, which also shows empty files.
    std::vector<StoreEntry> list(const std::string &folder) const;
    // The entry at path, or nothing; "" is the root folder.
    std::optional<StoreEntry> find(const std::string &path) const;

private:
    XXDiskFileManager &manager_;
    std::string volume_;
    bool hasAccount_ = false;
    std::shared_ptr<XXProtectFileWrapper> treeContainer_;
    std::string unreadableFolder_;  // the first folder the tree could not list
};

// Store paths are "/"-separated and relative to the vault's root.
std::string joinStorePath(const std::string &folder, const std::string &name);
std::string storeBaseName(const std::string &path);
std::string storeParent(const std::string &path);
bool sameStoreName(const std::string &a, const std::string &b);
// A name from the vault that may become a file name on this computer: nothing that could
// climb out of the target folder or be cut short.
bool isSafeLocalName(const std::string &name);
// A refusal of the login or of a password change with this errno is the password's fault
// (EACCES, or no number at all), not the vault's.
bool isPasswordRefusal(int systemErrorNumber);
// "the vault on VOLUME cannot be read (reason)".
std::string unreadableVaultMessage(const std::string &volume, int systemErrorNumber);
std::string humanSize(uint64_t bytes);
// A name from the vault as it may reach a terminal: control characters, DEL and a backslash
// are written as C escapes (\n, \x1b, \\), so that no name can move the cursor or forge
// a line of output. Other bytes, UTF-8 included, pass unchanged.
std::string printableName(const std::string &name);

}  // namespace cli
