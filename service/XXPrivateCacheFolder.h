// Where decrypted copies may live on the computer: the application's folder "TovinUSBENC" in
// the user's runtime folder (XDG_RUNTIME_DIR: memory-backed, the user's alone), or, when
// there is none, in the user's cache folder (XDG_CACHE_HOME, default ~/.cache). The folder
// and the cache folders in it are the user's alone (mode 0700); a folder of that name that
// is a link or someone else's is never used.
#pragma once

#include <optional>
#include <string>

namespace xxcache {

// The application folder's path, whether it exists or not; "" when no home can be found.
std::string applicationFolderPath();

// The application folder, made (mode 0700) when missing; nullopt when it cannot be made
// private to the user.
std::optional<std::string> privateApplicationFolder();

// A folder inside the application folder, made (mode 0700, the application folder too)
// when missing; nullopt when it cannot be made private to the user.
std::optional<std::string> privateFolder(const std::string &name);

// Makes path a folder of the user's alone: made with mode 0700 when missing, an existing one
// must be a real folder owned by the user and is set to 0700.
bool makePrivateFolder(const std::string &path);

// Removes the folder and everything in it; true when it is gone (or was never there).
bool removeFolder(const std::string &path);

}  // namespace xxcache
