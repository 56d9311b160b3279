// The BMP headers the library reads, every check of their untrusted fields
// in one place.
//
// After the 14-byte file header ("BM", bfSize, reserved, bfOffBits at 10)
// comes an info header whose first field, biSize, tells its variant:
//
//   biSize  variant              sides                 palette entry
//       12  the oldest           unsigned 16-bit       3 bytes (B, G, R)
//   16, 64  the other old one    signed 32-bit         4 bytes (B, G, R, 0)
//       40  BITMAPINFOHEADER     signed 32-bit         4 bytes
//   52, 56  its V2 and V3        + masks R, G, B (, A) 4 bytes
//  108, 124 its V4 and V5        + masks R, G, B, A    4 bytes
//
// Beyond the 12-byte one they share their first fields: biWidth (4),
// biHeight (8, negative for rows stored top row first), biPlanes (12),
// biBitCount (14), biCompression (16), biSizeImage (20), biClrUsed (32),
// all counted from the info header's start; a 16-byte header stops after
// biBitCount. Masks, where the header has none, follow a 40-byte header:
// 12 bytes for BI_BITFIELDS, 16 for BI_ALPHABITFIELDS. Then the palette,
// biClrUsed entries (0: 2^bits), and the pixels at bfOffBits.
//
// Read: 1, 4 and 8 bits with a palette; 16 bits (5-5-5, or bit fields); 24
// bits; 32 bits (B, G, R and an unused byte, or bit fields with or without
// alpha); run lengths of 8 and 4 bits (BI_RLE8, BI_RLE4). Refused: JPEG and
// PNG inside a BMP, CMYK, the old variant's Huffman and 24-bit run lengths,
// masks wider than 8 bits or not contiguous, planes not 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "call_notes.h"
#include "row_copy.h"
#include "status.h"

namespace kestova {

// The most of the file's start the headers can take: the file header, the
// largest info header, and the 16 bytes of masks a 40-byte one may have.
constexpr size_t kBmpHeadBytes = 14 + 124 + 16;

enum class BmpCoding {
    Rgb,        // uncompressed; palette indices, 5-5-5, B G R, or B G R x
    Bitfields,  // uncompressed 16 or 32 bits, channels where the masks say
    Rle8,
    Rle4,
};

enum BmpChannel { kRed = 0, kGreen = 1, kBlue = 2, kAlpha = 3 };

struct BmpInfo {
    uint32_t width = 0;
    uint32_t height = 0;   // rows, whatever their order
    bool topDown = false;  // a negative height: the top row is stored first
    uint16_t bitCount = 0;
    BmpCoding coding = BmpCoding::Rgb;
    // For 16 and 32 bits: where each channel lies; alpha 0 when there is
    // none (or, for BI_RGB, when the format says the byte is unused).
    uint32_t masks[4] = {};
    uint64_t paletteOffset = 0;
    uint32_t paletteEntrySize = 4;
    uint32_t paletteEntries = 0;  // declared, at most 2^bitCount
    uint64_t pixelOffset = 0;     // bfOffBits
    uint32_t sizeImage = 0;       // biSizeImage, 0 where the header has none
    uint32_t infoSize = 0;        // biSize
};

// Checks the headers alone: `head` holds the first `length` bytes of the
// file (at most kBmpHeadBytes are looked at). NotSupported for anything
// the library does not read; TooLarge for a side over 65535 or more pixels
// than the call allows. The reason goes to `notes`. Does not look
// at the file's length, so a huge claim is judged before it.
Status ParseBmpHeaders(const uint8_t* head, size_t length, BmpInfo& info, CallNotes* notes);

// Bytes one stored row of an uncompressed picture holds, without padding.
uint64_t StoredRowBytes(const BmpInfo& info);

// Where the uncompressed rows lie in a file of `fileSize` bytes, and how far
// apart: padded to 4 bytes as the format says, or 3*W bytes apart in the
// library's own layout (bmp_layout.h) where the file is exactly that and
// biSizeImage does not name the padded size. NotSupported when the pixels
// would start inside the headers or the file is shorter than its rows (a
// padded file's last row may lack its padding).
Status LocateBmpRows(const BmpInfo& info, uint64_t fileSize, RowRun& rows, CallNotes* notes);

// Why run-length data that failed before the picture's end is refused:
// where biSizeImage bytes from bfOffBits would pass the file's end, the
// file is shorter than its header declares (the offset it must reach),
// else the codes broke a rule or stopped early. Returns NotSupported.
Status RefuseRunLengths(const BmpInfo& info, uint64_t fileSize, CallNotes* notes);

}  // namespace kestova
