// The one change the pixel data undergo: BMP stores a pixel blue, green,
// red and TIFF red, green, blue, so both directions exchange the first and
// third byte of every 3-byte pixel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestova {

// Copies `size` bytes (a multiple of 3) from `from` to `to`, exchanging the
// first and third byte of each pixel. The ranges must not overlap.
inline void SwapPixels(uint8_t* to, const uint8_t* from, size_t size)
{
    for (size_t i = 0; i < size; i += 3) {
        to[i] = from[i + 2];
        to[i + 1] = from[i + 1];
        to[i + 2] = from[i];
    }
}

}  // namespace kestova
