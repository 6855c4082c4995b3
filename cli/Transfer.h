// Copying file content between the computer and the vault in 2 MiB chunks.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

enum { kChunk = 2 << 20 };

// Stores the local file at storePath; the entry must not exist yet.
void copyFileIn(const std::string &localPath, const std::string &storePath, uint64_t size);
// Writes the stored file to localPath, which must not exist; a failed copy leaves nothing.
void copyFileOut(const std::string &storePath, uint64_t size, const std::string &localPath);
// Streams the stored file to a descriptor; returns the bytes written.
uint64_t streamFileOut(const std::string &storePath, uint64_t size, int fd, const std::string &label);

} // namespace cli
