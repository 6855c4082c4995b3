// The vault on one volume for the length of a command: mounted on construction, unmounted
// on destruction, with listings as plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CliSupport.h"

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

    bool hasAccount() const { return hasAccount_; }
    const std::string &volume() const { return volume_; }
    // Asks for the password and logs in; "wrong password" on a wrong one. Returns the password.
    std::string login(const Invocation &inv);

    std::vector<StoreEntry> list(const std::string &folder) const;
    // The entry at path, or nothing; "" is the root folder.
    std::optional<StoreEntry> find(const std::string &path) const;

private:
    std::string volume_;
    bool hasAccount_ = false;
};

// Store paths are "/"-separated and relative to the vault's root.
std::string joinStorePath(const std::string &folder, const std::string &name);
std::string storeBaseName(const std::string &path);
std::string storeParent(const std::string &path);
// A name from the vault that may become a file name on this computer: nothing that could
// climb out of the target folder or be cut short.
bool isSafeLocalName(const std::string &name);
std::string humanSize(uint64_t bytes);

} // namespace cli
