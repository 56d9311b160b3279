// The destination on POSIX systems. The kernel resolves every path, so its
// protections against planted links and files in shared directories apply
// exactly as they do to any program's open(). Names are handled relative to
// an open directory, so what was checked is what is changed.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "file_identity.h"
#include "output_file.h"
#include "pipe_signal.h"
#include "temp_name.h"

namespace kestova {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void CloseKeepingErrno(int& fd)
{
    if (fd >= 0) {
        const int saved = errno;
        close(fd);
        fd = -1;
        errno = saved;
    }
}

Status Unwritable(int error)
{
    errno = error;
    return Status::DestinationUnwritable;
}

// The descriptor a path names when it is one of the names of the process's
// own open files: /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and
// /proc/self/fd/N (or /proc/PID/fd/N with this process's id). -1 otherwise.
int DescriptorNamed(const char* path)
{
    static const char* const kStandard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    for (int fd = 0; fd < 3; ++fd) {
        if (std::strcmp(path, kStandard[fd]) == 0) {
            return fd;
        }
    }
    const char* number = nullptr;
    char own[32];
    (void)std::snprintf(own, sizeof own, "/proc/%ld/fd/", static_cast<long>(getpid()));
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/", static_cast<const char*>(own)}) {
        if (std::strncmp(path, prefix, std::strlen(prefix)) == 0) {
            number = path + std::strlen(prefix);
        }
    }
    if (number == nullptr || *number < '0' || *number > '9') {
        return -1;
    }
    char* end = nullptr;
    errno = 0;
    const long fd = std::strtol(number, &end, 10);
    return *end == '\0' && errno == 0 && fd <= 0x7FFFFFFF ? static_cast<int>(fd) : -1;
}

