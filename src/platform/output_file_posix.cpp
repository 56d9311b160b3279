// The destination on POSIX systems. The kernel resolves every path, so its
// protections against planted links and files in shared directories apply
// exactly as they do to any program's open(). Names are then handled
// relative to an open directory, and each file is checked to be the one
// that was looked at, so what was checked is what is changed.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "destination_path.h"
#include "file_identity.h"
#include "output_file.h"
#include "pipe_signal.h"
#include "scratch_file.h"
#include "staging_file.h"
#include "write_at_posix.h"

namespace kestova {
namespace {

// How often a call looks again when other processes change the
// destination's name between two looks at it (writers of one name race).
constexpr int kAttempts = 16;

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

// Writes all of `data` at the descriptor's position. A descriptor the
// caller made non-blocking is waited on until it takes more.
bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd ready = {fd, POLLOUT, 0};
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

// Copies the staging file's `size` bytes to the stream destFd, in order.
bool CopyStagingToStream(const OutputFile& file, uint64_t size, Scratch scratch)
{
    return ForEachStagedPiece(file, 0, size, scratch, [&file](const uint8_t* data, size_t length, uint64_t) {
        return WriteAll(file.destFd, data, length);
    });
}

// Closes a directory the call opened; the caller's folder stays open.
void CloseDirectory(const OutputFile& file, int& fd)
{
    if (fd != file.folderFd) {
        CloseKeepingErrno(fd);
    }
    fd = -1;
}

// A descriptor closed at the end of its scope, errno kept.
struct ScopedFd {
    int fd = -1;
    ~ScopedFd() { CloseKeepingErrno(fd); }
};

// What a name leads to, as the kernel resolves it. The O_PATH descriptor
// opens nothing (no device is woken, no FIFO waited on); held open, it
// keeps the file's identity from being given to another file meanwhile.
enum class Found { Error, Nothing, DanglingLink, Something };

Found Probe(int dir, const char* name, ScopedFd& probe, struct stat& info)
{
    probe.fd = openat(dir, name, O_PATH | O_CLOEXEC);
    if (probe.fd < 0) {
        struct stat link {};
        if (errno != ENOENT) {
            return Found::Error;
        }
        const bool dangling = fstatat(dir, name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode);
        errno = ENOENT;
        return dangling ? Found::DanglingLink : Found::Nothing;
    }
    return fstat(probe.fd, &info) == 0 ? Found::Something : Found::Error;
}

// The staging file in `dir`, private to the caller, with room for `size`
// bytes (TakeRoom); a folder without room is left as it was.
bool OpenPrivateStagingIn(OutputFile& file, int dir, uint64_t size)
{
    if (!OpenStaging(file, dir, 0600)) {
        return false;
    }
    if (TakeRoom(file.fd, size)) {
        return true;
    }
    if (file.tempNamed) {
        const int error = errno;
        unlinkat(file.tempDirFd, file.tempName, 0);
        file.tempNamed = false;
        file.tempDirFd = -1;
        errno = error;
    }
    CloseKeepingErrno(file.fd);
    return false;
}

// Stages the `size`-byte picture for an Overwrite or a stream: beside the
// destination where its directory allows and has room, else in $TMPDIR,
// else (unusable or full) in /tmp. Only its bytes are used. errno
// kNoScratchSpace where no folder serves: the destination is not at fault.
bool OpenPrivateStaging(OutputFile& file, uint64_t size)
{
    if (file.dirFd >= 0 && OpenPrivateStagingIn(file, file.dirFd, size)) {
        return true;
    }
    const char* tmpdir = secure_getenv("TMPDIR");
    for (const char* folder : {tmpdir != nullptr && *tmpdir == '/' ? tmpdir : "/tmp", "/tmp"}) {
        int dir = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0 && OpenPrivateStagingIn(file, dir, size)) {
            if (file.tempDirFd != dir) {
                close(dir);  // unnamed: the directory is not needed again
            }
            return true;
        }
        CloseKeepingErrno(dir);
    }
    errno = kNoScratchSpace;
    return false;
}

// Opens the existing regular file at `name` (in `dir`) for writing as a
// plain program would, with O_CREAT, so that the kernel's protection of
// files in sticky directories applies; and checks that it is the file
// `probed` found. If another process changed the name in between, the file
// the open may have made is taken away again and `changed` set.
Status OpenForWriting(int dir, const char* name, const struct stat& probed, OutputFile& file, struct stat& info,
                      bool& changed)
{
    file.destFd = openat(dir, name, O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (file.destFd < 0 || fstat(file.destFd, &info) != 0) {
        return Status::DestinationUnwritable;
    }
    if (SameFile(info, probed)) {
        return Status::Ok;
    }
    changed = true;
    // An empty file of ours, just made: the open's own.
    if (S_ISREG(info.st_mode) && info.st_size == 0 && info.st_nlink == 1 && info.st_uid == geteuid()) {
        char made[kMaxNameBytes + 1];
        const int madeIn = OpenTargetParent(file.destFd, info, made);
        if (madeIn >= 0) {
            unlinkat(madeIn, made, 0);
            close(madeIn);
        }
    }
    CloseKeepingErrno(file.destFd);
    return Unwritable(EAGAIN);
}

// With destFd open on the existing regular file (status `info`) that
// finalName in dirFd names, or leads to through a link: decides how it is
// replaced, and creates the staging file if there is none yet. `changed`
// when the name no longer leads to that file.
Status PrepareReplace(OutputFile& file, const struct stat& info, uint64_t size, Scratch scratch, bool& changed)
{
    // The rename must be in the directory that holds the file itself: the
    // path's own directory, or a link's target's.
    struct stat entry {};
    const bool named = fstatat(file.dirFd, file.finalName, &entry, AT_SYMLINK_NOFOLLOW) == 0;
    if (named && S_ISLNK(entry.st_mode)) {
        const int target = OpenTargetParent(file.destFd, info, file.finalName);
        if (file.tempDirFd != file.dirFd) {
            CloseDirectory(file, file.dirFd);
        }
        file.dirFd = target;
    } else if (!named || !SameFile(entry, info) || info.st_nlink == 0) {
        changed = true;
        return Unwritable(EAGAIN);
    }
    // Renamed over, where the new file can take on everything the old one
    // was; else written into it in place.
    bool rename = file.dirFd >= 0 && info.st_nlink == 1;  // other names would keep the old file
    if (rename && file.fd < 0 && !OpenStaging(file, file.dirFd, 0600)) {
        if (errno != EACCES && errno != EPERM && errno != EROFS) {
            return Status::DestinationUnwritable;
        }
        rename = false;  // the file is writable, its directory is not
    }
    if (rename && !CopyIdentity(file.destFd, info, file.fd, scratch)) {
        rename = false;  // the staging file still serves
    }
    file.mode = rename ? OutputMode::Replace : OutputMode::Overwrite;
    if (file.mode == OutputMode::Overwrite && file.fd < 0 && !OpenPrivateStaging(file, size)) {
        return Status::DestinationUnwritable;
    }
    return Status::Ok;
}

// Writes straight to a pipe, a device or an open descriptor; or, for output
// written in parts at their offsets, to a private staging file first, which
// is copied to the stream (destFd) when complete.
Status OpenStream(OutputFile& file, int fd, OutputAccess access, uint64_t size)
{
    if (fd < 0) {
        return Status::DestinationUnwritable;
    }
    file.mode = OutputMode::Stream;
    if (access == OutputAccess::Positioned) {
        file.destFd = fd;
        if (!OpenPrivateStaging(file, size)) {
            return Status::DestinationUnwritable;
        }
    } else {
        file.fd = fd;
    }
    return Status::Ok;
}

// A new file at `name` (in `base`): staged unnamed in its directory.
Status OpenNew(int base, NativePath& name, OutputFile& file)
{
    file.mode = OutputMode::Create;
    file.dirFd = OpenParent(name.text, file.finalName, base);
    return file.dirFd >= 0 && OpenStaging(file, file.dirFd, 0666) ? Status::Ok : Status::DestinationUnwritable;
}

// Takes back a staging file made before the name was looked at.
void DropStaging(OutputFile& file)
{
    if (file.tempNamed) {
        unlinkat(file.tempDirFd, file.tempName, 0);
        file.tempNamed = false;
    }
    file.tempDirFd = -1;
    CloseKeepingErrno(file.fd);
    CloseDirectory(file, file.dirFd);
}

Status OpenOnce(NativePath& name, OutputFile& file, Scratch scratch, OutputAccess access, uint64_t size,
                bool& changed)
{
    // A relative path is taken in the caller's folder where there is one.
    const int base = file.folderFd >= 0 && name.text[0] != '/' ? file.folderFd : AT_FDCWD;
    // With regular files only, nothing at the name is ever written in
    // place, so what is there can wait until the picture is put in place:
    // a regular file is then replaced by the rules for one that took the
    // name meanwhile (CommitOverTaken), anything else refused unopened.
    // A new file so costs no look at its name. Only with an unnamed staging
    // file: a named one, made as a new file is, could show others a picture
    // meant to replace a file they may not read. Not for the names of the
    // caller's open files, written through the descriptor; and where the
    // staging file cannot be made, the looks below tell why.
    if (file.regularOnly && DescriptorNamed(name.text) < 0) {
        if (OpenNew(base, name, file) == Status::Ok && !file.tempNamed) {
            return Status::Ok;
        }
        DropStaging(file);
    }
    // Nothing at the name, not even a link: a new file, found in one look.
    // Anything else is looked at through the kernel's resolution below.
    struct stat entry {};
    if (fstatat(base, name.text, &entry, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
        return OpenNew(base, name, file);
    }
    struct stat probed {};
    ScopedFd probe;
    // A link to nothing (Found::DanglingLink) is never written through.
    const Found found = Probe(base, name.text, probe, probed);
    if (found == Found::Nothing) {
        return OpenNew(base, name, file);
    }
    if (found != Found::Something) {
        return Status::DestinationUnwritable;
    }
    if (S_ISDIR(probed.st_mode)) {
        return Unwritable(EISDIR);
    }
    // Decided on the probe's file, which cannot change its type: a FIFO
    // here is never opened, so never waited on. A regular file that another
    // process swaps for a FIFO after this look is opened without waiting
    // (OpenForWriting) and seen to be another file.
    if (file.regularOnly && !S_ISREG(probed.st_mode)) {
        return Unwritable(kNotRegularFile);
    }
    // A name of one of the caller's open files: written through that very
    // descriptor, at its current position, as a shell redirection would.
    const int named = DescriptorNamed(name.text);
    struct stat described {};
    if (named >= 0 && fstat(named, &described) == 0 && SameFile(described, probed)) {
        return OpenStream(file, fcntl(named, F_DUPFD_CLOEXEC, 0), access, size);
    }
    if (!S_ISREG(probed.st_mode)) {
        // O_CREAT for the kernel's protection of FIFOs in sticky directories.
        return OpenStream(file, openat(base, name.text, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666), access,
                          size);
    }
    struct stat info {};
    if (const Status status = OpenForWriting(base, name.text, probed, file, info, changed); status != Status::Ok) {
        return status;
    }
    file.dirFd = OpenParent(name.text, file.finalName, base);
    if (file.dirFd < 0) {
        return Status::DestinationUnwritable;
    }
    return PrepareReplace(file, info, size, scratch, changed);
}

// The holes FillHoles filled, listed in part of the caller's scratch
// buffer (byte offsets, start and end, in pairs) so that a failure can
// give their blocks back. Holes past the list's room stay filled.
struct FilledHoles {
    uint8_t* list = nullptr;
    size_t room = 0;   // pairs
    size_t count = 0;  // pairs listed

    void Add(uint64_t start, uint64_t end)
    {
        if (count < room) {
            const uint64_t pair[2] = {start, end};
            std::memcpy(list + count * sizeof pair, pair, sizeof pair);
            ++count;
        }
    }

    // Makes them holes again, where the file system can punch them: the
    // file reads the same either way.
    void Punch(int fd) const
    {
        const int error = errno;
        for (size_t i = 0; i < count; ++i) {
            uint64_t pair[2];
            std::memcpy(pair, list + i * sizeof pair, sizeof pair);
            if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(pair[0]),
                          static_cast<off_t>(pair[1] - pair[0])) != 0) {
                break;  // not on this file system
            }
        }
        errno = error;
    }
};

// Fills the holes in the file's first `end` bytes with zeros: what the file
// holds stays the same, and the space its blocks need is taken. False with
// errno set (ENOSPC on a full disk).
bool FillHoles(int fd, uint64_t end, Scratch scratch, FilledHoles& filledHoles)
{
    std::memset(scratch.data, 0, scratch.size);
    for (uint64_t at = 0; at < end;) {
        const off_t hole = lseek(fd, static_cast<off_t>(at), SEEK_HOLE);
        if (hole < 0) {
            return errno == ENXIO || errno == EINVAL;  // past the end, or holes not told
        }
        if (static_cast<uint64_t>(hole) >= end) {
            return true;
        }
        const off_t data = lseek(fd, hole, SEEK_DATA);
        if (data < 0 && errno != ENXIO) {
            return false;
        }
        const uint64_t filled = data < 0 || static_cast<uint64_t>(data) > end ? end : static_cast<uint64_t>(data);
        filledHoles.Add(static_cast<uint64_t>(hole), filled);  // before a write that may fill part of it
        for (at = static_cast<uint64_t>(hole); at < filled;) {
            const size_t length = filled - at < scratch.size ? static_cast<size_t>(filled - at) : scratch.size;
            if (!WriteAllAt(fd, scratch.data, length, at)) {
                return false;
            }
            at += length;
        }
    }
    return true;
}

// Writes the staged picture into the existing destination, in place: the
// way to keep a file whose identity a rename would lose. Conversions of
// this library into one file take turns.
//
// Not a byte of the old content is changed before all the space the new
// picture needs is held, so that a full disk or quota fails the call with
// the file as it was. The space is reserved where the file system can;
// where it cannot (ext3, many network and FUSE file systems), the part of
// the picture past the old end is written first and flushed, and holes in
// the old part are filled with the zeros they read as. Should that fail,
// the file is cut back to its old length and the holes punched out again.
Status Overwrite(OutputFile& file, uint64_t size, Scratch scratch)
{
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    while (fcntl(file.destFd, F_OFD_SETLKW, &whole) != 0 && errno == EINTR) {
    }
    struct stat before {};
    if (fstat(file.destFd, &before) != 0) {
        return Status::DestinationUnwritable;
    }
    const auto old = static_cast<uint64_t>(before.st_size);
    const uint64_t kept = size < old ? size : old;  // the old bytes the picture overwrites
    uint64_t copyEnd = size;                        // the picture's bytes from here on are in place
    bool held = size == 0 || fallocate(file.destFd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0;
    // A quarter of the scratch buffer lists the holes filled (a thousand
    // and more), the rest holds the zeros they are filled with.
    const size_t listBytes = scratch.size / 4;
    FilledHoles filled{scratch.data + scratch.size - listBytes, listBytes / (2 * sizeof(uint64_t))};
    if (!held && (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL)) {
        held = CopyStaging(file, file.destFd, old, size, scratch) &&
               FillHoles(file.destFd, kept, Scratch{scratch.data, scratch.size - listBytes}, filled) &&
               fsync(file.destFd) == 0;
        copyEnd = kept;
    }
    if (!held) {
        const int error = errno;
        (void)ftruncate(file.destFd, before.st_size);  // gives back what was reserved or written past the end
        filled.Punch(file.destFd);
        return Unwritable(error);
    }
    struct stat after {};
    if (!CopyStaging(file, file.destFd, 0, copyEnd, scratch) ||
        ftruncate(file.destFd, static_cast<off_t>(size)) != 0 || fstat(file.destFd, &after) != 0) {
        return Status::DestinationUnwritable;
    }
    // A write by anyone but the owner clears setuid and setgid; so does
    // replacing the file. Root's writes do not, so clear them here too.
    if ((after.st_mode & (S_ISUID | S_ISGID)) != 0) {
        (void)fchmod(file.destFd, after.st_mode & 01777);
    }
    return fsync(file.destFd) == 0 ? Status::Ok : Status::DestinationUnwritable;
}

// Replaces the existing destination: flushed before it has any name, so
// that after a crash the name holds the old file or the new one, whole,
// and a kill during the flush leaves nothing. Where the rename is refused
// (the directory is sticky and the file not ours, or the file is a mount
// point), the picture is written in place.
Status CommitReplace(OutputFile& file, uint64_t size, Scratch scratch)
{
    bool copied = false;
    if (fsync(file.fd) != 0 || !NameStaging(file, size, scratch, copied) || (copied && fsync(file.fd) != 0)) {
        return Status::DestinationUnwritable;
    }
    if (renameat(file.tempDirFd, file.tempName, file.dirFd, file.finalName) == 0) {
        file.tempNamed = false;
        return Status::Ok;
    }
    if (errno != EPERM && errno != EACCES && errno != EBUSY && errno != EXDEV) {
        return Status::DestinationUnwritable;
    }
    return Overwrite(file, size, scratch);
}

// One look at what took the name while the picture was written, and the
// replace it decides, as for a file found there at the start. `again` when
// the name changed or vanished under the look.
Status CommitOverTakenOnce(OutputFile& file, uint64_t size, Scratch scratch, bool& again)
{
    CloseKeepingErrno(file.destFd);
    struct stat probed {};
    ScopedFd probe;
    const Found found = Probe(file.dirFd, file.finalName, probe, probed);
    if (found != Found::Something) {
        again = found == Found::Nothing;
        return again ? Unwritable(EAGAIN) : Status::DestinationUnwritable;
    }
    if (!S_ISREG(probed.st_mode)) {
        return Unwritable(S_ISDIR(probed.st_mode) ? EISDIR : file.regularOnly ? kNotRegularFile : EEXIST);
    }
    struct stat info {};
    if (const Status status = OpenForWriting(file.dirFd, file.finalName, probed, file, info, again);
        status != Status::Ok) {
        return status;
    }
    if (const Status status = PrepareReplace(file, info, size, scratch, again); status != Status::Ok) {
        return status;
    }
    return file.mode == OutputMode::Replace ? CommitReplace(file, size, scratch) : Overwrite(file, size, scratch);
}

// The name was taken while the picture was written: what took it is
// replaced. Other writers of the same name may change it between looks, so
// the call looks again, and takes the name itself if it is free once more.
Status CommitOverTaken(OutputFile& file, uint64_t size, Scratch scratch)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool again = false;
        const Status status = CommitOverTakenOnce(file, size, scratch, again);
        if (!again) {
            return status;
        }
        const bool taken = file.tempNamed ? RenameStagingIfFree(file) : LinkStaging(file, file.finalName);
        if (taken) {
            return Status::Ok;
        }
        if (errno != EEXIST) {
            return Status::DestinationUnwritable;
        }
    }
    return Unwritable(EAGAIN);
}

