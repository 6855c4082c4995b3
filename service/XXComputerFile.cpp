#include "XXComputerFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace xxtransfer {

int XXFileDescriptor::close()
{
    if (fd_ < 0)
        return 0;
    const int result = ::close(fd_);
    fd_ = -1;
    // Linux releases the descriptor even when close reports EINTR.
    return result == 0 || errno == EINTR ? 0 : -1;
}

ssize_t readFully(int fd, void *buffer, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, static_cast<char *>(buffer) + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

namespace {

// All length bytes, at offset (pwrite) or where the file stands (offset negative).
bool writeAll(int fd, const void *bytes, size_t length, std::int64_t offset)
{
    size_t done = 0;
    while (done < length) {
        const char *from = static_cast<const char *>(bytes) + done;
        const ssize_t n = offset < 0 ? ::write(fd, from, length - done)
                                     : ::pwrite(fd, from, length - done, static_cast<off_t>(offset) + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool writeFully(int fd, const void *bytes, size_t length)
{
    return writeAll(fd, bytes, length, -1);
}

bool writeFullyAt(int fd, const void *bytes, size_t length, std::uint64_t offset)
{
    return writeAll(fd, bytes, length, static_cast<std::int64_t>(offset));
}

int createNewFile(const std::string &path, mode_t mode)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool setModificationTime(const std::string &path, const std::string &storedDate)
{
    std::tm fields{};
    int consumed = 0;
    if (std::sscanf(storedDate.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
                    &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &consumed) != 6 ||
        consumed != static_cast<int>(storedDate.size()))
        return false;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {timegm(&fields), 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool pathExists(const std::string &path)
{
    struct stat st {};
    // A name too long to exist is free (making it will fail on its own); a folder that cannot
    // be searched is taken to hold it, so nothing is written there blindly.
    return ::lstat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENAMETOOLONG);
}

}  // namespace xxtransfer
