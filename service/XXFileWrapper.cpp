#include "XXFileWrapper.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>

#include "XXTool.h"
#include "XXUtf8.h"
#include "XXWrapperSortGroup.h"

namespace {

std::filesystem::file_type fileTypeOfMode(mode_t mode)
{
    using std::filesystem::file_type;
    if (S_ISREG(mode))
        return file_type::regular;
    if (S_ISDIR(mode))
        return file_type::directory;
    if (S_ISLNK(mode))
        return file_type::symlink;
    if (S_ISFIFO(mode))
        return file_type::fifo;
    if (S_ISSOCK(mode))
        return file_type::socket;
    if (S_ISBLK(mode))
        return file_type::block;
    if (S_ISCHR(mode))
        return file_type::character;
    return file_type::unknown;
}

std::optional<XXFileAttributes> readAttributes(const std::string &path, bool followLinks)
{
    if (path.empty())
        return std::nullopt;
    XXFileAttributes attributes;
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), followLinks ? 0 : AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
              &sx) == 0) {
        attributes.type = fileTypeOfMode(sx.stx_mode);
        attributes.fileSize = sx.stx_size;
        attributes.modificationDate = sx.stx_mtime.tv_sec;
        attributes.creationDate = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
        attributes.permissions = sx.stx_mode & 07777;
        attributes.ownerID = sx.stx_uid;
        attributes.groupID = sx.stx_gid;
        return attributes;
    }
    if (errno != ENOSYS)
        return std::nullopt;
    // Kernels (or sandboxes) without statx.
    struct stat st {};
    if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0)
        return std::nullopt;
    attributes.type = fileTypeOfMode(st.st_mode);
    attributes.fileSize = static_cast<std::uint64_t>(st.st_size);
    attributes.modificationDate = st.st_mtim.tv_sec;
    attributes.creationDate = st.st_mtim.tv_sec;
    attributes.permissions = st.st_mode & 07777;
    attributes.ownerID = st.st_uid;
    attributes.groupID = st.st_gid;
    return attributes;
}

std::string_view withoutTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

std::string lastPathComponent(std::string_view path)
{
    path = withoutTrailingSlashes(path);
    if (path == "/")
        return "/";
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path)
{
    path = withoutTrailingSlashes(path);
    if (path == "/")
        return "";
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return "";
    return std::string(slash == 0 ? std::string_view("/") : withoutTrailingSlashes(path.substr(0, slash)));
}

// The path of a "file://" URL (host dropped, escapes decoded); any other text is a path.
std::string pathOfURL(std::string_view text)
{
    constexpr std::string_view scheme = "file://";
    if (text.substr(0, scheme.size()) != scheme)
        return std::string(text);
    std::string_view rest = text.substr(scheme.size());
    const size_t slash = rest.find('/');
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    return XXFileWrapper::removingPercentEncoding(rest).value_or(std::string(rest));
}

std::string iconNameFor(bool isDirectory, std::string_view name)
{
    if (isDirectory)
        return "NSFolder";
    return xxservice::iconNameForFileType(XXTool::shareTool().changeFileTypeWithName(name));
}

}  // namespace

XXFileWrapper::XXFileWrapper(std::string_view pathOrFileURL)
{
    std::string path = pathOfURL(pathOrFileURL);
    std::optional<XXFileAttributes> attributes = readAttributes(path, true);
    if (!attributes) {
        if (std::optional<std::string> decoded = removingPercentEncoding(path); decoded && *decoded != path) {
            path = std::move(*decoded);
            attributes = readAttributes(path, true);
        }
    }
    fileName_ = lastPathComponent(path);
    parentFolderPath_ = deletingLastPathComponent(path);
    if (!attributes)
        return;
    isDirectory_ = attributes->type == std::filesystem::file_type::directory;
    iconName_ = iconNameFor(isDirectory_, fileName_);
    fileAttributes_ = attributes;
    systemPath_ = path;
}

std::string XXFileWrapper::fullPath() const
{
    if (parentFolderPath_.empty())
        return fileName_;
    if (parentFolderPath_.back() == '/')
        return parentFolderPath_ + fileName_;
    return parentFolderPath_ + "/" + fileName_;
}

