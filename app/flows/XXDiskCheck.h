// Which volume the application opens, and opening it: the start screen and the login screen
// after a lock both pick the volume the program runs from.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "XXDiskDescription.h"
#include "XXDiskTool.h"
#include "XXDiskResultObject.h"

// Where the volumes and the program's own folder come from: the disk monitor in the
// application, fixtures in tests.
struct XXVolumeSource {
    std::function<std::optional<XXDiskDictionary>()> loadedDisk;
    std::function<std::string()> appRunPath;
    // Makes delegate (nullptr: none) the receiver of volumes coming and going.
    std::function<void(XXDiskToolDelegate *delegate)> setDelegate;

    // The source the screens use; the disk monitor and XXDiskTool::getAppRunPath() until
    // replaced.
    static XXVolumeSource &current();
};

// The first volume, in the dictionary's order, that holds the program's folder; the last
// one examined when none does (or the program's folder is unknown). nullopt without volumes.
std::optional<std::string> chooseVolume(const XXDiskDictionary &disks, const std::string &appRunPath);

struct XXDiskCheckOutcome {
    enum Kind { noVolume, failed, opened };
    Kind kind = noVolume;
    std::string volumePath;
    // The manager's start result (failed and opened).
    XXDiskResultObject result = XXDiskResultObject::success(0);
};

// Picks the volume and starts the manager on it. Blocks: call it on a worker thread.
XXDiskCheckOutcome runDiskCheck();
