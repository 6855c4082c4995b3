// Helpers for the tool tests: a scratch folder and environment variables restored on exit.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "XXTool.h"

namespace tooltest {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "coffervale-tool-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::filesystem::path write(const std::filesystem::path& relative, const std::string& content) const {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    std::filesystem::path path_;
};

// Sets (or with nullopt unsets) variables for the scope and restores the previous values.
class ScopedEnv {
public:
    void set(const std::string& name, std::optional<std::string> value) {
        const char* old = std::getenv(name.c_str());
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        apply(name, value);
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->name, it->value);
    }

private:
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    };
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::vector<Saved> saved_;
};

// Pins the resources and the language for a test, and puts both back afterwards.
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
