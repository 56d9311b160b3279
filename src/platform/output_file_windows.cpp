// The destination on Windows.
//
// The destination is first opened as it is, for writing: that is the
// system's own answer to whether the caller may write it, and the handle
// tells what it is. Anything but a disk file (NUL, a console, a pipe) is
// written in place through that handle. A disk file, existing or not, gets
// the picture in a temporary file beside it, ".NAME.XXXXXXXX.tmp" with 32
// bits from the system's random source, created with the hidden and system
// attributes of the file it replaces, and moved over the destination once
// complete; before it replaces an existing file it is flushed. The
// temporary file stays open, with delete access, until it has its final
// name, so a failure anywhere removes it through the handle.
//
// No path buffer is kept or put on the stack. The full paths that long
// names need (the \\?\ form once a path reaches MAX_PATH) are built in the
// caller's scratch buffer, when the file is opened and again when it is
// committed.

#define _CRT_RAND_S  // rand_s: the system's random source, through msvcrt.dll
#include <stdlib.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <new>

#include "os_windows.h"
#include "output_file.h"

namespace kestova {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What a replaced file keeps; a read-only one is refused instead.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

constexpr size_t kPrefixRoom = 8;  // for \\?\UNC\, written in front of a full path
constexpr size_t kTagDigits = 8;
constexpr size_t kMaxName = 255;  // units in one name of a path
// The temporary name adds "." in front and "." + tag + ".tmp" behind.
constexpr size_t kMaxBaseInTempName = kMaxName - 2 - kTagDigits - 4;

constexpr int kCreateAttempts = 16;
constexpr int kReplaceAttempts = 40;  // about half a second in all

bool IsLongForm(const wchar_t* path)
{
    return path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\';
}

// The destination as the system is given it, and the parts of its full path
// that the temporary file's is made of.
struct Names {
    const wchar_t* dest = nullptr;  // the caller's path, or its long form when that is needed
    const wchar_t* full = nullptr;  // the full path (in the long form if `longForm`)
    size_t dirLength = 0;           // of `full`, up to its last backslash included
    size_t baseLength = 0;          // the name after it
    bool longForm = false;
    wchar_t* rest = nullptr;  // the scratch not used by `full`
    size_t restUnits = 0;
};

// Rewrites a full path, which has kPrefixRoom units free in front of it, in
// the long form, which the system takes as it is and to 32767 units:
// C:\a -> \\?\C:\a, \\server\share\a -> \\?\UNC\server\share\a,
// \\.\C:\a -> \\?\C:\a. Returns where it now starts.
wchar_t* ToLongForm(wchar_t* full)
{
    if (full[0] == L'\\' && full[1] == L'\\') {
        if ((full[2] == L'.' || full[2] == L'?') && full[3] == L'\\') {
            full[2] = L'?';
            return full;
        }
        wchar_t* start = full - 6;  // the prefix ends where "\\" was
        std::wmemcpy(start, L"\\\\?\\UNC\\", 8);
        return start;
    }
    wchar_t* start = full - 4;
    std::wmemcpy(start, L"\\\\?\\", 4);
    return start;
}

// Finds the destination's full path, in `scratch`. Sets both errors and
// returns false when it cannot.
bool Locate(const wchar_t* path, Scratch scratch, Names& names)
{
    // The buffer holds bytes; its start may be odd.
    uint8_t* bytes = scratch.data;
    size_t size = scratch.size;
    if (reinterpret_cast<uintptr_t>(bytes) % alignof(wchar_t) != 0 && size > 0) {
        ++bytes;
        --size;
    }
    const size_t units = size / sizeof(wchar_t);
    wchar_t* const text = ::new (static_cast<void*>(bytes)) wchar_t[units];

    size_t length = 0;
    if (IsLongForm(path)) {
        length = std::wcslen(path);
        names.dest = path;
        names.full = path;
        names.longForm = true;
        names.rest = text;
        names.restUnits = units;
    } else {
        if (units <= kPrefixRoom + 1) {
            SetError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        wchar_t* full = text + kPrefixRoom;
        const size_t room = units - kPrefixRoom < MAXDWORD ? units - kPrefixRoom : MAXDWORD;
        const DWORD got = GetFullPathNameW(path, static_cast<DWORD>(room), full, nullptr);
        if (got == 0) {
            SetErrnoFromLastError();
            return false;
        }
        if (got >= room) {  // too small: `got` is the size it needs
            SetError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        length = got;
        names.rest = full + length + 1;
        names.restUnits = room - length - 1;
        names.dest = path;
        names.full = full;
        if (length >= MAX_PATH) {
            wchar_t* start = ToLongForm(full);
            length += static_cast<size_t>(full - start);
            names.dest = start;
            names.full = start;
            names.longForm = true;
        }
    }
    size_t dirLength = length;
    while (dirLength > 0 && names.full[dirLength - 1] != L'\\') {
        --dirLength;
    }
    if (dirLength == 0 || dirLength == length) {  // no name after the last backslash: "folder\"
        const DWORD attributes = GetFileAttributesW(names.dest);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            SetError(ERROR_ACCESS_DENIED, EISDIR);
        } else {
            SetError(ERROR_INVALID_NAME);
        }
        return false;
    }
    names.dirLength = dirLength;
    names.baseLength = length - dirLength;
    return true;
}

// Builds the temporary file's path in the rest of the scratch: the
// destination's directory, then "." + name + "." + tag + ".tmp". A long
// name is cut to keep the whole within one name's limit, never inside a
// surrogate pair.
const wchar_t* TempPath(const Names& names, uint32_t tag)
{
    const wchar_t* base = names.full + names.dirLength;
    size_t cut = names.baseLength < kMaxBaseInTempName ? names.baseLength : kMaxBaseInTempName;
    if (cut < names.baseLength && base[cut - 1] >= 0xD800 && base[cut - 1] <= 0xDBFF) {
        --cut;
    }
    const size_t length = names.dirLength + 1 + cut + 1 + kTagDigits + 4;
    if (names.restUnits < kPrefixRoom + length + 1) {
        SetError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    wchar_t* const temp = names.rest + kPrefixRoom;
    wchar_t* out = std::wmemcpy(temp, names.full, names.dirLength) + names.dirLength;
    *out++ = L'.';
    out = std::wmemcpy(out, base, cut) + cut;
    *out++ = L'.';
    for (int shift = 28; shift >= 0; shift -= 4) {
        *out++ = L"0123456789abcdef"[(tag >> shift) & 0xF];
    }
    out = std::wmemcpy(out, L".tmp", 4) + 4;
    *out = L'\0';
    return !names.longForm && length >= MAX_PATH ? ToLongForm(temp) : temp;
}

// A destination the gate could not open: missing is fine (a new file),
// anything else refuses it. A directory is ERROR_ACCESS_DENIED to the
// system; errno says which.
bool NewOrRefused(const wchar_t* dest, DWORD error)
{
    if (error == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    const DWORD attributes = error == ERROR_ACCESS_DENIED ? GetFileAttributesW(dest) : INVALID_FILE_ATTRIBUTES;
    const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    SetError(error, directory ? EISDIR : ErrnoFor(error));
    return false;
}

// Moves the finished temporary file over the destination. The system
// refuses that while someone has the destination open (another conversion
// opening it, a scanner), so a refusal is retried for a moment.
bool Replace(const wchar_t* temp, const wchar_t* dest)
{
    for (int attempt = 1;; ++attempt) {
        // Checked each time: not every layer refuses a rename over a
        // read-only file, and a directory is not worth retrying.
        const DWORD attributes = GetFileAttributesW(dest);
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
            SetError(ERROR_ACCESS_DENIED, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : EACCES);
            return false;
        }
        if (MoveFileExW(temp, dest, MOVEFILE_REPLACE_EXISTING)) {
            return true;
        }
        const DWORD error = GetLastError();
        const bool busy =
            error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!busy || attempt == kReplaceAttempts) {
            SetErrnoFromLastError();
            return false;
        }
        Sleep(attempt < 10 ? 1 : 15);
    }
}

// A private staging file in the system's temporary folder, removed when
// closed, for output written in parts to a device, which cannot seek.
HANDLE OpenPrivateStaging(Scratch scratch)
{
    auto* folder = reinterpret_cast<wchar_t*>(scratch.data + reinterpret_cast<uintptr_t>(scratch.data) % 2);
    const DWORD room = MAX_PATH + 1;
    const DWORD length = GetTempPathW(room, folder);
    if (length == 0 || length >= room) {
        SetErrnoFromLastError();
        return INVALID_HANDLE_VALUE;
    }
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        unsigned int random = 0;
        if (rand_s(&random) != 0) {
            SetError(ERROR_NOT_SUPPORTED);
            return INVALID_HANDLE_VALUE;
        }
        wchar_t* out = std::wmemcpy(folder + length, L".kestovatiff.", 13) + 13;
        for (int shift = 28; shift >= 0; shift -= 4) {
            *out++ = L"0123456789abcdef"[(random >> shift) & 0xF];
        }
        std::wmemcpy(out, L".tmp", 5);
        HANDLE handle = CreateFileW(folder, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            if (handle == INVALID_HANDLE_VALUE) {
                SetErrnoFromLastError();
            }
            return handle;
        }
    }
    SetErrnoFromLastError();
    return INVALID_HANDLE_VALUE;
}

// Writes all of `data` to `handle`: at `offset`, or at its position when
// `offset` is null.
bool WriteAll(HANDLE handle, const uint8_t* data, size_t size, const uint64_t* offset)
{
    uint64_t at = offset != nullptr ? *offset : 0;
    while (size > 0) {
        const DWORD chunk = size < 0x40000000 ? static_cast<DWORD>(size) : 0x40000000;
        DWORD done = 0;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        if (!WriteFile(handle, data, chunk, &done, offset != nullptr ? &where : nullptr)) {
            SetErrnoFromLastError();
            return false;
        }
        if (done == 0) {
            SetError(ERROR_WRITE_FAULT);
            return false;
        }
        data += done;
        size -= done;
        at += done;
    }
    return true;
}

// Copies the private staging file to the device, in order.
bool CopyToDevice(HANDLE staging, HANDLE device, Scratch scratch)
{
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(staging, start, nullptr, FILE_BEGIN)) {
        SetErrnoFromLastError();
        return false;
    }
    const DWORD block = scratch.size < 0x40000000 ? static_cast<DWORD>(scratch.size) : 0x40000000;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(staging, scratch.data, block, &got, nullptr)) {
            SetErrnoFromLastError();
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!WriteAll(device, scratch.data, got, nullptr)) {
            return false;
        }
    }
}

}  // namespace

