// Writing all of a buffer at an offset of a POSIX descriptor, whatever
// pieces pwrite takes it in. False with errno set (EIO where nothing more
// would go).
#pragma once

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

}  // namespace kestova
