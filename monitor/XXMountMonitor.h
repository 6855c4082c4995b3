// The Linux source of disk events: the mounted block devices of /proc/self/mountinfo,
// described from sysfs, compared with the previous reading each time the kernel signals that
// the mount table changed.
#pragma once

#include "XXDiskDescription.h"
#include "XXRunLoop.h"

#include <functional>
#include <string>

class XXMountMonitor {
public:
    struct Handlers {
        std::function<void(const XXDiskDescription &)> appeared;
        std::function<void(const XXDiskDescription &)> disappeared;  // with the old mount point
        std::function<void(const XXDiskDescription &)> changed;
    };

    // procRoot and sysRoot stand for /proc and /sys.
    XXMountMonitor(XXRunLoop &loop, std::string procRoot, std::string sysRoot, Handlers handlers);
    ~XXMountMonitor();  // on the loop's thread
    XXMountMonitor(const XXMountMonitor &) = delete;
    XXMountMonitor &operator=(const XXMountMonitor &) = delete;

    // Opens and watches the mount table and reports every disk mounted now as appeared.
    // Returns false, logging why, when the table cannot be read. Loop thread.
    bool start();
    // Reads the table again and reports the differences. The kernel's change signal calls
    // this; tests call it after rewriting a fixture table, which cannot signal. Loop thread.
    void rescan();

private:
    bool readTable(XXDiskDictionary &disks);

    XXRunLoop &loop_;
    const std::string mountInfoPath_;
    const std::string sysRoot_;
    const Handlers handlers_;
    int fd_ = -1;
    XXRunLoop::WatchId watch_ = 0;
    XXDiskDictionary lastTable_;
};
