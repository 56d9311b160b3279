// The source on Windows: the caller's UTF-16 path goes straight to
// CreateFileW, shared for reading, writing and deletion so that the same
// file may be the destination, and reads go to explicit 64-bit offsets.

#include <windows.h>

#include <cerrno>

#include "os_windows.h"
#include "source_file.h"

namespace kestova {

Status OpenSource(const char16_t* path, SourceFile& file)
{
    if (const Status status = CheckPath(path); status != Status::Ok) {
        return status;
    }
    const wchar_t* name = WidePath(path);
    HANDLE handle = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A directory is refused with ERROR_ACCESS_DENIED; errno says which.
        const DWORD error = GetLastError();
        const DWORD attributes = error == ERROR_ACCESS_DENIED ? GetFileAttributesW(name) : INVALID_FILE_ATTRIBUTES;
        const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        SetError(error, directory ? EISDIR : ErrnoFor(error));
        return Status::SourceUnreadable;
    }
    // The conversion needs the size and reads out of order: a disk file
    // only, never a device, console or pipe, which could also block.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        SetError(ERROR_NOT_SUPPORTED, ESPIPE);
        return Status::SourceUnreadable;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        SetErrnoFromLastError();
        const KeepErrors keep;
        CloseHandle(handle);
        return Status::SourceUnreadable;
    }
    file.handle = handle;
    file.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return Status::Ok;
}

Status ReadSource(SourceFile& file, uint64_t offset, uint8_t* buffer, size_t size)
{
    if (file.memory != nullptr) {
        return ReadMemorySource(file, offset, buffer, size);
    }
    if (ReadFromHead(file, offset, buffer, size)) {
        return Status::Ok;
    }
    while (size > 0) {
        const DWORD chunk = size < 0x40000000 ? static_cast<DWORD>(size) : 0x40000000;
        OVERLAPPED at{};  // the offset; the handle is synchronous, so the read completes here
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(file.handle, buffer, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                return Refuse(file, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, offset + size);
            }
            SetErrnoFromLastError();
            return Status::SourceUnreadable;
        }
        if (got == 0) {
            return Refuse(file, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, offset + size);
        }
        buffer += got;
        offset += got;
        size -= got;
    }
    return Status::Ok;
}

void CloseSource(SourceFile& file)
{
    if (file.handle != nullptr) {
        const KeepErrors keep;
        CloseHandle(file.handle);
        file.handle = nullptr;
    }
}

}  // namespace kestova
