// Environment variables set (or unset) for a scope and put back as they were afterwards.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    ~ScopedEnv()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            apply(it->first, it->second);
    }

    // nullopt unsets the variable.
    void set(const std::string &name, const std::optional<std::string> &value)
    {
        keep(name);
        apply(name, value);
    }
    // Only puts the variable back afterwards (for code under test that changes it).
    void keep(const std::string &name)
    {
        const char *old = getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }

private:
    static void apply(const std::string &name, const std::optional<std::string> &value)
    {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
