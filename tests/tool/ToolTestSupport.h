// Helpers for the tool tests: environment variables and the display language, each put back
// when the scope ends.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"
#include "XXTool.h"

namespace tooltest {

// Sets (or with nullopt unsets) variables for the scope and restores the previous values.
class ScopedEnv {
public:
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        apply(name, value);
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first, it->second);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Pins the language for a test, and puts the previous one back afterwards.
class ScopedLanguage {
public:
    explicit ScopedLanguage(const std::string& language) : previous_(XXTool::shareTool().languageName()) {
        XXTool::shareTool().setLanguageName(language);
    }
    ~ScopedLanguage() { XXTool::shareTool().setLanguageName(previous_); }

private:
    std::string previous_;
};

}  // namespace tooltest
