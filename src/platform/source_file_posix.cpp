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
    // Only a regular file is opened: stat finds out what the path names
    // without opening it, so no device is woken and no FIFO waited on, and
    // O_NONBLOCK keeps a FIFO swapped in meanwhile from blocking the open;
    // the open file is looked at again below.
    int error = 0;
    struct stat info {};
    if (stat(name.text, &info) != 0) {
        return Status::SourceUnreadable;
    }
    int fd = -1;
    if (error == 0 && S_ISREG(info.st_mode)) {
        fd = open(name.text, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return Status::SourceUnreadable;
        }
        if (fstat(fd, &info) != 0) {
            error = errno;
        }
    }
    if (error == 0 && S_ISDIR(info.st_mode)) {
        error = EISDIR;
    } else if (error == 0 && !S_ISREG(info.st_mode)) {
        error = ESPIPE;  // a pipe, socket or device: no size, no reading out of order
    }
    if (error != 0) {
        if (fd >= 0) {
            close(fd);
        }
        errno = error;
        return Status::SourceUnreadable;
    }
    file.fd = fd;
    file.size = static_cast<uint64_t>(info.st_size);
    return Status::Ok;
}

Status ReadSource(SourceFile& file, uint64_t offset, uint8_t* buffer, size_t size)
{
    if (file.memory != nullptr) {
        return ReadMemorySource(file, offset, buffer, size);
    }
    if (ReadFromHead(file, offset, buffer, size)) {
        return Status::Ok;
    }
    while (size > 0) {
        const ssize_t got = pread(file.fd, buffer, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Status::SourceUnreadable;
        }
        if (got == 0) {
            return Refuse(file, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, offset + size);
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
