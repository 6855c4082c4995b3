#include "XXProtectFileWrapper.h"

#include <algorithm>
#include <array>

#include "XXServiceLog.h"
#include "XXServiceText.h"
#include "XXTool.h"
#include "XXWrapperSortGroup.h"

XXProtectFileWrapper::~XXProtectFileWrapper()
{
    // Released level by level rather than recursively, so a deep tree cannot exhaust the
    // stack; children kept alive elsewhere lose their link to a parent that is gone.
    XXProtectFileArray pending = std::move(allSubFileArray_);
    for (auto &child : pending)
        if (child->parentWrapper_ == this)
            child->parentWrapper_ = nullptr;
    while (!pending.empty()) {
        std::shared_ptr<XXProtectFileWrapper> child = std::move(pending.back());
        pending.pop_back();
        if (child.use_count() == 1) {
            for (auto &grandchild : child->allSubFileArray_) {
                if (grandchild->parentWrapper_ == child.get())
                    grandchild->parentWrapper_ = nullptr;
                pending.push_back(std::move(grandchild));
            }
            child->allSubFileArray_.clear();
        }
    }
    XXServiceDebugLog("XXProtectFileWrapper dealloc");
}

std::shared_ptr<XXProtectFileWrapper> XXProtectFileWrapper::makeRootContainer()
{
    auto container = std::make_shared<XXProtectFileWrapper>();
    container->setIsDirectory(true);
    container->setIsRootContainerWrapper(true);

    auto root = std::make_shared<XXProtectFileWrapper>();
    root->setIsDirectory(true);
    root->setIsRootWrapper(true);
    root->setFileType(0);
    root->setIconName("main44");
    root->setCreateDateString("--");
    container->appendSubFile(std::move(root));
    return container;
}

std::shared_ptr<XXProtectFileWrapper> XXProtectFileWrapper::makeFolder(std::string parentFolderPath,
                                                                       std::string fileName,
                                                                       std::string createDateString)
{
    auto folder = std::make_shared<XXProtectFileWrapper>();
    folder->setParentFolderPath(std::move(parentFolderPath));
    folder->setFileName(std::move(fileName));
    folder->setIsDirectory(true);
    folder->setFileType(0);
    folder->setIconName("NSFolder");
    folder->setCreateDateString(std::move(createDateString));
    return folder;
}

std::shared_ptr<XXProtectFileWrapper> XXProtectFileWrapper::makeFile(std::string parentFolderPath,
                                                                     std::string fileName,
                                                                     std::uint64_t fileSize,
                                                                     std::string createDateString)
{
    auto file = std::make_shared<XXProtectFileWrapper>();
    file->setParentFolderPath(std::move(parentFolderPath));
    file->setFileType(XXTool::shareTool().changeFileTypeWithName(fileName));
    file->setFileName(std::move(fileName));
    file->setFileSize(fileSize);
    file->setCreateDateString(std::move(createDateString));
    return file;
}

std::string XXProtectFileWrapper::iconName() const
{
    return fileType_ == 0 ? iconName_ : xxservice::iconNameForFileType(fileType_);
}

XXProtectFileArray XXProtectFileWrapper::allSubFolderArray() const
{
    XXProtectFileArray folders;
    for (const auto &child : allSubFileArray_)
        if (child->isDirectory())
            folders.push_back(child);
    return folders;
}

std::string XXProtectFileWrapper::fullPath() const
{
    return xxservice::joinFullPath(parentFolderPath_, fileName_);
}

void XXProtectFileWrapper::appendSubFile(std::shared_ptr<XXProtectFileWrapper> child)
{
    child->parentWrapper_ = this;
    allSubFileArray_.push_back(std::move(child));
}

std::shared_ptr<XXProtectFileWrapper> XXProtectFileWrapper::removeSubFile(const XXProtectFileWrapper *child)
{
    auto found = std::find_if(allSubFileArray_.begin(), allSubFileArray_.end(),
                              [child](const auto &entry) { return entry.get() == child; });
    if (found == allSubFileArray_.end())
        return nullptr;
    std::shared_ptr<XXProtectFileWrapper> removed = std::move(*found);
    allSubFileArray_.erase(found);
    removed->parentWrapper_ = nullptr;
    return removed;
}

void XXProtectFileWrapper::sortFilesWithType(std::int64_t sortKey)
{
    sortFileArray(allSubFileArray_, sortKey);
}

void XXProtectFileWrapper::sortFileArray(XXProtectFileArray &array, std::int64_t sortKey)
{
    std::array<XXProtectFileArray, xxservice::kSortGroupCount> groups;
    for (auto &entry : array)
        groups[xxservice::sortGroupOf(entry->isDirectory(), entry->fileType())].push_back(std::move(entry));

    using Entry = std::shared_ptr<XXProtectFileWrapper>;
    auto before = [sortKey](const Entry &a, const Entry &b) {
        switch (sortKey) {
        case SortNameAscending:
            return a->fileName() < b->fileName();
        case SortNameDescending:
            return b->fileName() < a->fileName();
        case SortDateAscending:
            return a->createDateString() < b->createDateString();
        case SortDateDescending:
            return b->createDateString() < a->createDateString();
        case SortSizeAscending:
            return a->fileSize() < b->fileSize();
        default:
            return b->fileSize() < a->fileSize();
        }
    };
    array.clear();
    for (auto &group : groups) {
        std::stable_sort(group.begin(), group.end(), before);
        for (auto &entry : group)
            array.push_back(std::move(entry));
    }
}
