// File types, the password and file-name rules, sizes of computer files and MD5.
#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "XXPasswordRules.h"
#include "XXTool.h"
#include "XXUtf8.h"

namespace {

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
        std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

int XXTool::changeFileTypeWithName(std::string_view name) const
{
    if (name.empty())
        return XXFileTypeOther;
    const std::size_t dot = name.rfind('.');
    const std::string_view suffix = dot == std::string_view::npos ? name : name.substr(dot + 1);
    // Photo before video and music before video matter: "m4a" is in both music and video.
    const std::pair<const std::vector<std::string> *, int> order[] = {
        {&photoSuffixArray_, XXFileTypePhoto}, {&compressSuffixArray_, XXFileTypeArchive},
        {&musicSuffixArray_, XXFileTypeMusic}, {&textSuffixArray_, XXFileTypeText},
        {&videoSuffixArray_, XXFileTypeVideo},
    };
    for (const auto &[list, type] : order) {
        if (judgeFileType(*list, suffix))
            return type;
    }
    return XXFileTypeOther;
}

bool XXTool::judgeFileType(const std::vector<std::string> &suffixes, std::string_view suffix) const
{
    return std::any_of(suffixes.begin(), suffixes.end(),
                       [&](const std::string &known) { return equalsIgnoringAsciiCase(known, suffix); });
}

int XXTool::judgePasswordIsEffective(std::string_view password)
{
    return xxtool::checkPassword(password);
}

int XXTool::levelWithEffectivePassword(std::string_view password)
{
    return xxtool::passwordLevel(password);
}

bool XXTool::checkFileName(std::string_view name)
{
    // "." and ".." would name the folder itself or its parent; a NUL byte would cut the name
    // short in every system call, so control characters are refused with it.
    if (name.empty() || name == "." || name == "..")
        return false;
    if (!xxtool::isValidUtf8(name))
        return false;
    constexpr std::string_view kForbidden = "\\/<>*?:\"|";
    return std::none_of(name.begin(), name.end(), [&](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F || kForbidden.find(c) != std::string_view::npos;
    });
}

std::uint64_t XXTool::fileSizeAtPath(const std::filesystem::path &path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

float XXTool::folderSizeAtPath(const std::filesystem::path &path)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec))
        return 0;
    std::uint64_t total = 0;
    // Folder entries themselves have a file-system-dependent size (4 KiB each on ext4) that
    // says nothing about the content, so only regular files count.
    std::filesystem::recursive_directory_iterator it(
        path, std::filesystem::directory_options::skip_permission_denied, ec);
    for (const std::filesystem::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        if (it->symlink_status(entryError).type() != std::filesystem::file_type::regular)
            continue;
        const auto size = it->file_size(entryError);
        if (!entryError)
            total += size;
    }
    return static_cast<float>(total);
}

std::string XXTool::md5ForString(std::string_view text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1)
        return "";
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0x0F]);
    }
    return hex;
}
