// Deflate (TIFF compression 8, and 32946 as older writers numbered it): a
// zlib stream, inflated by zlib. zlib allocates through the functions it is
// given: here they hand out pieces of an arena the caller lends (its state
// and its 32 KiB window, about 40 KiB), so no heap is used, and a stream
// that asks for more is refused.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "status.h"

namespace kestova {

constexpr size_t kDeflateArenaBytes = size_t{40} * 1024;

struct DeflateDecoder {
    z_stream stream{};
    uint8_t* arena = nullptr;
    size_t arenaUsed = 0;
    bool open = false;
    bool ended = false;  // the stream's end was reached
};

// Prepares a decoder for one strip or tile, its memory from `arena` (at
// least kDeflateArenaBytes, aligned for any object).
Status DeflateStart(DeflateDecoder& decoder, void* arena);

// Inflates exactly `size` bytes into `out`. NotSupported for a damaged
// stream or one that ends first; the source's status on a read error.
Status DeflateRead(DeflateDecoder& decoder, ByteSource& source, uint8_t* out, size_t size);

// Whether the stream has nothing more to give.
bool DeflateDone(DeflateDecoder& decoder, ByteSource& source);

// Lets zlib go; safe on a decoder that did not start.
void DeflateEnd(DeflateDecoder& decoder);

}  // namespace kestova
