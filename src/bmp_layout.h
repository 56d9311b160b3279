// 24-bit BMP: a 14-byte file header, a 40-byte info header and the pixel
// rows, bottom row first, each pixel stored blue, green, red.
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
// this, so it stays.
//
// Read, besides that layout: rows padded to 4 bytes as other software
// writes them, pixels at bfOffBits (after a palette or a gap), the later
// info headers of 52, 56, 108 and 124 bytes, and top-down files (negative
// biHeight). Only 24 bits, one plane, no compression.
#pragma once

#include <cstddef>
#include <cstdint>

#include "row_copy.h"
#include "status.h"

namespace kestova {

constexpr size_t kBmpFileHeaderSize = 14;
constexpr size_t kBmpInfoHeaderSize = 40;
constexpr size_t kBmpHeadersSize = kBmpFileHeaderSize + kBmpInfoHeaderSize;

struct BmpPicture {
    uint32_t width = 0;
    uint32_t height = 0;    // rows, whatever their order
    bool topDown = false;   // a negative biHeight: the top row is stored first
    uint32_t infoSize = kBmpInfoHeaderSize;   // biSize
    uint32_t pixelOffset = kBmpHeadersSize;   // bfOffBits
};

// Checks the headers alone: `head` holds the first `length` bytes of the
// file (at most kBmpHeadersSize are looked at). NotSupported for anything
// but a 24-bit uncompressed one-plane BMP with a sane size; does not look at
// the file's length, so a huge claim can be judged before it.
Status ParseBmpHeaders(const uint8_t* head, size_t length, BmpPicture& picture);

// Where the rows lie in a file of `fileSize` bytes, and whether they are
// padded to 4 bytes. NotSupported when the pixels would start inside the
// headers or past the end, or the file is shorter than the rows need.
Status LocateBmpRows(const BmpPicture& picture, uint64_t fileSize, RowRun& rows);

// The two headers of a bottom-up 24-bit BMP of width x height with unpadded
// rows. The sides fit in a signed 32-bit field and the file in 32 bits.
void FormatBmpHeaders(uint32_t width, uint32_t height, uint8_t (&headers)[kBmpHeadersSize]);

}  // namespace kestova
