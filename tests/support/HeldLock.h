// A lock file held with flock, as a writer of another running program holds it, until the
// object goes: the engine must refuse to take it over while it is held.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"

class HeldLock {
public:
    explicit HeldLock(const std::string &path, const std::string &content = "")
    {
        writeFile(path, content);
        fd_ = open(path.c_str(), O_RDWR);
        EXPECT_EQ(flock(fd_, LOCK_EX), 0) << path;
    }
    ~HeldLock() { release(); }
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;

    // The holder ends; its lock file stays behind.
    void release()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};
