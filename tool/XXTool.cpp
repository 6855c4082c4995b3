// The singleton, the language choice and the text lookup.
#include "XXTool.h"

#include <cstdlib>

#include "XXResources.h"
#include "XXTextTable.h"

namespace {

bool startsWithChinese(std::string_view language)
{
    return language.size() >= 2 && (language[0] == 'z' || language[0] == 'Z') &&
        (language[1] == 'h' || language[1] == 'H');
}

// A language name becomes a folder name; anything that could leave the resources folder
// gets no table.
bool isSafeFolderName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::shared_ptr<const std::unordered_map<std::string, std::string>> loadTexts(const std::string &language)
{
    auto texts = std::make_shared<std::unordered_map<std::string, std::string>>();
    const auto dir = xxtool::resourcesDirectory();
    if (dir.empty() || !isSafeFolderName(language))
        return texts;
    if (auto parsed = xxtool::loadTextTableFile(dir / (language + ".lproj") / xxtool::kTextTableFileName)) {
        *texts = std::move(parsed->texts);
    }
    return texts;
}

}  // namespace

XXTool &XXTool::shareTool()
{
    // Never destroyed: background threads may still look texts up while the process exits.
    static std::once_flag once;
    static XXTool *instance = nullptr;
    std::call_once(once, [] { instance = new XXTool(); });
    return *instance;
}

XXTool::XXTool()
    : languageName_(systemLanguageName()), musicSuffixArray_{"mp3", "m4a", "aac", "wav"},
      photoSuffixArray_{"cur", "xbm",  "jpg", "png",  "ico",  "tif", "gif",
                        "bmp", "jpeg", "jpe", "jfif", "heic", "heif"},
      compressSuffixArray_{"zip", "rar"}, textSuffixArray_{"rtf",  "doc",  "pdf",  "txt", "xls", "ppt",
                                                           "xlsx", "pptx", "docx", "rtf", "md",  "pages"},
      videoSuffixArray_{"mp4", "mov", "avi", "rmvb", "mkv",  "3gp",  "wmv", "flv",  "m2ts", "ts",
                        "swf", "mpg", "m4a", "mpv",  "caff", "aiff", "m4v", "mpeg", "vob",  "ogg"}
{}

std::string XXTool::systemLanguageName()
{
    for (const char *variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (!value)
            continue;
        // LANGUAGE is a priority list ("zh_CN:en"); its first non-empty entry counts.
        std::string_view list(value);
        while (!list.empty()) {
            const std::size_t colon = list.find(':');
            const std::string_view first = list.substr(0, colon);
            if (!first.empty())
                return startsWithChinese(first) ? "zh-Hans" : "en";
            list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
        }
    }
    return "en";
}

std::string XXTool::languageName()
{
    std::lock_guard lock(languageMutex_);
    if (languageName_.empty())
        languageName_ = systemLanguageName();
    return languageName_;
}

void XXTool::setLanguageName(std::string name)
{
    std::lock_guard lock(languageMutex_);
    languageName_ = std::move(name);
}

void XXTool::reloadTexts()
{
    std::lock_guard lock(languageMutex_);
    tables_.clear();
}

std::shared_ptr<const XXTool::TextMap> XXTool::currentTexts()
{
    // The table is loaded under the lock once per language and then shared read-only, so
    // lookups on other threads only copy a pointer while holding the lock.
    std::lock_guard lock(languageMutex_);
    if (languageName_.empty())
        languageName_ = systemLanguageName();
    auto &table = tables_[languageName_];
    if (!table)
        table = loadTexts(languageName_);
    return table;
}

std::string XXTool::acquireLocalizedStringFromKey(std::string_view key)
{
    const auto texts = currentTexts();
    const auto it = texts->find(std::string(key));
    return it != texts->end() ? it->second : std::string(key);
}

std::string XXTool::acquireLocalizedStringFromKey(const char *key)
{
    return key ? acquireLocalizedStringFromKey(std::string_view(key)) : std::string();
}
