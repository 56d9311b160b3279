#define _CRT_RAND_S  // rand_s: the system's random source, through msvcrt.dll
#include <stdlib.h>
#include <windows.h>

#include <cwchar>

#include "os_windows.h"
#include "platform/scratch_file.h"

namespace kestova {

Status OpenScratchFile(SourceFile& file, uint64_t /*size*/, const OutputFile& /*destination*/)
{
    wchar_t path[MAX_PATH + 64];
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    if (length == 0 || length > MAX_PATH) {
        SetErrnoFromLastError();
        errno = kNoScratchSpace;  // GetLastError() says why
        return Status::DestinationUnwritable;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned int random = 0;
        if (rand_s(&random) != 0) {
            SetError(ERROR_NOT_SUPPORTED);
            return Status::DestinationUnwritable;
        }
        wchar_t* out = std::wmemcpy(path + length, L".kestovatiff-planes.", 20) + 20;
        for (int shift = 28; shift >= 0; shift -= 4) {
            *out++ = L"0123456789abcdef"[(random >> shift) & 0xF];
        }
        std::wmemcpy(out, L".tmp", 5);
        HANDLE handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file.handle = handle;
            file.size = 0;
            return Status::Ok;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    SetErrnoFromLastError();
    errno = kNoScratchSpace;
    return Status::DestinationUnwritable;
}

Status WriteScratchFile(SourceFile& file, uint64_t offset, const uint8_t* data, size_t size)
{
    const uint64_t end = offset + size;
    while (size > 0) {
        const DWORD chunk = size < 0x40000000 ? static_cast<DWORD>(size) : 0x40000000;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset);
        where.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        if (!WriteFile(file.handle, data, chunk, &done, &where) || done == 0) {
            if (done == 0 && GetLastError() == NO_ERROR) {
                SetError(ERROR_WRITE_FAULT);
            } else {
                SetErrnoFromLastError();
            }
            if (GetLastError() == ERROR_DISK_FULL || GetLastError() == ERROR_HANDLE_DISK_FULL) {
                errno = kNoScratchSpace;
            }
            return Status::DestinationUnwritable;
        }
        data += done;
        size -= done;
        offset += done;
    }
    file.size = end > file.size ? end : file.size;
    return Status::Ok;
}

}  // namespace kestova