// The staging file's length: the picture's.
bool StagedSize(const OutputFile& file, uint64_t& size)
{
    struct stat staged {};
    if (fstat(file.fd, &staged) != 0) {
        return false;
    }
    size = static_cast<uint64_t>(staged.st_size);
    return true;
}

// Puts a new file in place without replacing one made meanwhile. The usual
// case, an unnamed file linked at once, needs nothing more, not even its
// size.
Status CommitNew(OutputFile& file, Scratch scratch)
{
    if (!file.tempNamed && LinkStaging(file, file.finalName)) {
        return Status::Ok;
    }
    const int error = errno;
    uint64_t size = 0;
    if (!StagedSize(file, size)) {
        return Status::DestinationUnwritable;
    }
    errno = error;
    if (!file.tempNamed) {
        bool copied = false;
        if (errno == EEXIST) {
            return CommitOverTaken(file, size, scratch);
        }
        if (!NameStaging(file, size, scratch, copied)) {  // the kernel will not link it
            return Status::DestinationUnwritable;
        }
    }
    // Closed first: some file systems report write errors only then. Opened
    // again should the name be taken.
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0) {
        return Status::DestinationUnwritable;
    }
    if (RenameStagingIfFree(file)) {
        return Status::Ok;
    }
    if (errno != EEXIST) {
        return Status::DestinationUnwritable;
    }
    file.fd = openat(file.tempDirFd, file.tempName, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    return file.fd >= 0 ? CommitOverTaken(file, size, scratch) : Status::DestinationUnwritable;
}

