#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/scratch_file.h"
#include "platform/temp_name.h"
#include "platform/write_at_posix.h"

namespace kestova {

Status OpenScratchFile(SourceFile& file)
{
    const char* folder = secure_getenv("TMPDIR");
    if (folder == nullptr || *folder != '/') {
        folder = "/tmp";
    }
    const int dir = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return Status::DestinationUnwritable;
    }
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
    const int error = errno;
    close(dir);
    if (fd < 0) {
        errno = error;
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
        return Status::DestinationUnwritable;
    }
    file.size = end > file.size ? end : file.size;
    return Status::Ok;
}

}  // namespace kestova
