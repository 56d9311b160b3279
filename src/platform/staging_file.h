// The staging file: where the picture is written before it is put in
// place. Unnamed where the file system allows (O_TMPFILE), so that nothing
// is left if the process dies; else under a fresh hidden name.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "output_file.h"

namespace kestova {

// Creates the staging file in `dir` as file.fd, with `mode` (less the
// umask). A named one is file.tempName in file.tempDirFd, which then holds
// `dir`. False with errno set.
bool OpenStaging(OutputFile& file, int dir, mode_t mode);

// Gives the unnamed staging file the name `name` in file.dirFd; fails with
// EEXIST where the name is taken.
bool LinkStaging(const OutputFile& file, const char* name);

// Gives the staging file a hidden name in file.dirFd, unless it has one:
// linked where the kernel allows, else copied, bytes and identity, to a new
// named file that takes its place (`copied` says so).
bool NameStaging(OutputFile& file, uint64_t size, Scratch scratch, bool& copied);

// Renames the named staging file to file.finalName, unless that name is
// taken (EEXIST).
bool RenameStagingIfFree(OutputFile& file);

// Reads the staging file's bytes from `from` up to `end`, a scratch buffer
// at a time, and hands each piece on: put(data, length, offset). False
// when a read or a put fails (errno says why).
template <typename Put>
bool ForEachStagedPiece(const OutputFile& file, uint64_t from, uint64_t end, Scratch scratch, Put&& put)
{
    for (uint64_t at = from; at < end;) {
        const size_t want = end - at < scratch.size ? static_cast<size_t>(end - at) : scratch.size;
        const ssize_t got = pread(file.fd, scratch.data, want, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = EIO;  // the staging file cannot have shrunk
            }
            return false;
        }
        if (!put(scratch.data, static_cast<size_t>(got), at)) {
            return false;
        }
        at += static_cast<uint64_t>(got);
    }
    return true;
}

// Copies the staging file's bytes from `from` up to `end` to the same
// offsets of `to`.
bool CopyStaging(const OutputFile& file, int to, uint64_t from, uint64_t end, Scratch scratch);

}  // namespace kestova
