// A small tmpfs on a temporary folder, standing for a stick that fills up; unmounted when it
// goes. Mounting needs root, so tests skip when mounted() is false.
#pragma once

#include <sys/mount.h>

#include <fstream>
#include <string>

#include "TempDir.h"

class SmallVolume {
public:
    explicit SmallVolume(const char *options = "size=1m")
        : mounted_(mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options) == 0)
    {}
    ~SmallVolume()
    {
        if (mounted_)
            umount2(dir_.path().c_str(), MNT_DETACH);
    }
    SmallVolume(const SmallVolume &) = delete;
    SmallVolume &operator=(const SmallVolume &) = delete;

    bool mounted() const { return mounted_; }
    const std::string &path() const { return dir_.path(); }

    // Takes every block still free with a file beside whatever the volume holds.
    void fillUp() const
    {
        std::ofstream filler(path() + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), (std::streamsize)block.size()) && filler.flush()) {
        }
    }

private:
    TempDir dir_;
    bool mounted_;
};