// A private staging file (for an Overwrite, or a stream's copy) that
// fills up after its room was judged free: no scratch space, as for the
// planes' temporary file.
bool Staged(const OutputFile& file, bool written)
{
    const bool privateStaging =
        file.mode == OutputMode::Overwrite || (file.mode == OutputMode::Stream && file.destFd >= 0);
    if (!written && privateStaging && (errno == ENOSPC || errno == EDQUOT)) {
        errno = kNoScratchSpace;
    }
    return written;
}

}  // namespace

Status OpenOutput(const char16_t* path, OutputFile& file, Scratch scratch, OutputAccess access, uint64_t size,
                  OutputRules rules)
{
    NativePath name;
    if (const Status status = ToNativePath(path, name); status != Status::Ok) {
        return status;
    }
    Status status = Status::DestinationUnwritable;
    bool changed = true;
    for (int attempt = 0; attempt < kAttempts && changed; ++attempt) {
        DiscardOutput(file);
        file = OutputFile{};
        file.regularOnly = rules.regularOnly;
        // Only a relative path is taken in the caller's folder; for any
        // other the number is none of ours, and a descriptor the call opens
        // that happens to get it is closed as usual.
        file.folderFd = name.text[0] != '/' ? rules.folder : -1;
        if (!rules.signalsIgnored) {
            BlockWriteSignals(file.signals);
        }
        changed = false;
        status = OpenOnce(name, file, scratch, access, size, changed);
    }
    return status;
}

