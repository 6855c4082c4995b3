// Where backups live on the computer and which entries of the backup root are backups.
//
// Paths are read from the environment at every call, so a change of HOME or of the XDG
// variables (tests, the command-line tool) takes effect at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace xxbackup {

// $HOME, else the home folder of the user database; "" when neither is known.
std::string homeFolder();

// XDG_DOCUMENTS_DIR of the user's dirs file ($XDG_CONFIG_HOME/user-dirs.dirs, by default
// ~/.config/user-dirs.dirs), else ~/Documents.
std::string userDocumentsFolder();

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::string userDataFolder();

// The XDG_DOCUMENTS_DIR value of a dirs file's text, with "$HOME" expanded to home; "" when
// the text sets none or sets it to something that is neither absolute nor below $HOME.
std::string documentsFolderFromUserDirs(std::string_view text, const std::string &home);

// "<documents or data folder>/TovinUSBENC/Backup": the documents folder for location 0, the
// data folder for any other location (as the location setting reads back).
std::string backupRootForLocation(std::int64_t location);

// A backup folder is named by the local date and time it was started, "yyyy-MM-dd HH:mm:ss"
// (years up to 2261).
bool isBackupFolderName(std::string_view name);

}  // namespace xxbackup
