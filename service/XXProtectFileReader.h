// Small protected files read into memory, for previews such as thumbnails: the clear bytes
// never touch the computer's disk.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

class XXDiskFileManager;
class XXProtectFileWrapper;

// Up to maxBytes of the content of a protected file, read through the engine into memory.
// nullopt when the file cannot be read (errno from the engine; EISDIR for a folder) or holds
// more than maxBytes (EFBIG). Blocking; takes the engine lock per engine call, so a large
// transfer running beside it is not held up for the whole read.
std::optional<std::string> readProtectFileContent(XXDiskFileManager &manager,
                                                  const XXProtectFileWrapper &file, std::size_t maxBytes);
