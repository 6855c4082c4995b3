// The file-system steps of backup and restore: chunked copies that reach the disk, and the
// swap of a whole folder so that the old one stays complete until the new one is in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace xxbackup {

// Bounds the memory of a copy whatever the file's size, and sets how often progress shows.
constexpr std::size_t kCopyChunkSize = 3145728;

enum class FileCopyOutcome { copied, cancelled, failed };

// Copies the regular file source (a symbolic link is refused, not followed) to a new file
// destination, one read of up to buffer.size() bytes at a time. afterChunk(bytes) runs after
// every read, with the bytes read and written (0 for the read that finds the end), and
// returns false to stop with cancelled. The new file is on the disk before copied is
// returned; after failed or cancelled it may be left partial for the caller to remove.
// Failures are logged, and their errno goes to *systemError when it is given (EINVAL for a
// source that is not a regular file).
FileCopyOutcome copyFileInChunks(const std::string &source, const std::string &destination,
                                 std::vector<char> &buffer,
                                 const std::function<bool(std::uint64_t)> &afterChunk,
                                 int *systemError = nullptr);

// Flushes a folder, so that the names just created in it survive a power cut. On false,
// *systemError (when given) is the errno.
bool flushFolder(const std::string &path, int *systemError = nullptr);

// Puts the complete folder replacement in place of target (both on one file system). Where
// the file system can exchange two names in one step it does so; otherwise (or when
// tryExchange is false) target is first renamed to aside and put back should the second
// rename fail, so no failure leaves target missing. Returns where the previous target now
// lies, for the caller to remove ("" when there was none); nullopt on failure, with target
// as it was and replacement still in its place, and *systemError (when given) the errno of
// the rename that failed.
std::optional<std::string> replaceFolder(const std::string &replacement, const std::string &target,
                                         const std::string &aside, bool tryExchange = true,
                                         int *systemError = nullptr);

// Where a restore puts the previous store while it swaps in the restored one, beside it.
constexpr const char *kStoreAsideSuffix = ".replaced";

// A restore cut short between its two renames leaves no store but the previous one aside:
// puts it back. True when it did.
bool putBackStoreLeftAside(const std::string &store);

}  // namespace xxbackup
