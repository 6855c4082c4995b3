#include "XXMountMonitor.h"

#include "XXMonitorLog.h"
#include "XXMountTable.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

XXMountMonitor::XXMountMonitor(XXRunLoop &loop, std::string procRoot, std::string sysRoot, Handlers handlers)
    : loop_(loop), mountInfoPath_(procRoot + "/self/mountinfo"), sysRoot_(std::move(sysRoot)),
      handlers_(std::move(handlers))
{}

XXMountMonitor::~XXMountMonitor()
{
    if (watch_ != 0)
        loop_.unwatchDescriptor(watch_);
    if (fd_ >= 0)
        close(fd_);
}

bool XXMountMonitor::start()
{
    if (fd_ >= 0)
        return true;
    fd_ = open(mountInfoPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        XXMonitorLog("XXDiskTool: cannot open " + mountInfoPath_ + ": " + std::strerror(errno));
        return false;
    }
    // The kernel flags the open table with POLLPRI|POLLERR whenever a mount is added or
    // removed. A plain file (a test fixture) never does; rescan() covers that case.
    watch_ = loop_.watchDescriptor(fd_, XXRunLoop::Condition::priority, [this] { rescan(); });
    rescan();
    return true;
}

void XXMountMonitor::rescan()
{
    XXDiskDictionary table;
    if (!readTable(table))
        return;
    // Linux asks nobody before it unmounts, so there is no approval step to report from: a
    // volume is reported gone once its mount has disappeared from the table.
    const XXDiskTableChanges changes = XXCompareDiskTables(lastTable_, table);
    lastTable_ = std::move(table);
    for (const XXDiskDescription &disk : changes.gone)
        if (handlers_.disappeared)
            handlers_.disappeared(disk);
    for (const XXDiskDescription &disk : changes.present)
        if (handlers_.appeared)
            handlers_.appeared(disk);
    for (const XXDiskDescription &disk : changes.modified)
        if (handlers_.changed)
            handlers_.changed(disk);
}

bool XXMountMonitor::readTable(XXDiskDictionary &disks)
{
    // A failed read keeps the last table: reporting every disk gone on a transient error
    // would end a session whose stick is still there.
    std::string text;
    char buffer[8192];
    off_t offset = 0;
    for (;;) {
        const ssize_t count = pread(fd_, buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            XXMonitorLog("XXDiskTool: cannot read " + mountInfoPath_ + ": " + std::strerror(errno));
            return false;
        }
        if (count == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(count));
        offset += count;
    }
    disks = XXDescribeMountedDisks(XXParseMountInfo(text), sysRoot_);
    return true;
}
