// What the Windows source and destination share: checking the caller's
// paths, and reporting the system's errors both ways a host may read them.
//
// A host built with a current Microsoft toolchain has its own C runtime and
// never sees the errno of msvcrt.dll, which this library sets; it reads
// GetLastError(). So every failure sets both: the Win32 error, and errno
// from it.
#pragma once

#include <windows.h>

#include <cstddef>

#include "status.h"

namespace kestova {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide API takes UTF-16 as it comes");

// The caller's UTF-16 path as the wide API takes it.
inline const wchar_t* WidePath(const char16_t* path)
{
    return reinterpret_cast<const wchar_t*>(path);
}

// BadArgument for a null or empty path or an unpaired surrogate
// (ERROR_INVALID_PARAMETER, EINVAL), or a path longer than the system's
// 32767 units (ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG).
Status CheckPath(const char16_t* path);

// errno for a Win32 error.
int ErrnoFor(DWORD error);

// Sets the Win32 error and errno from it, or with the errno given.
void SetError(DWORD error);
void SetError(DWORD error, int errnoValue);

// Sets errno from GetLastError(), after a Win32 call failed.
void SetErrnoFromLastError();

// Keeps both errors as they were while cleaning up after a failure.
class KeepErrors {
public:
    KeepErrors();
    ~KeepErrors();
    KeepErrors(const KeepErrors&) = delete;
    KeepErrors& operator=(const KeepErrors&) = delete;

private:
    DWORD error_;
    int errno_;
};

}  // namespace kestova
