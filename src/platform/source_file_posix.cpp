#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "native_path.h"
#include "source_file.h"

namespace kestova {

Status OpenSource(const char16_t* path, SourceFile& file)
{
    NativePath name;
    if (const Status status = ToNativePath(path, name); status != Status::Ok) {
        return status;
    }
    const int fd = open(name.text, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Status::SourceUnreadable;
    }
    struct stat info {};
    int error = 0;
    if (fstat(fd, &info) != 0) {
        error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        error = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        error = ESPIPE;
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return Status::SourceUnreadable;
    }
    file.fd = fd;
    file.size = static_cast<uint64_t>(info.st_size);
    return Status::Ok;
}

Status ReadSource(SourceFile& file, uint64_t offset, uint8_t* buffer, size_t size)
{
    while (size > 0) {
        const ssize_t got = pread(file.fd, buffer, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Status::SourceUnreadable;
        }
        if (got == 0) {
            return Status::NotSupported;
        }
        buffer += got;
        size -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return Status::Ok;
}

void CloseSource(SourceFile& file)
{
    if (file.fd >= 0) {
        const int saved = errno;
        close(file.fd);
        file.fd = -1;
        errno = saved;
    }
}

}  // namespace kestova
