#include "temp_name.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kestova {
namespace {

bool RandomBytes(void* buffer, size_t size)
{
    // getrandom() without waiting; /dev/urandom where the call is missing
    // (old kernels, some sandboxes).
    const ssize_t got = getrandom(buffer, size, GRND_NONBLOCK);
    if (got == static_cast<ssize_t>(size)) {
        return true;
    }
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    const ssize_t read = ::read(fd, buffer, size);
    const int error = errno;
    close(fd);
    errno = error;
    return read == static_cast<ssize_t>(size);
}

// The longest prefix of `name` of at most `limit` bytes that does not end
// inside a UTF-8 sequence: continuation bytes are 10xxxxxx.
size_t CutAtCharacter(const char* name, size_t limit)
{
    size_t length = strnlen(name, limit + 1);
    if (length <= limit) {
        return length;
    }
    length = limit;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
        --length;
    }
    return length;
}

}  // namespace

bool MakeTempName(const char* finalName, char* out, size_t outSize)
{
    uint64_t random = 0;
    if (!RandomBytes(&random, sizeof random)) {
        return false;
    }
    const size_t baseLength = CutAtCharacter(finalName, kMaxTempBaseBytes);
    const int length = std::snprintf(out, outSize, ".%.*s.%016llx.tmp", static_cast<int>(baseLength), finalName,
                                     static_cast<unsigned long long>(random));
    if (length < 0 || static_cast<size_t>(length) >= outSize) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

}  // namespace kestova
