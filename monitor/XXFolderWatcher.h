// Tells its owner which of a set of computer folders changed: an entry made, removed or renamed
// in one, a file in one written, or the folder itself gone (deleted, renamed away, its file
// system unmounted). The changes within the folding delay of the first are reported together,
// each folder once, so a copy of a thousand files costs a handful of reports.
//
// One inotify descriptor serves every folder. Everything runs on the loop's thread: create,
// change the set and destroy the watcher there.
#pragma once

#include "XXRunLoop.h"

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class XXFolderWatcher {
public:
    // The folders (by the paths they were watched by) that changed, sorted. A folder that went
    // away is reported and no longer watched; watch it again once it is back.
    using ChangeHandler = std::function<void(const std::vector<std::string> &folders)>;

    XXFolderWatcher(XXRunLoop &loop, std::chrono::milliseconds foldingDelay, ChangeHandler onChange);
    ~XXFolderWatcher();
    XXFolderWatcher(const XXFolderWatcher &) = delete;
    XXFolderWatcher &operator=(const XXFolderWatcher &) = delete;

    // False when the folder cannot be watched (missing, not a folder, no inotify left);
    // true also when it is watched already.
    bool watchFolder(const std::string &path);
    void unwatchFolder(const std::string &path);
    // Watches exactly these folders, keeping the watches of those already watched.
    void setWatchedFolders(const std::set<std::string> &paths);
    std::set<std::string> watchedFolders() const;

private:
    void readEvents();
    void report();
    void dropWatch(int descriptor);

    XXRunLoop &loop_;
    const std::chrono::milliseconds foldingDelay_;
    ChangeHandler onChange_;
    int inotifyFd_ = -1;
    XXRunLoop::WatchId loopWatch_ = 0;
    XXRunLoop::TimerId reportTimer_ = 0;
    std::map<std::string, int> watchOfPath_;  // path -> kernel watch (shared by links)
    std::set<std::string> changed_;
};
