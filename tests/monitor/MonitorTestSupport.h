// Helpers for the monitor tests: a scratch folder, and running a loop until something holds.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>

#include "TempDir.h"
#include "XXPollRunLoop.h"

namespace monitortest {

// Named by its canonical path, the form in which the watcher and the disk monitor see it.
class ScratchFolder {
public:
    const std::filesystem::path &path() const { return path_; }

private:
    TempDir dir_;
    std::filesystem::path path_ = std::filesystem::canonical(dir_.path());
};

// Runs the loop in short slices until condition holds or timeout passes; returns condition().
inline bool runUntil(XXPollRunLoop &loop, const std::function<bool()> &condition,
                     std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        loop.runFor(std::chrono::milliseconds(10));
    return condition();
}

}  // namespace monitortest
