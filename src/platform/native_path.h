// The host passes paths as NUL-terminated UTF-16. On POSIX systems they are
// handed to the OS as UTF-8 file names; on Windows they go to the wide API
// unchanged.
//
// A POSIX file name is bytes, and not every name is UTF-8 (old archives in
// Latin-1 and other encodings). A host gives each byte 0x80..0xFF that does
// not decode as the lone low surrogate U+DC80..U+DCFF, the convention
// Python's file system encoding uses ("surrogateescape"), and that byte is
// put back here, so every name reaches the file it names. Any other lone
// surrogate is a bad argument. Windows names are UTF-16 already: there
// every lone surrogate, these too, is a bad argument.
#pragma once

#include <cstddef>

#include "status.h"

namespace kestova {

#if defined(_WIN32)
using NativeChar = wchar_t;
constexpr size_t kMaxNativePath = 32768;  // the longest path the wide API takes
#else
using NativeChar = char;
constexpr size_t kMaxNativePath = 4096;  // PATH_MAX on Linux
#endif

struct NativePath {
    NativeChar text[kMaxNativePath];
};

// BadArgument for a null or empty path, an unpaired surrogate (but for the
// escaped bytes above, on POSIX), or a path that does not fit (errno
// ENAMETOOLONG).
Status ToNativePath(const char16_t* path, NativePath& out);

}  // namespace kestova
