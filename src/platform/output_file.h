// The destination file, written so that nothing is lost on failure.
//
// A regular destination (or one that does not exist yet) is written to a
// temporary file in its own directory and renamed over it only when every
// byte was written and the file closed without error. Symbolic links are
// followed, so the link's target is replaced and the link stays. A new file
// gets the permissions of a plain create; a replaced file keeps its
// permission bits, and one the caller may not write is not replaced. A destination that exists and is not a regular file (a
// device, a pipe) is written in place, since it cannot be replaced.
#pragma once

#include <cstddef>
#include <cstdint>

#include "native_path.h"
#include "status.h"

namespace kestova {

struct OutputFile {
#if defined(_WIN32)
    void* handle = nullptr;  // a HANDLE
#else
    int fd = -1;
#endif
    bool inPlace = false;  // written straight into finalPath, no rename
    NativePath finalPath;
    NativePath tempPath;
};

// DestinationUnwritable when nothing could be created (errno says why),
// BadArgument for a path that is not valid UTF-16.
Status OpenOutput(const char16_t* path, OutputFile& file);

// Writes all `size` bytes, or returns false with errno set.
bool WriteOutput(OutputFile& file, const uint8_t* data, size_t size);

// Closes the file and moves it into place. On failure the temporary file is
// removed and errno describes the failure.
Status CommitOutput(OutputFile& file);

// Closes and removes the temporary file; the destination is untouched.
// errno is kept as it was.
void DiscardOutput(OutputFile& file);

}  // namespace kestova
