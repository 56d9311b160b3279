#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "file_identity.h"
#include "staging_file.h"
#include "temp_name.h"
#include "write_at_posix.h"

namespace kestova {
namespace {

constexpr int kNameAttempts = 16;

// A new hidden name in file.dirFd for a file that is created with it.
int CreateNamed(OutputFile& file, int dir, mode_t mode)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!MakeTempName(file.finalName, file.tempName, sizeof file.tempName)) {
            return -1;
        }
        const int fd = openat(dir, file.tempName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

bool OpenStaging(OutputFile& file, int dir, mode_t mode)
{
    file.fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (file.fd >= 0) {
        return true;
    }
    // EISDIR and EINVAL from kernels without O_TMPFILE, EOPNOTSUPP from
    // file systems without it.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;
    }
    file.fd = CreateNamed(file, dir, mode);
    if (file.fd < 0) {
        return false;
    }
    file.tempDirFd = dir;
    file.tempNamed = true;
    return true;
}

bool LinkStaging(const OutputFile& file, const char* name)
{
    // Recent kernels link an open file directly; older ones through /proc.
    if (linkat(file.fd, "", file.dirFd, name, AT_EMPTY_PATH) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    char link[32];
    (void)std::snprintf(link, sizeof link, "/proc/self/fd/%d", file.fd);
    return linkat(AT_FDCWD, link, file.dirFd, name, AT_SYMLINK_FOLLOW) == 0;
}

bool NameStaging(OutputFile& file, uint64_t size, Scratch scratch, bool& copied)
{
    copied = false;
    if (file.tempNamed) {
        return true;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!MakeTempName(file.finalName, file.tempName, sizeof file.tempName)) {
            return false;
        }
        if (LinkStaging(file, file.tempName)) {
            file.tempDirFd = file.dirFd;
            file.tempNamed = true;
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    // The kernel will not link it: a named copy takes its place.
    const int copy = CreateNamed(file, file.dirFd, 0600);
    if (copy < 0) {
        return false;
    }
    file.tempDirFd = file.dirFd;
    file.tempNamed = true;  // removed if anything fails from here
    struct stat info {};
    const bool done = fstat(file.fd, &info) == 0 && CopyStaging(file, copy, 0, size, scratch) &&
                      CopyIdentity(file.fd, info, copy, scratch);
    const int error = errno;
    close(file.fd);
    file.fd = copy;
    copied = true;
    errno = error;
    return done;
}

bool RenameStagingIfFree(OutputFile& file)
{
    if (renameat2(file.tempDirFd, file.tempName, file.dirFd, file.finalName, RENAME_NOREPLACE) == 0) {
        file.tempNamed = false;
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // Without RENAME_NOREPLACE: a hard link fails on a taken name just as
    // surely, and the temporary name goes after it.
    if (linkat(file.tempDirFd, file.tempName, file.dirFd, file.finalName, 0) == 0) {
        unlinkat(file.tempDirFd, file.tempName, 0);
        file.tempNamed = false;
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) {
        return false;
    }
    // A file system with neither: the plain rename, which cannot tell.
    if (renameat(file.tempDirFd, file.tempName, file.dirFd, file.finalName) == 0) {
        file.tempNamed = false;
        return true;
    }
    return false;
}

bool CopyStaging(const OutputFile& file, int to, uint64_t from, uint64_t end, Scratch scratch)
{
    return ForEachStagedPiece(file, from, end, scratch, [to](const uint8_t* data, size_t length, uint64_t at) {
        return WriteAllAt(to, data, length, at);
    });
}

}  // namespace kestova
