// The staging file: where the picture is written before it is put in
// place. Unnamed where the file system allows (O_TMPFILE), so that nothing
// is left if the process dies; else under a fresh hidden name.
#pragma once

#include <sys/types.h>

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

// Copies the staging file's first `size` bytes to `to`, from offset 0.
bool CopyStaging(const OutputFile& file, int to, uint64_t size, Scratch scratch);

}  // namespace kestova
