// Writing all of a buffer at an offset of a POSIX descriptor, whatever
// pieces pwrite takes it in, and taking room for it first. False with
// errno set (EIO where nothing more would go).
#pragma once

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace kestova {

inline bool WriteAllAt(int fd, const uint8_t* data, size_t size, uint64_t offset)
{
    while (size > 0) {
        const ssize_t put = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            if (put == 0) {
                errno = EIO;
            }
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
        offset += static_cast<uint64_t>(put);
    }
    return true;
}

// Takes room for the first `size` bytes of a file about to be written:
// reserved where the file system can (the file's length stays), else
// judged from the free space of its file system, which others may still
// take meanwhile. False with errno set (ENOSPC where there is too little).
inline bool TakeRoom(int fd, uint64_t size)
{
    if (size == 0 || fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) {
        return true;
    }
    if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
        return false;
    }
    struct statvfs disk {};
    if (fstatvfs(fd, &disk) != 0 || disk.f_frsize == 0) {
        return true;  // nothing known: the writes will tell
    }
    // The blocks ext2, ext3 and ext4 keep back for root are root's to use.
    const uint64_t blocks = geteuid() == 0 ? disk.f_bfree : disk.f_bavail;
    if (blocks >= size / disk.f_frsize + 1) {
        return true;
    }
    errno = ENOSPC;
    return false;
}

}  // namespace kestova
