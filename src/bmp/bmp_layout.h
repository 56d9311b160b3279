// The one BMP layout the library writes: a 14-byte file header, a 40-byte
// info header and 24-bit pixel rows, bottom row first, each pixel stored
// blue, green, red.
//
//   offset  size  field            written
//        0     2  bfType           "BM"
//        2     4  bfSize           54 + 3*W*H (the whole file)
//        6     4  bfReserved1/2    0
//       10     4  bfOffBits        54
//       14     4  biSize           40
//       18     4  biWidth          W
//       22     4  biHeight         H (positive: rows stored bottom-up)
//       26     2  biPlanes         1
//       28     2  biBitCount       24
//       30     4  biCompression    0 (BI_RGB)
//       34     4  biSizeImage      3*W*H
//       38    16  resolution and colour counts, all 0
//       54        pixel rows, 3*W bytes each, not padded to 4 bytes
//
// The rows the library writes are exactly 3*W bytes long, without the
// padding to a multiple of 4 that the published format asks for; for widths
// that are a multiple of 4 the two agree. Stored files and peers rely on
// this, so it stays. The host can ask for rows padded to 4 bytes (zeros),
// which other software expects; bfSize and biSizeImage then count the
// padding. What the library reads is in bmp_header.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestova {

constexpr size_t kBmpFileHeaderSize = 14;
constexpr size_t kBmpInfoHeaderSize = 40;
constexpr size_t kBmpHeadersSize = kBmpFileHeaderSize + kBmpInfoHeaderSize;

enum class BmpRows { Unpadded, Padded };

// The bytes a row takes in the file.
constexpr uint64_t StoredBmpRowBytes(uint64_t width, BmpRows rows)
{
    return rows == BmpRows::Padded ? (3 * width + 3) / 4 * 4 : 3 * width;
}

// The two headers of a bottom-up 24-bit BMP of width x height. The sides
// fit in a signed 32-bit field and the file in 32 bits.
void FormatBmpHeaders(uint32_t width, uint32_t height, uint8_t (&headers)[kBmpHeadersSize],
                      BmpRows rows = BmpRows::Unpadded);

}  // namespace kestova
