// Each running program keeps its decrypted copies in a folder of its own inside the
// application folder (XXPrivateCacheFolder.h): "run-XXXXXX", holding the caches
// "cacheFolder" and "CachePasteFolder" and the lock file "owner.lock", which the program
// holds with flock for as long as it runs. A folder whose lock anyone can take belongs to a
// run that ended without cleaning up (a crash, a kill), and the next start removes it; a
// held one is never touched.
//
// A copy opened with another program may be changed there and never reach the vault (the
// program died, the vault was gone, storing it failed). Such a copy is the person's work:
// every opened copy gets a stamp (inode, size, modification time) when it is made and after
// each save into the vault, and no cleanup removes a copy that differs from its stamp.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace xxcache {

// This process's instance folder in the current application folder, claimed (made, locked)
// at the first call; nullopt when no private folder can be made.
std::optional<std::string> instanceFolder();
// The folder claimed by this process in the current application folder, without claiming one.
std::optional<std::string> claimedInstanceFolder();

// The state a stamp compares: inode, size and modification time; "" when the copy is gone.
std::string copyState(const std::string &copyPath);
// Records state (a copyState of the copy) as the one the vault holds. instance is the
// folder the copy lies in (its cache folder's parent).
bool recordStamp(const std::string &instance, const std::string &copyPath, const std::string &state);
// Whether the copy differs from its stamp. A copy without a stamp never held anything of
// the person's: it is unchanged. A missing copy is unchanged too.
bool changedSinceStamp(const std::string &instance, const std::string &copyPath);

// Removes instance/name and everything in it except the copies changed since their stamps
// (and the folders that lead to them, and their stamps); returns those copies.
std::vector<std::string> removeCacheKeepingChanged(const std::string &instance, const std::string &name);

// Clears the folders of runs that ended (their lock is free) and the caches an earlier
// version kept at the top of the application folder, keeping changed copies; returns those.
std::vector<std::string> removeLeftoversOfEndedRuns();

// At the end of the program: removes this process's instance folder unless changed copies
// are kept in it, and ends the claim.
void releaseInstanceFolder();

}  // namespace xxcache