bool WriteOutput(OutputFile& file, const uint8_t* data, size_t size)
{
    return Staged(file, WriteAll(file.fd, data, size));
}

bool WriteOutputAt(OutputFile& file, uint64_t offset, const uint8_t* data, size_t size)
{
    return Staged(file, WriteAllAt(file.fd, data, size, offset));
}

bool SeekOutput(OutputFile& file, uint64_t offset)
{
    return lseek(file.fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

Status CommitOutput(OutputFile& file, Scratch scratch)
{
    Status status = Status::Ok;
    if (file.mode == OutputMode::Stream) {
        struct stat staged {};
        if (file.destFd >= 0 && (fstat(file.fd, &staged) != 0 ||
                                 !CopyStagingToStream(file, static_cast<uint64_t>(staged.st_size), scratch))) {
            status = Status::DestinationUnwritable;
        }
        // Errors a device reports only at close count too.
        int& stream = file.destFd >= 0 ? file.destFd : file.fd;
        const int fd = stream;
        stream = -1;
        if (close(fd) != 0 && status == Status::Ok) {
            status = Status::DestinationUnwritable;
        }
    } else if (file.mode == OutputMode::Create) {
        status = CommitNew(file, scratch);
    } else {
        uint64_t size = 0;
        if (!StagedSize(file, size)) {
            status = Status::DestinationUnwritable;
        } else if (file.mode == OutputMode::Replace) {
            status = CommitReplace(file, size, scratch);
        } else {
            status = Overwrite(file, size, scratch);
        }
    }
    DiscardOutput(file);
    return status;
}

void DiscardOutput(OutputFile& file)
{
    const int saved = errno;
    if (file.tempNamed) {
        unlinkat(file.tempDirFd, file.tempName, 0);
        file.tempNamed = false;
    }
    if (file.tempDirFd != file.dirFd) {
        CloseDirectory(file, file.tempDirFd);
    }
    file.tempDirFd = -1;
    CloseKeepingErrno(file.fd);
    CloseKeepingErrno(file.destFd);
    CloseDirectory(file, file.dirFd);
    RestoreWriteSignals(file.signals);
    errno = saved;
}

}  // namespace kestova
