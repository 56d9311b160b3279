// The one change the pixel data undergo: BMP stores a pixel blue, green,
// red and TIFF red, green, blue, so both directions exchange the first and
// third byte of every 3-byte pixel. This pass is all a conversion adds to a
// plain copy, so it uses vector instructions where the processor has them,
// and works in place: the rows are read straight into the output buffer
// and rearranged there, so one block of working storage serves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestova {

// Exchanges the first and third byte of each pixel of `size` bytes (a
// multiple of 3), in place.
void SwapPixels(uint8_t* pixels, size_t size);

// Rearranges `count` rows of `rowBytes` bytes (a multiple of 3), stored
// `stride` bytes apart from `block` on, into consecutive rows from `block`
// on, in stored order or last row first, and exchanges the bytes of each
// pixel as SwapPixels does.
void SwapRows(uint8_t* block, size_t count, size_t stride, size_t rowBytes, bool reversed);

}  // namespace kestova
