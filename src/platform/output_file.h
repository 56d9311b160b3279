// The destination file, written so that nothing is lost, corrupted or
// exposed, whatever fails.
//
// The operating system resolves the path, links and all, with its own
// protections. What it names decides how the picture gets there:
//
// - Nothing yet: the picture is written to an unnamed file in the
//   destination's directory (a hidden temporary name where the system has
//   none) and given the name only when complete.
// - A regular file: the picture is written the same way and then renamed
//   over the file, after being flushed to stable storage, carrying the old
//   file's owner, group, permission bits (less setuid and setgid, which a
//   write clears), ACLs and extended attributes. A link's target is
//   replaced; the link stays.
// - A regular file that a rename cannot replace with its identity intact
//   (other hard links, an owner the caller cannot give away, an attribute
//   that cannot be copied, a directory the caller may not write, a mount
//   point): the picture is first written completely to a temporary file,
//   the space for it reserved in the destination, and then copied into the
//   destination in place and flushed.
// - Anything else (a pipe, a device), or a file reached through an open
//   file descriptor (/dev/stdout, /dev/fd/N): written in place, at its
//   current position; or, where the caller asks for regular files only,
//   refused without being opened (errno kNotRegularFile; EISDIR for a
//   directory, as always).
//
// A destination the caller could not open for writing (read-only, or
// refused by the system's link and sticky-directory protections) is
// refused before anything is written; so is a dangling symbolic link.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "native_path.h"
#include "status.h"
#if !defined(_WIN32)
#include "pipe_signal.h"
#endif

namespace kestova {

// Working storage lent by the caller for the duration of one call: the
// output buffer, idle while the file is opened and committed.
struct Scratch {
    uint8_t* data;
    size_t size;
};

#if defined(_WIN32)

// No path is kept here: the caller's path stays valid for the whole call,
// and the temporary file's is built again from it and `tag` when needed.
struct OutputFile {
    void* handle = nullptr;         // a HANDLE: the temporary file, or the destination written in place
    void* device = nullptr;         // positioned output to a device: the device, written at commit from `handle`
    const wchar_t* path = nullptr;  // the caller's path, checked
    bool inPlace = false;           // not a disk file (NUL, a console, a pipe): no temporary file, no rename
    bool replacing = false;         // an existing file is replaced: flushed first
    uint32_t tag = 0;               // the random part of the temporary file's name
};

#else

// Where the picture goes, decided when the destination is opened (and, for
// a rename the system refuses, again when it is committed).
enum class OutputMode {
    Create,     // a new file: stage, then link into place
    Replace,    // an existing regular file: stage, flush, rename over it
    Overwrite,  // an existing regular file: stage, then copy into it in place
    Stream,     // not a regular file, or an open descriptor: write straight to it
};

constexpr size_t kMaxNameBytes = 255;  // NAME_MAX: one component of a path

struct OutputFile {
    OutputMode mode = OutputMode::Create;
    int fd = -1;          // where WriteOutput puts the bytes: the staging file, or the stream
    int destFd = -1;      // the existing destination, open for writing
    int dirFd = -1;       // the directory holding the final name
    int tempDirFd = -1;   // the directory holding the staging file's name, if it has one
    int folderFd = -1;    // the caller's folder (OutputRules): may be dirFd or tempDirFd, never closed here
    bool tempNamed = false;     // the staging file is tempName in tempDirFd
    bool regularOnly = false;   // anything but a regular file at the name is refused, at commit too
    WriteSignalGuard signals;   // from the open to the commit
    char finalName[kMaxNameBytes + 1] = {};
    char tempName[kMaxNameBytes + 1] = {};
};

#endif

// errno for a destination refused because it is not a regular file: what
// a FIFO without a reader gives an open that does not wait.
constexpr int kNotRegularFile = ENXIO;

// How the picture will be written: in file order, or in parts at their
// offsets. A destination that cannot seek (a pipe, a device) then gets a
// private staging file, copied to it when complete.
enum class OutputAccess { Sequential, Positioned };

// What the caller asks of the destination beside its path.
struct OutputRules {
    // A destination that exists and is not a regular file is refused, never
    // opened to write (on Windows: opened, as every look there is, but never
    // written).
    bool regularOnly = false;
    // POSIX: the open directory a relative path is taken in, -1 for the
    // working directory. Borrowed: never closed here.
    int folder = -1;
    // POSIX: SIGPIPE and SIGXFSZ are ignored by the caller, so the thread's
    // mask is left as it is (pipe_signal.h).
    bool signalsIgnored = false;
};

// `size`, the picture's length where known, is room a private staging file
// must find first. DestinationUnwritable when the destination cannot be
// written (errno says why), BadArgument for a path that is not valid
// UTF-16.
Status OpenOutput(const char16_t* path, OutputFile& file, Scratch scratch,
                  OutputAccess access = OutputAccess::Sequential, uint64_t size = 0, OutputRules rules = {});

// Writes all `size` bytes at the current position, or returns false with
// errno set.
bool WriteOutput(OutputFile& file, const uint8_t* data, size_t size);

// With OutputAccess::Positioned only: writes all `size` bytes at `offset`,
// or moves the current position to `offset`. False with errno set.
bool WriteOutputAt(OutputFile& file, uint64_t offset, const uint8_t* data, size_t size);
bool SeekOutput(OutputFile& file, uint64_t offset);

// Puts the finished picture in place and closes everything. On failure
// nothing is left behind, the destination is as it was (but for a failure
// while copying in place, which the README states) and errno describes the
// failure.
Status CommitOutput(OutputFile& file, Scratch scratch);

// Closes and removes whatever was staged; the destination is untouched.
// Safe on a file that did not open. errno is kept as it was.
void DiscardOutput(OutputFile& file);

}  // namespace kestova
