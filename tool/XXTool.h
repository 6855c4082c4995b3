// The application's utility singleton: display language and localized texts, size, time and
// date texts, file types by extension, password and file-name rules, sizes of computer files
// and MD5. No Qt, so the service can use it from its background threads; every operation is
// safe to call from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// File type codes, shared with the protected file tree.
enum XXFileTypeCode : int {
    XXFileTypeFolder = 0,
    XXFileTypeMusic = 1,
    XXFileTypePhoto = 2,
    XXFileTypeArchive = 3,
    XXFileTypeText = 4,
    XXFileTypeVideo = 5,
    XXFileTypeOther = 6,
};

// Results of judgePasswordIsEffective.
enum XXPasswordCheckCode : int {
    XXPasswordValid = 0,
    XXPasswordTooShort = 1,
    XXPasswordTooLong = 2,
    XXPasswordBadCharacter = 3,
};

// Results of levelWithEffectivePassword; XXPasswordLevelNone for a password that is not valid.
enum XXPasswordLevel : int {
    XXPasswordLevelNone = 0,
    XXPasswordLevelWeak = 1,
    XXPasswordLevelMedium = 2,
    XXPasswordLevelStrong = 3,
};

class XXTool {
public:
    using Date = std::chrono::system_clock::time_point;

    static XXTool &shareTool();

    XXTool(const XXTool &) = delete;
    XXTool &operator=(const XXTool &) = delete;

    // --- Language and texts ---------------------------------------------------------------

    // "zh-Hans" or "en"; derived from the environment while unset.
    std::string languageName();
    // The login screen's choice. "" goes back to the environment's language at the next use.
    void setLanguageName(std::string name);
    // The first of LANGUAGE, LC_ALL, LC_MESSAGES, LANG that is set: "zh-Hans" for any Chinese
    // ("zh..."), else "en"; "en" when none is set.
    static std::string systemLanguageName();

    // The text of key in the current language; the key itself when the table has no text.
    std::string acquireLocalizedStringFromKey(std::string_view key);
    // nullptr stands for "no key" and gives "".
    std::string acquireLocalizedStringFromKey(const char *key);
    // Forgets the loaded tables and finds the resources again at the next lookup.
    void reloadTexts();

    // --- Dates (local time zone, "yyyy-MM-dd HH:mm:ss") --------------------------------------

    std::string currentDate() const;
    std::string formattedDate(Date date) const;
    // nullopt when the text is not exactly of that pattern or names no real date.
    std::optional<Date> stringToDate(std::string_view text) const;

    // --- Transfer speed and remaining time ---------------------------------------------------

    void transmitStartTime(double secondsSince1970);
    // Speed since the start in MiB/s. A measurement that gives no finite, positive speed
    // (no time elapsed, nothing done yet) keeps the previous speed.
    void transmitEndTime(double secondsSince1970, std::uint64_t completeSize);
    // "HH:MM:SS" for the remaining bytes at the measured speed (whole MiB only).
    std::string timeNeedFromSize(std::uint64_t remainingBytes) const;
    double startTime() const { return startTime_.load(); }
    double transmitSpend() const { return transmitSpend_.load(); }

    // --- File types ---------------------------------------------------------------------------

    // By the text after the last "." (the whole name when there is none), case-insensitive;
    // lists tried in the order photo, archive, music, text, video; 6 for no match or "".
    int changeFileTypeWithName(std::string_view name) const;
    bool judgeFileType(const std::vector<std::string> &suffixes, std::string_view suffix) const;

    const std::vector<std::string> &musicSuffixArray() const { return musicSuffixArray_; }
    const std::vector<std::string> &photoSuffixArray() const { return photoSuffixArray_; }
    const std::vector<std::string> &compressSuffixArray() const { return compressSuffixArray_; }
    const std::vector<std::string> &textSuffixArray() const { return textSuffixArray_; }
    const std::vector<std::string> &videoSuffixArray() const { return videoSuffixArray_; }

    // --- Class operations ---------------------------------------------------------------------

    // "0 KB", "1023bytes", "1.00KB", "10.0KB", "100KB", then MB and GB alike.
    static std::string formattedFileSize(std::uint64_t bytes);
    // XXPasswordCheckCode; lengths count Unicode characters, not bytes.
    static int judgePasswordIsEffective(std::string_view password);
    // XXPasswordLevel.
    static int levelWithEffectivePassword(std::string_view password);
    // Refuses "", ".", "..", names with \ / < > * ? : " | or a control character, and text
    // that is not valid UTF-8. Names outside ASCII are accepted.
    static bool checkFileName(std::string_view name);
    // "yyyy-MM-dd HH:mm:ss" in UTC; "" for a time that cannot be shown.
    static std::string changeTimeStringWith(std::int64_t secondsSince1970);
    // Sum of the sizes of the regular files below path, at every depth (symbolic links are
    // not followed); 0 when the folder does not exist.
    static float folderSizeAtPath(const std::filesystem::path &path);
    // The file's size; 0 when it does not exist.
    static std::uint64_t fileSizeAtPath(const std::filesystem::path &path);
    // 32 lower-case hexadecimal digits of the MD5 of the text's bytes.
    static std::string md5ForString(std::string_view text);

private:
    using TextMap = std::unordered_map<std::string, std::string>;

    XXTool();
    std::shared_ptr<const TextMap> currentTexts();

    std::mutex languageMutex_;  // guards languageName_ and tables_
    std::string languageName_;
    std::unordered_map<std::string, std::shared_ptr<const TextMap>> tables_;

    std::atomic<double> startTime_{0.0};
    std::atomic<double> transmitSpend_{4.0};

    const std::vector<std::string> musicSuffixArray_;
    const std::vector<std::string> photoSuffixArray_;
    const std::vector<std::string> compressSuffixArray_;
    const std::vector<std::string> textSuffixArray_;
    const std::vector<std::string> videoSuffixArray_;
};