// Opens the directory holding the last component of `path` and copies that
// component to `name`. The path is the caller's, briefly cut at its last
// slash.
int OpenParent(char* path, char (&name)[kMaxNameBytes + 1])
{
    char* slash = std::strrchr(path, '/');
    const char* base = slash == nullptr ? path : slash + 1;
    const size_t length = std::strlen(base);
    if (length == 0) {  // "dir/": a directory, not a file
        errno = EISDIR;
        return -1;
    }
    if (length > kMaxNameBytes) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(name, base, length + 1);
    if (slash == nullptr) {
        return open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    const char kept = slash[slash == path ? 1 : 0];
    slash[slash == path ? 1 : 0] = '\0';  // "/name" keeps its root
    const int dir = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    slash[slash == path ? 1 : 0] = kept;
    return dir;
}

// Finds the directory entry that names the open file `fd` (whose status is
// `info`) through the kernel's own record of the file's path, and checks
// that the entry is still that file. For a destination reached through a
// symbolic link, this is the link's target, which is what gets replaced.
int OpenTargetParent(int fd, const struct stat& info, char (&name)[kMaxNameBytes + 1])
{
    char link[32];
    (void)std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    NativePath target;
    const ssize_t length = readlink(link, target.text, sizeof target.text - 1);
    if (length <= 0 || target.text[0] != '/') {
        return -1;  // no /proc, or a file outside this process's root
    }
    target.text[length] = '\0';
    const int dir = OpenParent(target.text, name);
    struct stat entry {};
    if (dir >= 0 && (fstatat(dir, name, &entry, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(entry, info))) {
        close(dir);
        return -1;
    }
    return dir;
}

// The directory for a staging file that cannot be beside the destination.
int OpenTempDir()
{
    const char* dir = secure_getenv("TMPDIR");
    if (dir == nullptr || *dir != '/') {
        dir = "/tmp";
    }
    return open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Creates the file the picture is written to, in `dir`: unnamed where the
// file system can (nothing is left if the process dies), else under a
// fresh hidden name.
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
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!MakeTempName(file.finalName, file.tempName, sizeof file.tempName)) {
            return false;
        }
        file.fd = openat(dir, file.tempName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (file.fd >= 0) {
            file.tempDirFd = dir;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Gives the unnamed staging file the name `name` in the destination's
// directory. Recent kernels link an open file directly; older ones through
// /proc.
bool LinkStaging(const OutputFile& file, const char* name)
{
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

// Copies the staging file's `size` bytes to `to` from offset 0.
bool CopyStaging(const OutputFile& file, int to, uint64_t size, Scratch scratch)
{
    for (uint64_t at = 0; at < size;) {
        const size_t want = size - at < scratch.size ? static_cast<size_t>(size - at) : scratch.size;
        const ssize_t got = pread(file.fd, scratch.data, want, static_cast<off_t>(at));
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got == 0) {
                errno = EIO;  // the staging file cannot have shrunk
            }
            return false;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t wrote = pwrite(to, scratch.data + put, static_cast<size_t>(got - put),
                                         static_cast<off_t>(at) + put);
            if (wrote < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            put += wrote;
        }
        at += static_cast<uint64_t>(got);
    }
    return true;
}

// Gives the finished staging file the hidden name tempName in the
// destination's directory, so that it can be renamed into place. Where the
// kernel will not link an unnamed file, its bytes and identity are copied
// to a named one.
bool NameStaging(OutputFile& file, uint64_t size, Scratch scratch)
{
    if (file.tempDirFd >= 0) {
        return true;  // created under its name
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!MakeTempName(file.finalName, file.tempName, sizeof file.tempName)) {
            return false;
        }
        if (LinkStaging(file, file.tempName)) {
            file.tempDirFd = file.dirFd;
            return true;
        }
        if (errno == EEXIST) {
            continue;
        }
        const int copy = openat(file.dirFd, file.tempName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (copy < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        file.tempDirFd = file.dirFd;  // removed if anything fails from here
        struct stat info {};
        const bool copied = fstat(file.fd, &info) == 0 && CopyStaging(file, copy, size, scratch) &&
                            CopyIdentity(file.fd, info, copy, scratch);
        CloseKeepingErrno(file.fd);
        file.fd = copy;
        return copied;
    }
    errno = EEXIST;
    return false;
}

// Writes the staged picture into the existing destination, in place: the
// way to keep a file whose identity a rename would lose.
Status Overwrite(OutputFile& file, uint64_t size, Scratch scratch)
{
    // Reserve the space first, so that a full disk is found before the old
    // content is touched. File systems that cannot reserve go on without.
    if (size > 0 && fallocate(file.destFd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
        return Status::DestinationUnwritable;
    }
    struct stat info {};
    if (!CopyStaging(file, file.destFd, size, scratch) || ftruncate(file.destFd, static_cast<off_t>(size)) != 0 ||
        fstat(file.destFd, &info) != 0) {
        return Status::DestinationUnwritable;
    }
    // A write by anyone but the owner clears setuid and setgid; so does
    // replacing the file. Root's writes do not, so clear them here too.
    if ((info.st_mode & (S_ISUID | S_ISGID)) != 0) {
        fchmod(file.destFd, info.st_mode & 01777);
    }
    return fsync(file.destFd) == 0 ? Status::Ok : Status::DestinationUnwritable;
}

// Moves the staged picture into place as a new file.
Status CommitNew(OutputFile& file, uint64_t size, Scratch scratch)
{
    if (file.tempDirFd < 0 && LinkStaging(file, file.finalName)) {
        return Status::Ok;
    }
    // Someone else made the file meanwhile, or the kernel will not link:
    // through a temporary name, renamed over whatever is there now. A named
    // file is closed first: some file systems report write errors only then.
    if (!NameStaging(file, size, scratch)) {
        return Status::DestinationUnwritable;
    }
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0 || renameat(file.dirFd, file.tempName, file.dirFd, file.finalName) != 0) {
        return Status::DestinationUnwritable;
    }
    file.tempDirFd = -1;  // renamed: nothing to remove
    return Status::Ok;
}

// Replaces the existing destination: flushed first, so that after a crash
// the name holds the old file or the new one, whole, never an empty file.
// Where the rename is refused (the directory is sticky and the file not
// ours, or the file is a mount point), the picture is written in place.
Status CommitReplace(OutputFile& file, uint64_t size, Scratch scratch)
{
    if (!NameStaging(file, size, scratch) || fsync(file.fd) != 0) {
        return Status::DestinationUnwritable;
    }
    if (renameat(file.dirFd, file.tempName, file.dirFd, file.finalName) == 0) {
        file.tempDirFd = -1;
        return Status::Ok;
    }
    if (errno != EPERM && errno != EACCES && errno != EBUSY && errno != EXDEV) {
        return Status::DestinationUnwritable;
    }
    return Overwrite(file, size, scratch);
}

// A new file at the path's name, or one that replaces whatever another
// process put there meanwhile.
Status OpenNew(NativePath& name, OutputFile& file)
{
    file.mode = OutputMode::Create;
    file.dirFd = OpenParent(name.text, file.finalName);
    return file.dirFd >= 0 && OpenStaging(file, file.dirFd, 0666) ? Status::Ok : Status::DestinationUnwritable;
}

// Stages the picture for an Overwrite: beside the destination where its
// directory allows, else in the temporary directory. Only its bytes are
// used, and it is private to the caller.
bool OpenPrivateStaging(OutputFile& file)
{
    if (file.dirFd >= 0 && OpenStaging(file, file.dirFd, 0600)) {
        return true;
    }
    const int dir = OpenTempDir();
    if (dir < 0 || !OpenStaging(file, dir, 0600)) {
        int unused = dir;
        CloseKeepingErrno(unused);
        return false;
    }
    if (file.tempDirFd != dir) {
        close(dir);  // unnamed: the directory is not needed again
    }
    return true;
}

// Decides how the existing regular file open as destFd (status `info`) is
// replaced, and creates the staging file for it.
Status OpenExisting(NativePath& name, const struct stat& info, OutputFile& file, Scratch scratch)
{
    // The rename must be in the directory that holds the file itself: the
    // path's own directory, or a link's target's.
    file.dirFd = OpenParent(name.text, file.finalName);
    if (file.dirFd < 0) {
        return Status::DestinationUnwritable;
    }
    struct stat entry {};
    const bool named = fstatat(file.dirFd, file.finalName, &entry, AT_SYMLINK_NOFOLLOW) == 0;
    if (named && S_ISLNK(entry.st_mode)) {
        close(file.dirFd);
        file.dirFd = OpenTargetParent(file.destFd, info, file.finalName);
    } else if (!named || !SameFile(entry, info) || info.st_nlink == 0) {
        // Replaced or removed by someone else since it was opened: what
        // is written now replaces whatever is there.
        CloseKeepingErrno(file.destFd);
        CloseKeepingErrno(file.dirFd);
        return OpenNew(name, file);
    }
    // Renamed over, where the new file can take on everything the old one
    // was; else written into it in place.
    bool rename = file.dirFd >= 0 && info.st_nlink == 1;  // other names would keep the old file
    if (rename && !OpenStaging(file, file.dirFd, 0600)) {
        if (errno != EACCES && errno != EPERM) {
            return Status::DestinationUnwritable;
        }
        rename = false;  // the file is writable, its directory is not
    }
    if (rename && !CopyIdentity(file.destFd, info, file.fd, scratch)) {
        rename = false;  // the staging file still serves
    }
    file.mode = rename ? OutputMode::Replace : OutputMode::Overwrite;
    if (file.mode == OutputMode::Overwrite && file.fd < 0 && !OpenPrivateStaging(file)) {
        return Status::DestinationUnwritable;
    }
    return Status::Ok;
}

// Writes straight to a pipe, a device or an open descriptor.
Status OpenStream(OutputFile& file, int fd)
{
    if (fd < 0) {
        return Status::DestinationUnwritable;
    }
    file.mode = OutputMode::Stream;
    file.fd = fd;
    BlockPipeSignal(file.pipeGuard);
    return Status::Ok;
}

}  // namespace

Status OpenOutput(const char16_t* path, OutputFile& file, Scratch scratch)
{
    NativePath name;
    if (const Status status = ToNativePath(path, name); status != Status::Ok) {
        return status;
    }
    // What the path names, as the kernel resolves it. O_PATH opens nothing:
    // no device is woken, no FIFO waited on.
    const int probe = open(name.text, O_PATH | O_CLOEXEC);
    if (probe < 0) {
        struct stat link {};
        if (errno != ENOENT) {
            return Status::DestinationUnwritable;
        }
        if (lstat(name.text, &link) == 0 && S_ISLNK(link.st_mode)) {
            return Unwritable(ENOENT);  // a link to nothing: never written through
        }
        return OpenNew(name, file);
    }
    struct stat info {};
    const int error = fstat(probe, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    close(probe);
    if (error != 0) {
        return Unwritable(error);
    }
    // A name of one of the caller's open files: written through that very
    // descriptor, at its current position, as a shell redirection would.
    const int named = DescriptorNamed(name.text);
    struct stat described {};
    if (named >= 0 && fstat(named, &described) == 0 && SameFile(described, info)) {
        return OpenStream(file, fcntl(named, F_DUPFD_CLOEXEC, 0));
    }
    // Opened with O_CREAT, as a plain program would, so that the kernel's
    // protection of files in sticky directories applies.
    if (!S_ISREG(info.st_mode)) {
        return OpenStream(file, open(name.text, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666));
    }
    file.destFd = open(name.text, O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (file.destFd < 0 || fstat(file.destFd, &info) != 0) {
        return Status::DestinationUnwritable;
    }
    if (!S_ISREG(info.st_mode)) {
        return Unwritable(EAGAIN);  // swapped for something else meanwhile
    }
    return OpenExisting(name, info, file, scratch);
}

bool WriteOutput(OutputFile& file, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(file.fd, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A descriptor the caller made non-blocking: wait until it
                // takes more.
                pollfd ready = {file.fd, POLLOUT, 0};
                if (poll(&ready, 1, -1) >= 0 || errno == EINTR) {
                    continue;
                }
            }
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

Status CommitOutput(OutputFile& file, Scratch scratch)
{
    Status status = Status::Ok;
    struct stat staged {};
    if (file.mode != OutputMode::Stream && fstat(file.fd, &staged) != 0) {
        status = Status::DestinationUnwritable;
    }
    const auto size = static_cast<uint64_t>(staged.st_size);
    if (status == Status::Ok) {
        switch (file.mode) {
        case OutputMode::Create:
            status = CommitNew(file, size, scratch);
            break;
        case OutputMode::Replace:
            status = CommitReplace(file, size, scratch);
            break;
        case OutputMode::Overwrite:
            status = Overwrite(file, size, scratch);
            break;
        case OutputMode::Stream:
            break;
        }
    }
    // Errors a file system reports only at close count too.
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0 && status == Status::Ok && file.mode == OutputMode::Stream) {
        status = Status::DestinationUnwritable;
    }
    DiscardOutput(file);
    return status;
}

void DiscardOutput(OutputFile& file)
{
    const int saved = errno;
    if (file.tempDirFd >= 0) {
        unlinkat(file.tempDirFd, file.tempName, 0);
    }
    if (file.tempDirFd != file.dirFd) {
        CloseKeepingErrno(file.tempDirFd);
    }
    CloseKeepingErrno(file.fd);
    CloseKeepingErrno(file.destFd);
    CloseKeepingErrno(file.dirFd);
    file.tempDirFd = -1;
    RestorePipeSignal(file.pipeGuard);
    errno = saved;
}

}  // namespace kestova
