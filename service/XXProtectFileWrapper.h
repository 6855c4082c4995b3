// One entry of the in-memory tree of the protected area.
//
// Parents own their children (shared, so a selection or a transfer can keep an entry alive
// after it left the tree); the parent link is a plain non-owning pointer that a parent
// clears in its children when it goes away. The tree takes no locks: the screens and the
// transfers agree on who changes it when.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class XXProtectFileWrapper;
using XXProtectFileArray = std::vector<std::shared_ptr<XXProtectFileWrapper>>;

class XXProtectFileWrapper {
public:
    // Sort keys of sortFileArray.
    enum SortKey : std::int64_t {
        SortNameAscending = 0,
        SortNameDescending = 1,
        SortDateAscending = 2,
        SortDateDescending = 3,
        SortSizeAscending = 4,
        SortSizeDescending = 5,  // and every larger value
    };

    // Every field zero, empty or absent.
    XXProtectFileWrapper() = default;
    ~XXProtectFileWrapper();
    XXProtectFileWrapper(const XXProtectFileWrapper &) = delete;
    XXProtectFileWrapper &operator=(const XXProtectFileWrapper &) = delete;

    // The root container (name "", parent path "", a folder) holding the root entry (name "",
    // parent path "", icon "main44", date "--"), whose children are the store's top level.
    static std::shared_ptr<XXProtectFileWrapper> makeRootContainer();
    // A new folder entry as the transfers make them: type 0, icon "NSFolder", no children,
    // date text given by the caller. Its parent is not set.
    static std::shared_ptr<XXProtectFileWrapper>
    makeFolder(std::string parentFolderPath, std::string fileName, std::string createDateString);
    // A new file entry: type from the name's extension, the size and date text given. Its
    // parent is not set.
    static std::shared_ptr<XXProtectFileWrapper> makeFile(std::string parentFolderPath, std::string fileName,
                                                          std::uint64_t fileSize,
                                                          std::string createDateString);

    bool isDirectory() const { return isDirectory_; }
    void setIsDirectory(bool value) { isDirectory_ = value; }
    bool isRootWrapper() const { return isRootWrapper_; }
    void setIsRootWrapper(bool value) { isRootWrapper_ = value; }
    bool isRootContainerWrapper() const { return isRootContainerWrapper_; }
    void setIsRootContainerWrapper(bool value) { isRootContainerWrapper_ = value; }

    // Full path of the folder that holds the entry; "" when never set.
    const std::string &parentFolderPath() const { return parentFolderPath_; }
    void setParentFolderPath(std::string path) { parentFolderPath_ = std::move(path); }
    // The folder entry that holds this one; not owned.
    XXProtectFileWrapper *parentWrapper() const { return parentWrapper_; }
    void setParentWrapper(XXProtectFileWrapper *parent) { parentWrapper_ = parent; }

    const std::string &fileName() const { return fileName_; }
    void setFileName(std::string name) { fileName_ = std::move(name); }

    // Type 0 gives the stored icon name; files get a fixed one by type.
    std::string iconName() const;
    void setIconName(std::string name) { iconName_ = std::move(name); }

    // 0 folder, 1 music, 2 picture, 3 archive, 4 text, 5 video, 6 other.
    std::int64_t fileType() const { return fileType_; }
    void setFileType(std::int64_t type) { fileType_ = type; }
    // Bytes; 0 for folders.
    std::uint64_t fileSize() const { return fileSize_; }
    void setFileSize(std::uint64_t size) { fileSize_ = size; }
    // "yyyy-MM-dd HH:mm:ss"; "--" for the root entry.
    const std::string &createDateString() const { return createDateString_; }
    void setCreateDateString(std::string text) { createDateString_ = std::move(text); }

    // The children in display order; empty on a file. Changing the array directly is allowed;
    // appendSubFile and removeSubFile keep the parent links right.
    XXProtectFileArray &allSubFileArray() { return allSubFileArray_; }
    const XXProtectFileArray &allSubFileArray() const { return allSubFileArray_; }
    void setAllSubFileArray(XXProtectFileArray children) { allSubFileArray_ = std::move(children); }
    // A new array of the children that are folders, in child order.
    XXProtectFileArray allSubFolderArray() const;

    // The object id (raw bytes) the store's listing gave this folder; empty for entries made
    // in this session. Walks list a folder by it instead of resolving its path again, and
    // tell by it a folder that contains itself.
    const std::string &storeId() const { return storeId_; }
    void setStoreId(std::string id) { storeId_ = std::move(id); }

    // A file whose write never finished, as the store's listing marks it: its content may
    // not read back whole. Only reading it tells for sure.
    bool isUnfinished() const { return isUnfinished_; }
    void setIsUnfinished(bool value) { isUnfinished_ = value; }

    // Depth set by the separation pass; stale except right after one.
    std::int64_t folderLevel() const { return folderLevel_; }
    void setFolderLevel(std::int64_t level) { folderLevel_ = level; }

    // parentFolderPath, "/", fileName; joined directly when the parent path is "/". The root
    // entry's full path is "/".
    std::string fullPath() const;

    // Appends child to the children and makes this its parent (the parent path is the
    // caller's to set).
    void appendSubFile(std::shared_ptr<XXProtectFileWrapper> child);
    // Takes child out of the children and clears its parent; nullptr when it is not here.
    std::shared_ptr<XXProtectFileWrapper> removeSubFile(const XXProtectFileWrapper *child);

    // Sorts this entry's own children; sortFileArray with allSubFileArray.
    void sortFilesWithType(std::int64_t sortKey);
    // Folders first, then video, music, text, picture, archive, other; each group in sortKey's
    // order (SortKey), keeping the relative order of equal entries. Names and date texts
    // compare literally (byte by byte, case-sensitive); sizes compare as numbers.
    static void sortFileArray(XXProtectFileArray &array, std::int64_t sortKey);

private:
    bool isDirectory_ = false;
    bool isRootWrapper_ = false;
    bool isRootContainerWrapper_ = false;
    std::string parentFolderPath_;
    XXProtectFileWrapper *parentWrapper_ = nullptr;
    std::string fileName_;
    std::string iconName_;
    std::int64_t fileType_ = 0;
    std::uint64_t fileSize_ = 0;
    std::string createDateString_;
    XXProtectFileArray allSubFileArray_;
    std::int64_t folderLevel_ = 0;
    std::string storeId_;
    bool isUnfinished_ = false;
};
