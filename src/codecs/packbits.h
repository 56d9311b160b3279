// PackBits (TIFF compression 32773): a byte n, then
//   0..127     n + 1 bytes copied as they are
//   -127..-1   the next byte, 1 - n times
//   -128       nothing (a byte some writers use as padding)
// Every count is checked against the bytes asked for and the bytes there
// are: a run that passes the end of what is asked for carries on in the next
// call, and data that ends early is refused.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "status.h"

namespace kestova {

struct PackBitsDecoder {
    uint32_t repeat = 0;   // bytes of `value` still owed
    uint32_t literal = 0;  // literal bytes still owed
    uint8_t value = 0;
};

// Decodes exactly `size` bytes into `out`. NotSupported when the data ends
// first, or the source's status on a read error.
Status PackBitsRead(PackBitsDecoder& decoder, ByteSource& source, uint8_t* out, size_t size);

// Whether the rest of the data would decode to nothing more: only no-op
// bytes, or none.
bool PackBitsDone(PackBitsDecoder& decoder, ByteSource& source);

}  // namespace kestova
