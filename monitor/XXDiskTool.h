// The set of mounted USB volumes that can hold a vault, and their arrival and removal.
//
// A disk qualifies when it has a BSD name, its protocol is "USB", it holds at least 4
// decimal gigabytes, and it is mounted under a removable-media root ("/media/", "/run/media/",
// "/Volumes/" and the roots in COFFERVALE_MEDIA_ROOTS). A volume folder given by the user
// (--volume DIR or COFFERVALE_VOLUME) is reported as one qualifying volume, so the program
// can run on a plain folder; a disk mounted exactly there qualifies too, whatever its size,
// so that pulling it is still noticed. The disk the program itself runs from qualifies
// whatever its protocol and size when it is mounted under a media root: the program carried
// on a stick opens that stick, also in a card reader or from a disk image.
//
// Wiring in the application (main thread, before anything calls shareDiskTool()):
//
//     XXDiskTool::installShared(mainLoop, volumeFolderFromCommandLine);  // "" when absent
//     ...
//     XXDiskTool::shareDiskTool().setDiskToolDelegate(pane);
//
// installShared takes /proc, /sys, the default media roots and the environment. All
// events, delegate calls and the notification run on the loop's thread. Removing a listed
// volume posts XXDiskDidMoveoutNotification on XXNotificationCenter::defaultCenter().
#pragma once

#include "XXDiskDescription.h"
#include "XXNotificationCenter.h"
#include "XXRunLoop.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class XXMountMonitor;
class XXDiskTool;

// Posted when a listed volume goes away. The object is a std::string: the volume's mount
// path (DAVolumePath), e.g. "/media/anna/STICK". Read it with notification.stringObject().
inline constexpr std::string_view XXDiskDidMoveoutNotification = "XXDiskDidMoveoutNotification";

// Change types of diskChange().
inline constexpr int XXDiskChangePresent = 0;
inline constexpr int XXDiskChangeGone = 1;

class XXDiskToolDelegate {
public:
    virtual ~XXDiskToolDelegate() = default;
    // A qualifying disk was mounted (or was there when monitoring started).
    virtual void diskDidAppear(XXDiskTool &tool, const XXDiskDescription &disk) = 0;
    // A qualifying disk went away; disk still carries its old mount path.
    virtual void diskDidDismiss(XXDiskTool &tool, const XXDiskDescription &disk) = 0;
    // Any disk's description changed, qualifying or not.
    virtual void diskDidModify(XXDiskTool &tool, const XXDiskDescription &disk) = 0;
};

struct XXDiskToolOptions {
    XXRunLoop *runLoop = nullptr;  // required
    XXNotificationCenter *notificationCenter = nullptr;  // nullptr: the default center
    std::string procRoot = "/proc";
    std::string sysRoot = "/sys";
    // Absolute folders; a volume qualifies when its mount point lies strictly below one.
    std::vector<std::string> mediaRoots = {"/media", "/run/media", "/Volumes"};
    // A folder to report as a qualifying volume; empty for none.
    std::string volumeFolder;
    // The folder the program runs from (getAppRunPath()); empty for none.
    std::string appRunPath;

    // The defaults plus the environment: COFFERVALE_MEDIA_ROOTS (colon-separated roots,
    // added to the defaults) and COFFERVALE_VOLUME (the volume folder); appRunPath is
    // getAppRunPath(). Without a loop, for runVolume(), which needs none.
    static XXDiskToolOptions fromEnvironment(XXRunLoop &loop);
    static XXDiskToolOptions fromEnvironment();
};

class XXDiskTool {
public:
    // BSD name under which a volume folder is listed.
    static constexpr std::string_view folderVolumeBSDName = "folder";

    // Monitoring starts with registerDiskNotice(). Construct on any thread; destroy on the
    // loop's thread. Throws std::invalid_argument without a run loop.
    explicit XXDiskTool(XXDiskToolOptions options);
    ~XXDiskTool();
    XXDiskTool(const XXDiskTool &) = delete;
    XXDiskTool &operator=(const XXDiskTool &) = delete;

    // Sets up the process-wide instance: the real /proc and /sys, the environment, and
    // volumeFolder (from --volume DIR) in place of COFFERVALE_VOLUME when not empty. Call
    // once, before the first shareDiskTool(); throws std::logic_error when called later.
    static void installShared(XXRunLoop &loop, const std::string &volumeFolder = {});
    // The process-wide instance, created and started by the first call; it lives until the
    // process ends. Throws std::logic_error when installShared() has not run. Any thread.
    static XXDiskTool &shareDiskTool();
    // The folder that holds the running program's file, also when the program was started
    // through the dynamic loader; empty when it cannot be read.
    static std::string getAppRunPath();
    // The volume the program runs from, as the window would open it: the mount point of a
    // block device under one of options.mediaRoots that holds options.appRunPath (the
    // innermost, when mounts nest), read from options.procRoot and options.sysRoot. Empty
    // when the program runs from anywhere else. Needs no loop and starts no monitoring.
    static std::string runVolume(const XXDiskToolOptions &options);

    // Starts watching the mount table. The disks mounted now and the volume folder are
    // reported as present from the loop shortly after, as later changes are. Only the first
    // call does anything. Any thread.
    void registerDiskNotice();
    // Rereads the mount table at once; for fixture tables, which cannot signal changes.
    // Loop thread.
    void rescanMountTable();

    // A copy of the qualifying disks, keyed by BSD name; nullopt before the first
    // qualifying event. Any thread.
    std::optional<XXDiskDictionary> loadedDisk() const;
    // The qualifying disks, created empty when absent. Loop thread.
    const XXDiskDictionary &diskDict();
    void setDiskDict(XXDiskDictionary disks);  // loop thread

    // One event: XXDiskChangePresent or XXDiskChangeGone; other types and disks that do not
    // qualify are ignored. Called off the loop's thread, it is handed to the loop.
    void diskChange(int changeType, const XXDiskDescription &disk);
    bool checkDiskType(const XXDiskDescription &disk) const;

    // Not owned; reset it before the delegate is destroyed. Loop thread.
    XXDiskToolDelegate *diskToolDelegate() const { return delegate_; }
    void setDiskToolDelegate(XXDiskToolDelegate *delegate) { delegate_ = delegate; }

private:
    void startOnLoop();
    void reportVolumeFolder();
    bool liesUnderMediaRoot(const std::string &path) const;
    bool holdsAppRunPath(const std::string &volumePath) const;

    XXRunLoop &loop_;
    XXNotificationCenter &center_;
    const XXDiskToolOptions options_;
    std::string volumeFolder_;  // canonical form of options_.volumeFolder
    XXDiskToolDelegate *delegate_ = nullptr;
    std::unique_ptr<XXMountMonitor> mountMonitor_;
    std::once_flag registered_;

    // Written on the loop's thread only, under the lock so loadedDisk() can copy from any thread.
    mutable std::mutex diskDictMutex_;
    std::optional<XXDiskDictionary> diskDict_;

    // Tasks posted to the loop check it, since the tool may be gone when they run.
    std::shared_ptr<XXDiskTool *> alive_;
};
