// Protected entries offered to other applications as promised files: nothing is exported
// when the user copies or cuts; each time the receiver asks for an item's file URL, the
// next entry is exported into the private paste cache folder ("CachePasteFolder") and its
// URL is the answer. A cut removes each entry once its export is complete.
//
// The pasteboard itself belongs to the window; this is the model behind one pasteboard item
// per selected entry. The model exports through an export pipeline of its own, so a paste
// never disturbs an export the screens are running.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "XXDecodePipeline.h"
#include "XXProtectFileWrapper.h"

class XXDiskFileManager;

class XXPasteProtectFileOutAppModel {
public:
    using FailedFilesBlock = std::function<void(const XXProtectFileArray &failedFiles)>;

    static const std::string fileURLType;  // "public.file-url"
    static const std::string customWriteType;  // "customWrite.to.pasteboard"
    static constexpr std::uint64_t promisedWritingOption = 512;

    explicit XXPasteProtectFileOutAppModel(XXDiskFileManager &manager);
    XXPasteProtectFileOutAppModel();  // on shareDiskFileManager()
    XXPasteProtectFileOutAppModel(const XXPasteProtectFileOutAppModel &) = delete;
    XXPasteProtectFileOutAppModel &operator=(const XXPasteProtectFileOutAppModel &) = delete;

    // Prepares a paste of files: the paste cache folder is emptied (made anew) and the lists
    // start over.
    void fullDecodeFiles(const XXProtectFileArray &files);
    // The entry the next request exports.
    void startDecodeIndex(std::int64_t index);

    std::vector<std::string> writableTypesForPasteboard() const { return {fileURLType, customWriteType}; }
    std::uint64_t writingOptionsForType(const std::string &) const { return promisedWritingOption; }

    // Exports the entry at the index (any type asks the same) and answers with its copy's
    // "file://" URL, or nothing when the export failed (a name already in the paste cache
    // included). After the last entry the copy or cut completion hears of the failed ones.
    // A later request starts again at the first entry and answers with the copies already
    // made. Blocks the calling thread for the export; requests run one at a time.
    std::optional<std::string> pasteboardPropertyListForType(const std::string &type);

    // Removes the paste cache folder and everything in it; synchronous.
    static void cleanCacheFiles();
    // "<instance folder>/CachePasteFolder" (see XXCacheInstance.h); "" when no instance
    // folder can be made.
    static std::string pasteCacheFolderPath();
    // The paste cache folder, made private to the user when missing; nullopt when it cannot be.
    static std::optional<std::string> privatePasteCacheFolder();
    // "file://" and the path with every byte outside A-Z a-z 0-9 - . _ ~ / percent-escaped.
    static std::string fileURLForPath(const std::string &path);

    bool isCut() const;
    void setIsCut(bool isCut);
    void setCopyCompleteBlock(FailedFilesBlock block);
    void setCutCompleteBlock(FailedFilesBlock block);
    XXProtectFileArray myFiles() const;
    XXProtectFileArray failedFiles() const;
    // One element per export: the copy's path, or "" for a failure.
    std::vector<std::string> cacheFiles() const;
    std::int64_t decodeIndex() const;
    std::string cacheFolderPath() const;

private:
    XXDiskFileManager &manager_;
    XXDecodePipeline exporter_;

    mutable std::mutex mutex_;  // guards everything below; held for a whole request
    bool isCut_ = false;
    FailedFilesBlock copyCompleteBlock_;
    FailedFilesBlock cutCompleteBlock_;
    XXProtectFileArray myFiles_;
    XXProtectFileArray failedFiles_;
    std::vector<std::string> cacheFiles_;
    std::vector<std::optional<std::string>> exportedPaths_;  // per entry, once asked for
    std::int64_t decodeIndex_ = 0;
    std::string cacheFolderPath_;
};