Status OpenOutput(const char16_t* path, OutputFile& file, Scratch scratch, OutputAccess access, uint64_t /*size*/,
                  OutputRules rules)
{
    const bool regularOnly = rules.regularOnly;  // the folder and the signals are POSIX's alone
    if (const Status status = CheckPath(path); status != Status::Ok) {
        return status;
    }
    file.path = WidePath(path);
    Names names;
    if (!Locate(file.path, scratch, names)) {
        return Status::DestinationUnwritable;
    }

    // The gate. Shared all ways, so a source that is this same file, or
    // another conversion's look at it, does not stand in the way.
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;  // the temporary file's
    HANDLE dest = CreateFileW(names.dest, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (dest == INVALID_HANDLE_VALUE) {
        if (!NewOrRefused(names.dest, GetLastError())) {
            return Status::DestinationUnwritable;
        }
    } else {
        SetLastError(NO_ERROR);
        const DWORD type = GetFileType(dest);
        if (type != FILE_TYPE_DISK && GetLastError() == NO_ERROR && regularOnly) {
            // A pipe's or a device's open here does not wait for a reader;
            // the caller asked that such a destination be left alone.
            CloseHandle(dest);
            SetError(ERROR_NOT_SUPPORTED, kNotRegularFile);
            return Status::DestinationUnwritable;
        }
        if (type != FILE_TYPE_DISK && GetLastError() == NO_ERROR) {
            file.inPlace = true;
            if (access == OutputAccess::Sequential) {
                file.handle = dest;
                return Status::Ok;
            }
            file.device = dest;
            file.handle = OpenPrivateStaging(scratch);
            if (file.handle == INVALID_HANDLE_VALUE) {
                file.handle = nullptr;
                return Status::DestinationUnwritable;
            }
            return Status::Ok;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(dest, &info)) {
            SetErrnoFromLastError();
            const KeepErrors keep;
            CloseHandle(dest);
            return Status::DestinationUnwritable;
        }
        CloseHandle(dest);
        if ((info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
            // Refused here, not only by the open: some layers let a
            // privileged caller open a read-only file for writing.
            SetError(ERROR_ACCESS_DENIED, (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : EACCES);
            return Status::DestinationUnwritable;
        }
        file.replacing = true;
        attributes |= info.dwFileAttributes & kKeptAttributes;
    }

    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        unsigned int random = 0;
        if (rand_s(&random) != 0) {
            SetError(ERROR_NOT_SUPPORTED);
            return Status::DestinationUnwritable;
        }
        file.tag = random;
        const wchar_t* temp = TempPath(names, file.tag);
        if (temp == nullptr) {
            return Status::DestinationUnwritable;
        }
        // Delete access: a failure removes the file through this handle.
        // Shared all ways, as the gate: the rename opens it again, and once
        // it has the destination's name another conversion's gate opens it.
        HANDLE handle = CreateFileW(temp, GENERIC_WRITE | DELETE, kShareAll, nullptr, CREATE_NEW, attributes, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file.handle = handle;
            return Status::Ok;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    SetErrnoFromLastError();
    return Status::DestinationUnwritable;
}

bool WriteOutput(OutputFile& file, const uint8_t* data, size_t size)
{
    return WriteAll(file.handle, data, size, nullptr);
}

// As pwrite does, the file's position is left where it was: a write at an
// offset through a handle opened for plain I/O moves it past what it wrote,
// and the sequential writes that follow would land there.
bool WriteOutputAt(OutputFile& file, uint64_t offset, const uint8_t* data, size_t size)
{
    LARGE_INTEGER position;
    const LARGE_INTEGER here{};
    if (!SetFilePointerEx(file.handle, here, &position, FILE_CURRENT)) {
        SetErrnoFromLastError();
        return false;
    }
    if (!WriteAll(file.handle, data, size, &offset)) {
        return false;
    }
    if (!SetFilePointerEx(file.handle, position, nullptr, FILE_BEGIN)) {
        SetErrnoFromLastError();
        return false;
    }
    return true;
}

bool SeekOutput(OutputFile& file, uint64_t offset)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file.handle, to, nullptr, FILE_BEGIN)) {
        SetErrnoFromLastError();
        return false;
    }
    return true;
}

Status CommitOutput(OutputFile& file, Scratch scratch)
{
    HANDLE handle = file.handle;
    if (file.inPlace) {
        bool done = file.device == nullptr || CopyToDevice(handle, file.device, scratch);
        if (file.device != nullptr) {
            const KeepErrors keep;
            CloseHandle(handle);  // the staging file goes with its handle
            handle = file.device;
            file.device = nullptr;
        }
        file.handle = nullptr;
        if (!CloseHandle(handle) && done) {
            SetErrnoFromLastError();
            done = false;
        }
        return done ? Status::Ok : Status::DestinationUnwritable;
    }
    // A new file is not flushed: nothing is lost if it does not last.
    bool done = !file.replacing || FlushFileBuffers(handle) != 0;
    if (!done) {
        SetErrnoFromLastError();
    }
    Names names;
    const wchar_t* temp = nullptr;
    done = done && Locate(file.path, scratch, names) && (temp = TempPath(names, file.tag)) != nullptr &&
           Replace(temp, names.dest);
    if (!done) {
        DiscardOutput(file);
        return Status::DestinationUnwritable;
    }
    // It has its name now; the handle holds nothing more to report.
    file.handle = nullptr;
    CloseHandle(handle);
    return Status::Ok;
}

void DiscardOutput(OutputFile& file)
{
    const KeepErrors keep;
    if (file.device != nullptr) {
        CloseHandle(file.device);
        file.device = nullptr;
    }
    if (file.handle == nullptr) {
        return;
    }
    if (!file.inPlace) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(file.handle, FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(file.handle);
    file.handle = nullptr;
}

}  // namespace kestova
