// The source picture, opened read-only and read at explicit offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "status.h"

namespace kestova {

struct SourceFile {
#if defined(_WIN32)
    void* handle = nullptr;  // a HANDLE
#else
    int fd = -1;
#endif
    uint64_t size = 0;
};

// SourceUnreadable when the OS refuses (errno says why), also for a
// directory (EISDIR) or anything that is not a regular file (ESPIPE): the
// conversion needs the file's size and reads it out of order.
Status OpenSource(const char16_t* path, SourceFile& file);

// Reads exactly `size` bytes at `offset`. A file that ends early (it shrank
// after its size was checked) is NotSupported: it is shorter than its
// headers promise.
Status ReadSource(SourceFile& file, uint64_t offset, uint8_t* buffer, size_t size);

// Safe to call on a file that did not open, and more than once.
void CloseSource(SourceFile& file);

}  // namespace kestova
