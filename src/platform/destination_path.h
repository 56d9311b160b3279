// The names a destination path gives, found without following links by
// hand: the kernel resolves, and these only split and compare.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include "output_file.h"

namespace kestova {

inline bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The descriptor an absolute path names when it is one of the names of the
// process's own open files: /dev/stdin, /dev/stdout, /dev/stderr,
// /dev/fd/N and /proc/self/fd/N (or /proc/PID/fd/N with this process's id),
// however spelt with extra slashes, "." and "..". -1 otherwise. The caller
// checks that the path does lead to that descriptor's file.
int DescriptorNamed(const char* path);

// Opens (O_PATH) the directory holding the last component of `path` and
// copies that component to `name`. A relative path is taken in `in`, and
// a single component names an entry of `in` itself, which is then
// returned, not opened again (the working directory is opened as ".").
// -1 with errno set when it cannot, or when the path ends in a slash
// (EISDIR).
int OpenParent(char* path, char (&name)[kMaxNameBytes + 1], int in = AT_FDCWD);

// The directory entry that names the open regular file `fd` (status
// `info`): its directory, opened, and its name. Found through the kernel's
// record of the file's path and checked to be that very file; for a file
// reached through a symbolic link, that is the link's target. -1 where
// there is none to be found (no /proc, a removed file, one renamed since).
int OpenTargetParent(int fd, const struct stat& info, char (&name)[kMaxNameBytes + 1]);

}  // namespace kestova
