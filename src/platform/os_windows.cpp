#include "os_windows.h"

#include <cerrno>
#include <cstdint>

namespace kestova {

// UNICODE_STRING counts bytes in 16 bits: no path the system takes is longer.
constexpr size_t kMaxPathUnits = 32767;

Status CheckPath(const char16_t* path)
{
    if (path == nullptr || *path == u'\0') {
        SetError(ERROR_INVALID_PARAMETER, EINVAL);
        return Status::BadArgument;
    }
    size_t n = 0;
    for (const char16_t* p = path; *p != u'\0'; ++p, ++n) {
        const uint32_t unit = *p;
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        const bool nextLow = p[1] >= 0xDC00 && p[1] <= 0xDFFF;  // the terminator is not
        const bool afterHigh = p != path && p[-1] >= 0xD800 && p[-1] <= 0xDBFF;
        if ((high && !nextLow) || (low && !afterHigh)) {
            SetError(ERROR_INVALID_PARAMETER, EINVAL);
            return Status::BadArgument;
        }
        if (n == kMaxPathUnits) {
            SetError(ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG);
            return Status::BadArgument;
        }
    }
    return Status::Ok;
}

int ErrnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
        return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_NOT_SUPPORTED:
        return ENOSYS;
    default:
        return EIO;
    }
}

void SetError(DWORD error)
{
    SetError(error, ErrnoFor(error));
}

void SetError(DWORD error, int errnoValue)
{
    SetLastError(error);
    errno = errnoValue;
}

void SetErrnoFromLastError()
{
    errno = ErrnoFor(GetLastError());
}

KeepErrors::KeepErrors() : error_(GetLastError()), errno_(errno) {}

KeepErrors::~KeepErrors()
{
    SetLastError(error_);
    errno = errno_;
}

}  // namespace kestova
