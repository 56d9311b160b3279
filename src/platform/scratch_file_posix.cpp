#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/scratch_file.h"
#include "platform/temp_name.h"
#include "platform/write_at_posix.h"

namespace kestova {
namespace {

// A private file in `dir` with room for `size` bytes (TakeRoom), or -1
// with errno set.
int OpenIn(int dir, uint64_t size)
{
    int fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    // Where the file system has no unnamed files: a fresh name, let go of
    // at once.
    for (int attempt = 0; fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == EEXIST) &&
                          attempt < 16;
         ++attempt) {
        char name[256];
        if (!MakeTempName("kestovatiff-planes", name, sizeof name)) {
            break;
        }
        fd = openat(dir, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            unlinkat(dir, name, 0);
        }
    }
    if (fd >= 0 && !TakeRoom(fd, size)) {
        close(fd);  // a full folder: the next one may have room
        return -1;
    }
    return fd;
}

int OpenInFolder(const char* folder, uint64_t size)
{
    const int dir = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return -1;
    }
    const int fd = OpenIn(dir, size);
    close(dir);
    return fd;
}

}  // namespace

Status OpenScratchFile(SourceFile& file, uint64_t size, const OutputFile& destination)
{
    const char* tmpdir = secure_getenv("TMPDIR");
    int fd = tmpdir != nullptr && *tmpdir == '/' ? OpenInFolder(tmpdir, size) : -1;
    if (fd < 0) {
        fd = OpenInFolder("/tmp", size);
    }
    if (fd < 0 && destination.dirFd >= 0) {
        fd = OpenIn(destination.dirFd, size);
    }
    if (fd < 0) {
        errno = kNoScratchSpace;
        return Status::DestinationUnwritable;
    }
    file.fd = fd;
    file.size = 0;
    return Status::Ok;
}

Status WriteScratchFile(SourceFile& file, uint64_t offset, const uint8_t* data, size_t size)
{
    const uint64_t end = offset + size;
    if (!WriteAllAt(file.fd, data, size, offset)) {
        // Full since it was chosen. A file-size limit (EFBIG) is the
        // caller's, as for any other file the call writes.
        if (errno == ENOSPC || errno == EDQUOT) {
            errno = kNoScratchSpace;
        }
        return Status::DestinationUnwritable;
    }
    file.size = end > file.size ? end : file.size;
    return Status::Ok;
}

}  // namespace kestova
