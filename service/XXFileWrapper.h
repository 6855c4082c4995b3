// The model of one file or folder on the computer, with a folder's children listed once, on
// first use.
//
// The item named by the caller is read following symbolic links; its children are read
// without following them, so a link never makes a folder contain itself. Models take no
// locks: list the children on one thread before sharing a model.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class XXFileWrapper;
using XXFileArray = std::vector<std::shared_ptr<XXFileWrapper>>;

// What the file system says about an item when the model was made.
struct XXFileAttributes {
    std::filesystem::file_type type = std::filesystem::file_type::none;
    std::uint64_t fileSize = 0;  // bytes, as stat reports them
    std::int64_t creationDate = 0;  // seconds since 1970; the modification time where
        // the file system keeps no birth time
    std::int64_t modificationDate = 0;  // seconds since 1970
    mode_t permissions = 0;  // the permission bits (07777)
    uid_t ownerID = 0;
    gid_t groupID = 0;
};

class XXFileWrapper {
public:
    // Every field empty; the transfers fill them in.
    XXFileWrapper() = default;
    // The model of the item at a path or a "file://" URL. A path the file system does not
    // know is tried once more with its percent escapes decoded (as UTF-8); when that works
    // the decoded path is the item's path. An item that cannot be read keeps its name and
    // parent folder path but has no attributes, no folder flag and no children.
    explicit XXFileWrapper(std::string_view pathOrFileURL);
    static std::shared_ptr<XXFileWrapper> initWithURL(std::string_view pathOrFileURL)
    {
        return std::make_shared<XXFileWrapper>(pathOrFileURL);
    }

    XXFileWrapper(const XXFileWrapper &) = delete;
    XXFileWrapper &operator=(const XXFileWrapper &) = delete;

    bool isDirectory() const { return isDirectory_; }
    void setIsDirectory(bool value) { isDirectory_ = value; }
    // Filled in by callers that need it (the backup list); not computed here.
    std::uint64_t folderSize() const { return folderSize_; }
    void setFolderSize(std::uint64_t size) { folderSize_ = size; }
    const std::string &fileName() const { return fileName_; }
    void setFileName(std::string name) { fileName_ = std::move(name); }
    const std::string &parentFolderPath() const { return parentFolderPath_; }
    void setParentFolderPath(std::string path) { parentFolderPath_ = std::move(path); }
    // parentFolderPath, "/", fileName; joined directly when the parent path ends in "/",
    // and the name alone when there is no parent path ("/" for the file system's root).
    std::string fullPath() const;

    // "NSFolder" for folders, the file-type icons "main45" to "main50" for files; the
    // application maps them to images.
    const std::string &iconName() const { return iconName_; }
    void setIconName(std::string name) { iconName_ = std::move(name); }

    const std::optional<XXFileAttributes> &fileAttributes() const { return fileAttributes_; }
    void setFileAttributes(std::optional<XXFileAttributes> attributes)
    {
        fileAttributes_ = std::move(attributes);
    }
    // The file the model lists children from; empty for a model made by the plain
    // initializer until a caller sets it.
    const std::string &systemPath() const { return systemPath_; }
    void setSystemPath(std::string path) { systemPath_ = std::move(path); }

    // Children, listed from the file system at the first call of any of the three and kept
    // from then on (the export adds the items it writes itself). Names beginning with "."
    // are hidden.
    XXFileArray &allSubFileArray();
    XXFileArray &allWithoutHiddenFileSubFileArray();
    XXFileArray &allSubFolderFileArray();  // folders among the non-hidden children
    // Setting one array lists the others first, so it is not replaced by a later listing.
    void setAllSubFileArray(XXFileArray array);
    void setAllWithoutHiddenFileSubFileArray(XXFileArray array);
    void setAllSubFolderFileArray(XXFileArray array);

    // Sorts the three child arrays with sortFileArray.
    void sortFile();
    // Folders first, then video, music, text, picture, archive, other (by the file-type rule
    // on the name); each group by name, byte by byte, case-sensitive.
    static void sortFileArray(XXFileArray &array);

    // text with every "%HH" replaced by its byte; nullopt when an escape is malformed, the
    // result is not valid UTF-8 or it holds a NUL byte.
    static std::optional<std::string> removingPercentEncoding(std::string_view text);
    // text with every "%HH" replaced by its byte, whatever the bytes make; nullopt when an
    // escape is malformed or the result holds a NUL byte.
    static std::optional<std::string> percentDecodedBytes(std::string_view text);

private:
    void listChildrenOnce();

    bool isDirectory_ = false;
    std::uint64_t folderSize_ = 0;
    std::string fileName_;
    std::string parentFolderPath_;
    std::string iconName_;
    XXFileArray allSubFileArray_;
    XXFileArray allWithoutHiddenFileSubFileArray_;
    XXFileArray allSubFolderFileArray_;
    bool childrenListed_ = false;
    std::optional<XXFileAttributes> fileAttributes_;
    std::string systemPath_;
};
