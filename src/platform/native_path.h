// The host passes paths as NUL-terminated UTF-16. On POSIX systems they are
// handed to the OS as UTF-8 file names; on Windows they go to the wide API
// unchanged.
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

// BadArgument for a null or empty path, an unpaired surrogate, or a path
// that does not fit (errno ENAMETOOLONG).
Status ToNativePath(const char16_t* path, NativePath& out);

}  // namespace kestova
