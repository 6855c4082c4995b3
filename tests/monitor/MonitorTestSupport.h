// Helpers for the monitor tests: a scratch folder, and running a loop until something holds.
#ifndef COFFERVALE_TESTS_MONITOR_SUPPORT_H
#define COFFERVALE_TESTS_MONITOR_SUPPORT_H

#include "XXPollRunLoop.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

namespace monitortest {

class ScratchFolder {
public:
    ScratchFolder()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/monitor-test-XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = std::filesystem::canonical(pattern);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path &path, const std::string &content)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

// Runs the loop in short slices until condition holds or timeout passes; returns condition().
inline bool runUntil(XXPollRunLoop &loop, const std::function<bool()> &condition,
                     std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        loop.runFor(std::chrono::milliseconds(10));
    return condition();
}

} // namespace monitortest

#endif
