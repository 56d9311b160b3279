// Where a decoder's input comes from: a run of bytes read forward, a piece
// at a time. A piece is a block of memory (tests, fuzzing) or the next
// buffer-full of a strip or tile read from the file; the decoder does not
// know which. At the end, `refill` returns false and leaves `status` Ok;
// on a read error it returns false and sets `status`.
#pragma once

#include <cstddef>
#include <cstdint>

#include "status.h"

namespace kestova {

struct ByteSource {
    const uint8_t* next = nullptr;  // the current piece's unread bytes
    const uint8_t* end = nullptr;
    bool (*refill)(ByteSource& source) = nullptr;  // null: one piece only
    void* context = nullptr;
    Status status = Status::Ok;
};

inline ByteSource MemorySource(const uint8_t* data, size_t size) { return ByteSource{data, data + size}; }

inline bool Refill(ByteSource& source) { return source.refill != nullptr && source.refill(source); }

// The next byte; false at the end of the input (or on a read error).
inline bool NextByte(ByteSource& source, uint8_t& byte)
{
    if (source.next == source.end && !Refill(source)) {
        return false;
    }
    byte = *source.next++;
    return true;
}

// Whether any byte is left.
inline bool MoreBytes(ByteSource& source) { return source.next != source.end || Refill(source); }

}  // namespace kestova
