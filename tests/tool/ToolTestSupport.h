// Helpers for the tool tests: environment variables and the display language, each put back
// when the scope ends.
#pragma once

#include <string>

#include "ScopedEnv.h"
#include "TempDir.h"
#include "XXTool.h"

namespace tooltest {

using ::ScopedEnv;

// Pins the language for a test, and puts the previous one back afterwards.
class ScopedLanguage {
public:
    explicit ScopedLanguage(const std::string &language) : previous_(XXTool::shareTool().languageName())
    {
        XXTool::shareTool().setLanguageName(language);
    }
    ~ScopedLanguage() { XXTool::shareTool().setLanguageName(previous_); }

private:
    std::string previous_;
};

}  // namespace tooltest