void XXFileWrapper::listChildrenOnce()
{
    if (childrenListed_)
        return;
    childrenListed_ = true;
    allSubFileArray_.clear();
    allWithoutHiddenFileSubFileArray_.clear();
    allSubFolderFileArray_.clear();
    if (!isDirectory_ || systemPath_.empty())
        return;

    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(systemPath_, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    // The file system lists in no particular order; a fixed one keeps screens and tests steady.
    std::sort(names.begin(), names.end());

    const std::string childParentPath = fullPath();
    const std::string listedFolder = systemPath_.back() == '/' ? systemPath_ : systemPath_ + "/";
    for (std::string &name : names) {
        auto child = std::make_shared<XXFileWrapper>();
        child->systemPath_ = listedFolder + name;
        child->fileAttributes_ = readAttributes(child->systemPath_, false);
        child->isDirectory_ =
            child->fileAttributes_ && child->fileAttributes_->type == std::filesystem::file_type::directory;
        child->iconName_ = iconNameFor(child->isDirectory_, name);
        child->parentFolderPath_ = childParentPath;
        child->fileName_ = std::move(name);
        allSubFileArray_.push_back(child);
        if (child->fileName_.empty() || child->fileName_[0] != '.') {
            allWithoutHiddenFileSubFileArray_.push_back(child);
            if (child->isDirectory_)
                allSubFolderFileArray_.push_back(child);
        }
    }
}

XXFileArray &XXFileWrapper::allSubFileArray()
{
    listChildrenOnce();
    return allSubFileArray_;
}

XXFileArray &XXFileWrapper::allWithoutHiddenFileSubFileArray()
{
    listChildrenOnce();
    return allWithoutHiddenFileSubFileArray_;
}

XXFileArray &XXFileWrapper::allSubFolderFileArray()
{
    listChildrenOnce();
    return allSubFolderFileArray_;
}

void XXFileWrapper::setAllSubFileArray(XXFileArray array)
{
    listChildrenOnce();
    allSubFileArray_ = std::move(array);
}

void XXFileWrapper::setAllWithoutHiddenFileSubFileArray(XXFileArray array)
{
    listChildrenOnce();
    allWithoutHiddenFileSubFileArray_ = std::move(array);
}

void XXFileWrapper::setAllSubFolderFileArray(XXFileArray array)
{
    listChildrenOnce();
    allSubFolderFileArray_ = std::move(array);
}

void XXFileWrapper::sortFile()
{
    sortFileArray(allSubFileArray());
    sortFileArray(allSubFolderFileArray());
    sortFileArray(allWithoutHiddenFileSubFileArray());
}

void XXFileWrapper::sortFileArray(XXFileArray &array)
{
    std::array<XXFileArray, xxservice::kSortGroupCount> groups;
    XXTool &tool = XXTool::shareTool();
    for (auto &item : array) {
        const int type =
            item->isDirectory() ? XXFileTypeFolder : tool.changeFileTypeWithName(item->fileName());
        groups[xxservice::sortGroupOf(item->isDirectory(), type)].push_back(std::move(item));
    }
    array.clear();
    for (auto &group : groups) {
        std::stable_sort(group.begin(), group.end(),
                         [](const auto &a, const auto &b) { return a->fileName() < b->fileName(); });
        for (auto &item : group)
            array.push_back(std::move(item));
    }
}

std::optional<std::string> XXFileWrapper::percentDecodedBytes(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        // Both characters must be hex digits: an unsigned parse takes no sign, space or "0x".
        unsigned value = 0;
        const char *escape = text.data() + i + 1;
        const auto [end, error] = std::from_chars(escape, escape + 2, value, 16);
        if (error != std::errc() || end != escape + 2)
            return std::nullopt;
        decoded += static_cast<char>(value);
        i += 2;
    }
    if (decoded.find('\0') != std::string::npos)
        return std::nullopt;
    return decoded;
}

std::optional<std::string> XXFileWrapper::removingPercentEncoding(std::string_view text)
{
    std::optional<std::string> decoded = percentDecodedBytes(text);
    if (!decoded || !xxtool::isValidUtf8(*decoded))
        return std::nullopt;
    return decoded;
}
