// The destination on Windows: a temporary file beside it, created with the
// wide-character open and moved over the destination with the platform's
// replace-existing rename once complete.

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "output_file.h"

namespace kestova {
namespace {

// errno for the Win32 errors a rename meets.
int ErrnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

}  // namespace

Status OpenOutput(const char16_t* path, OutputFile& file)
{
    if (const Status status = ToNativePath(path, file.finalPath); status != Status::Ok) {
        return status;
    }
    const DWORD attributes = GetFileAttributesW(file.finalPath.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EISDIR;
        return Status::DestinationUnwritable;
    }

    const wchar_t* slash = nullptr;
    for (const wchar_t* p = file.finalPath.text; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':') {
            slash = p;
        }
    }
    const int dirLength = slash == nullptr ? 0 : static_cast<int>(slash - file.finalPath.text) + 1;
    const wchar_t* base = file.finalPath.text + dirLength;
    const int baseLength = static_cast<int>(std::wcslen(base) < 200 ? std::wcslen(base) : 200);

    unsigned seed = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ GetCurrentThreadId();
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 1664525u + 1013904223u;
        const int length = _snwprintf(file.tempPath.text, kMaxNativePath, L"%.*ls.%.*ls.%08x.tmp", dirLength,
                                      file.finalPath.text, baseLength, base, seed);
        if (length < 0 || length >= static_cast<int>(kMaxNativePath)) {
            errno = ENAMETOOLONG;
            return Status::DestinationUnwritable;
        }
        int fd = -1;
        const errno_t error = _wsopen_s(&fd, file.tempPath.text, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                                        _SH_DENYNO, _S_IREAD | _S_IWRITE);
        if (error == 0) {
            std::FILE* stream = _wfdopen(fd, L"wb");
            if (stream == nullptr) {
                _close(fd);
                DiscardOutput(file);
                return Status::DestinationUnwritable;
            }
            std::setvbuf(stream, nullptr, _IONBF, 0);  // the writer buffers
            file.handle = stream;
            return Status::Ok;
        }
        if (error != EEXIST) {
            errno = error;
            return Status::DestinationUnwritable;
        }
    }
    return Status::DestinationUnwritable;
}

bool WriteOutput(OutputFile& file, const uint8_t* data, size_t size)
{
    return std::fwrite(data, 1, size, static_cast<std::FILE*>(file.handle)) == size;
}

Status CommitOutput(OutputFile& file)
{
    auto* stream = static_cast<std::FILE*>(file.handle);
    file.handle = nullptr;
    if (std::fclose(stream) != 0) {
        const int saved = errno;
        _wremove(file.tempPath.text);
        errno = saved;
        return Status::DestinationUnwritable;
    }
    if (!MoveFileExW(file.tempPath.text, file.finalPath.text, MOVEFILE_REPLACE_EXISTING)) {
        const int saved = ErrnoFor(GetLastError());
        _wremove(file.tempPath.text);
        errno = saved;
        return Status::DestinationUnwritable;
    }
    return Status::Ok;
}

void DiscardOutput(OutputFile& file)
{
    const int saved = errno;
    if (file.handle != nullptr) {
        std::fclose(static_cast<std::FILE*>(file.handle));
        file.handle = nullptr;
    }
    _wremove(file.tempPath.text);
    errno = saved;
}

}  // namespace kestova
