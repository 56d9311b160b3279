// How the stored pixels of a BMP that is not 24-bit become blue, green and
// red: palette indices of 1, 4 and 8 bits looked up, 16- and 32-bit pixels
// taken apart by their masks. Each channel of n bits, value v, becomes the
// nearest 8-bit value, round(v * 255 / (2^n - 1)): by a table up to 8 bits,
// by the rule itself for wider ones (read with KESTOVA_FLAG_REDUCE only).
//
// Rows are expanded where they were read, in the output buffer: the
// expansion runs backward where the stored row is shorter than its B, G, R
// (so each write lands on bytes already read), forward where it is longer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bmp_header.h"
#include "output_stream.h"
#include "platform/source_file.h"
#include "row_copy.h"
#include "status.h"

namespace kestova {

struct BmpPixelFormat {
    uint16_t bitCount = 0;
    // A palette; indices at or past `colours` are refused. Each entry is a
    // spare byte, then blue, green, red: four bytes that one store can put
    // down, the spare one landing where the pixel before goes.
    uint32_t colours = 0;
    uint8_t palette[256][4] = {};
    // Bit fields: each channel's mask, where it starts, and its values
    // scaled to 8 bits. Alpha is checked, never kept.
    uint32_t masks[4] = {};
    unsigned shifts[4] = {};
    uint8_t scaled[3][256] = {};
    // A channel wider than 8 bits: its largest value, 2^n - 1 (0 for one
    // that the table scales, or alpha of 8 bits or fewer); `wide` if any
    // is. Alpha so wide is reduced to 8 bits as the colours are before it
    // is judged opaque or composited.
    uint32_t most[4] = {};
    bool wide = false;
    // 32 bits whose channels are whole bytes: where each one lies (-1 for
    // no alpha), so that a byte shuffle takes them apart.
    bool wholeBytes = false;
    int bytes[4] = {};
    // The caller's colour for partly transparent pixels, blue, green, red,
    // where it asked for them flattened (KESTOVA_FLAG_FLATTEN).
    bool flatten = false;
    uint8_t background[3] = {};
};

// Whether the pixels' alpha is all opaque, or all zero (which writers use
// for "no alpha"). A mix, or any value in between, is refused: the TIFF
// written has no alpha, and dropping it would change the picture.
struct AlphaSeen {
    bool opaque = false;
    bool clear = false;
    // Where the caller asks for flattening and the alpha is not all zero
    // (BmpAlphaInUse): each pixel composited over the background instead.
    bool composite = false;
};

// Reads the palette (the entries that lie before the pixels) or prepares
// the masks.
Status PrepareBmpPixels(SourceFile& source, const BmpInfo& info, BmpPixelFormat& format);

// Whether any stored pixel of `rows` has alpha other than zero: read
// through `out`'s room, before any row is kept, for a picture to flatten.
Status BmpAlphaInUse(SourceFile& source, OutputStream& out, const RowRun& rows, const BmpPixelFormat& format,
                     bool& inUse);

// Turns `count` stored rows of `width` pixels, `stride` bytes apart from
// `block` on, into rows of 3 * width bytes, blue, green, red, from `block`
// on. The block has room for count * max(stride, 3 * width) bytes.
// NotSupported for an index past the palette or alpha that is not all
// opaque or all zero (unless composited).
Status ExpandBmpRows(const BmpPixelFormat& format, uint8_t* block, size_t count, size_t stride, size_t width,
                     AlphaSeen& alpha);

}  // namespace kestova
