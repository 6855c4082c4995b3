// Plain POSIX file access for the transfers: descriptors that close themselves, and reads
// and writes that go on through short counts and interruptions.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace xxtransfer {

class XXFileDescriptor {
public:
    explicit XXFileDescriptor(int fd = -1) : fd_(fd) {}
    ~XXFileDescriptor() { close(); }
    XXFileDescriptor(const XXFileDescriptor &) = delete;
    XXFileDescriptor &operator=(const XXFileDescriptor &) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // 0, or -1 with errno when the system reports a failure on closing (data not written).
    int close();

private:
    int fd_;
};

// Up to length bytes; fewer only at the end of the file. -1 on an error.
ssize_t readFully(int fd, void *buffer, size_t length);
// All length bytes, or false with errno set.
bool writeFully(int fd, const void *bytes, size_t length);
// The same at offset (pwrite), leaving the file's position alone.
bool writeFullyAt(int fd, const void *bytes, size_t length, std::uint64_t offset);

// A new file at path for writing, never replacing anything there and never following a
// link: -1 with EEXIST when the name is taken.
int createNewFile(const std::string &path, mode_t mode);

// Gives the file at path the modification time of a stored entry, its date text
// ("yyyy-MM-dd HH:mm:ss", UTC, as the tree shows it); false when the text is no such date or
// the time cannot be set. Links are not followed.
bool setModificationTime(const std::string &path, const std::string &storedDate);

// Whether anything (a link included) has that name.
bool pathExists(const std::string &path);

}  // namespace xxtransfer
