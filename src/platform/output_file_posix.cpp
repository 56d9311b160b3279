#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "output_file.h"

namespace kestova {
namespace {

constexpr int kMaxLinkDepth = 40;          // as the kernel's own limit (ELOOP)
constexpr size_t kMaxTempNameBase = 200;   // keeps ".name.XXXXXXXX.tmp" under NAME_MAX

// Replaces a path that names a symbolic link with the link's target, until
// it names something that is not a link, whose status it gives, or nothing
// at all (`exists` false).
bool FollowLinks(NativePath& path, struct stat& info, bool& exists)
{
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        if (lstat(path.text, &info) != 0) {
            exists = false;
            return errno == ENOENT;  // a missing file is created later
        }
        if (!S_ISLNK(info.st_mode)) {
            exists = true;
            return true;
        }
        char target[kMaxNativePath];
        const ssize_t length = readlink(path.text, target, sizeof target);
        if (length < 0) {
            return false;
        }
        if (static_cast<size_t>(length) >= sizeof target) {
            errno = ENAMETOOLONG;
            return false;
        }
        target[length] = '\0';
        if (target[0] == '/') {
            std::memcpy(path.text, target, static_cast<size_t>(length) + 1);
            continue;
        }
        // A relative target is relative to the directory holding the link.
        const char* slash = std::strrchr(path.text, '/');
        const size_t dirLength = slash == nullptr ? 0 : static_cast<size_t>(slash - path.text) + 1;
        if (dirLength + static_cast<size_t>(length) + 1 > kMaxNativePath) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(path.text + dirLength, target, static_cast<size_t>(length) + 1);
    }
    errno = ELOOP;
    return false;
}

// Creates a new, empty file beside finalPath with a name no one else uses,
// readable and writable as a plain create would make it (0666 less umask).
int CreateTempBeside(const NativePath& finalPath, NativePath& tempPath)
{
    const char* slash = std::strrchr(finalPath.text, '/');
    const size_t dirLength = slash == nullptr ? 0 : static_cast<size_t>(slash - finalPath.text) + 1;
    const char* base = finalPath.text + dirLength;
    const size_t baseLength = std::min(std::strlen(base), kMaxTempNameBase);

    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint32_t seed = static_cast<uint32_t>(now.tv_nsec) ^ (static_cast<uint32_t>(getpid()) << 16) ^
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&tempPath));
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 1664525u + 1013904223u;
        const int length = std::snprintf(tempPath.text, sizeof tempPath.text, "%.*s.%.*s.%08x.tmp",
                                         static_cast<int>(dirLength), finalPath.text,
                                         static_cast<int>(baseLength), base, static_cast<unsigned>(seed));
        if (length < 0 || static_cast<size_t>(length) >= sizeof tempPath.text) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const int fd = open(tempPath.text, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

Status OpenOutput(const char16_t* path, OutputFile& file)
{
    if (const Status status = ToNativePath(path, file.finalPath); status != Status::Ok) {
        return status;
    }
    struct stat existing {};
    bool exists = false;
    if (!FollowLinks(file.finalPath, existing, exists)) {
        return Status::DestinationUnwritable;
    }
    if (exists && S_ISDIR(existing.st_mode)) {
        errno = EISDIR;
        return Status::DestinationUnwritable;
    }
    // A file its owner made read-only stays protected, as a plain open for
    // writing would find it, even though the directory allows a rename.
    if (exists && faccessat(AT_FDCWD, file.finalPath.text, W_OK, AT_EACCESS) != 0) {
        return Status::DestinationUnwritable;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        file.fd = open(file.finalPath.text, O_WRONLY | O_CLOEXEC);
        file.inPlace = true;
        return file.fd >= 0 ? Status::Ok : Status::DestinationUnwritable;
    }

    file.fd = CreateTempBeside(file.finalPath, file.tempPath);
    if (file.fd < 0) {
        return Status::DestinationUnwritable;
    }
    if (exists && fchmod(file.fd, existing.st_mode & 07777) != 0) {
        DiscardOutput(file);
        return Status::DestinationUnwritable;
    }
    return Status::Ok;
}

bool WriteOutput(OutputFile& file, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(file.fd, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

Status CommitOutput(OutputFile& file)
{
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0) {
        const int saved = errno;
        if (!file.inPlace) {
            unlink(file.tempPath.text);
        }
        errno = saved;
        return Status::DestinationUnwritable;
    }
    if (file.inPlace) {
        return Status::Ok;
    }
    if (std::rename(file.tempPath.text, file.finalPath.text) != 0) {
        const int saved = errno;
        unlink(file.tempPath.text);
        errno = saved;
        return Status::DestinationUnwritable;
    }
    return Status::Ok;
}

void DiscardOutput(OutputFile& file)
{
    const int saved = errno;
    if (file.fd >= 0) {
        close(file.fd);
        file.fd = -1;
        if (!file.inPlace) {
            unlink(file.tempPath.text);
        }
    }
    errno = saved;
}

}  // namespace kestova
