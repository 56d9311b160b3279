// The source on Windows: the UTF-16 path goes straight to the wide-character
// open, and reads go through the runtime's stream at 64-bit offsets.

#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "native_path.h"
#include "source_file.h"

namespace kestova {

Status OpenSource(const char16_t* path, SourceFile& file)
{
    NativePath name;
    if (const Status status = ToNativePath(path, name); status != Status::Ok) {
        return status;
    }
    const DWORD attributes = GetFileAttributesW(name.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EISDIR;
        return Status::SourceUnreadable;
    }
    std::FILE* stream = _wfopen(name.text, L"rb");
    if (stream == nullptr) {
        return Status::SourceUnreadable;
    }
    struct _stat64 info {};
    if (_fstat64(_fileno(stream), &info) != 0 || (info.st_mode & _S_IFREG) == 0) {
        const int error = errno == 0 ? ESPIPE : errno;
        std::fclose(stream);
        errno = error;
        return Status::SourceUnreadable;
    }
    // The conversion reads whole blocks of its own; no second buffer.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    file.handle = stream;
    file.size = static_cast<uint64_t>(info.st_size);
    return Status::Ok;
}

Status ReadSource(SourceFile& file, uint64_t offset, uint8_t* buffer, size_t size)
{
    auto* stream = static_cast<std::FILE*>(file.handle);
    if (_fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) != 0) {
        return Status::SourceUnreadable;
    }
    const size_t got = std::fread(buffer, 1, size, stream);
    if (got == size) {
        return Status::Ok;
    }
    return std::ferror(stream) != 0 ? Status::SourceUnreadable : Status::NotSupported;
}

void CloseSource(SourceFile& file)
{
    if (file.handle != nullptr) {
        const int saved = errno;
        std::fclose(static_cast<std::FILE*>(file.handle));
        file.handle = nullptr;
        errno = saved;
    }
}

}  // namespace kestova
