// The one change the pixel data undergo: BMP stores a pixel blue, green,
// red and TIFF red, green, blue, so both directions exchange the first and
// third byte of every 3-byte pixel. This pass is all a conversion adds to a
// plain copy, so it uses vector instructions where the processor has them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestova {

// Copies `size` bytes (a multiple of 3) from `from` to `to`, exchanging the
// first and third byte of each pixel. The ranges must not overlap.
void SwapPixels(uint8_t* to, const uint8_t* from, size_t size);

// Copies `count` rows of `rowBytes` bytes, stored `stride` bytes apart from
// `block` on, to consecutive rows at `to`, in stored order or last row
// first, exchanging the bytes of each pixel as SwapPixels does.
void SwapRows(uint8_t* to, const uint8_t* block, size_t count, size_t stride, size_t rowBytes, bool reversed);

}  // namespace kestova
