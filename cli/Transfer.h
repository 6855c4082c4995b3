// Streaming a stored file out in 2 MiB chunks (cat); put and get run through the service's
// pipelines (CommandsTransfer.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace cli {

enum { kChunk = 2 << 20 };

// Streams the stored file to a descriptor; returns the bytes written.
uint64_t streamFileOut(const std::string &storePath, uint64_t size, int fd, const std::string &label);

}  // namespace cli
