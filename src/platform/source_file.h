// The source picture, opened read-only and read at explicit offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "call_notes.h"
#include "status.h"

namespace kestova {

struct SourceFile {
#if defined(_WIN32)
    void* handle = nullptr;  // a HANDLE
#else
    int fd = -1;
#endif
    uint64_t size = 0;
    // A source held in memory instead (tests and fuzzing of the readers):
    // `size` bytes here, no file.
    const uint8_t* memory = nullptr;
    // The call's limits and reason (call_notes.h); none for a scratch file.
    CallNotes* notes = nullptr;
    // The file's first bytes, read at once where its kind is looked for
    // (ReadSourceHead): the headers that follow are read from here, not
    // with a system call each. None for a scratch file, which is written.
    uint8_t head[256] = {};
    size_t headSize = 0;
};

// Whether `size` bytes at `offset` lie in the bytes read ahead, and are
// then copied from there.
inline bool ReadFromHead(const SourceFile& file, uint64_t offset, uint8_t* buffer, size_t size)
{
    if (offset > file.headSize || file.headSize - offset < size) {
        return false;
    }
    std::memcpy(buffer, file.head + offset, size);
    return true;
}

// The readers' hook for the reason of a refusal: records it in the call's
// notes and returns `status`, as `return Refuse(source, ...)`.
inline Status Refuse(const SourceFile& source, Status status, KestovaReason reason, uint64_t value = 0)
{
    return Refuse(source.notes, status, reason, value);
}

// Whether a picture of `pixels` stays within the call's limit; false with
// the reason recorded.
inline bool PixelsAllowed(const SourceFile& source, uint64_t pixels) { return PixelsAllowed(source.notes, pixels); }

// Whether deeper samples are reduced to 8 bits (call_notes.h).
inline bool ReduceAllowed(const SourceFile& source) { return ReduceAllowed(source.notes); }

inline SourceFile MemorySourceFile(const uint8_t* data, size_t size)
{
    SourceFile file;
    file.size = size;
    file.memory = data;
    return file;
}

// The read of a memory source; the same rule as a file that ends early.
inline Status ReadMemorySource(const SourceFile& file, uint64_t offset, uint8_t* buffer,
                               size_t size)
{
    if (offset > file.size || file.size - offset < size) {
        return Refuse(file, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, offset + size);
    }
    std::memcpy(buffer, file.memory + offset, size);
    return Status::Ok;
}

// SourceUnreadable when the OS refuses (errno says why), also for a
// directory (EISDIR) or anything that is not a regular file (ESPIPE): the
// conversion needs the file's size and reads it out of order.
Status OpenSource(const char16_t* path, SourceFile& file);

// Reads exactly `size` bytes at `offset`. A file that ends early (it shrank
// after its size was checked) is NotSupported: it is shorter than its
// headers promise.
Status ReadSource(SourceFile& file, uint64_t offset, uint8_t* buffer, size_t size);

// Reads the file's first bytes, as many as `head` holds or the file has,
// into `head`.
inline Status ReadSourceHead(SourceFile& file)
{
    const size_t want = file.size < sizeof file.head ? static_cast<size_t>(file.size) : sizeof file.head;
    const Status status = ReadSource(file, 0, file.head, want);
    file.headSize = status == Status::Ok ? want : 0;
    return status;
}

// Safe to call on a file that did not open, and more than once.
void CloseSource(SourceFile& file);

}  // namespace kestova
