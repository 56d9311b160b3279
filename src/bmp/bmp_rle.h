// Run-length coded BMPs, BI_RLE8 (8 bits) and BI_RLE4 (4 bits), stored
// bottom row first. The coded data is a list of byte pairs:
//
//   n > 0, v     n pixels of palette entry v; with 4 bits, alternately the
//                entries of v's high and low nibble
//   0, 0         end of line: the rest of the row, and on to the next
//   0, 1         end of the picture
//   0, 2, dx, dy delta: dx pixels right and dy rows up
//   0, n >= 3    n pixels given one by one (8 bits: n bytes; 4 bits: n
//                nibbles, high first), padded to an even number of bytes
//
// Pixels a delta, an end of line or an early end of the picture pass over
// take palette entry 0. Runs past the row's end, deltas past the picture,
// indices past the palette and data ending before the end-of-picture code
// are refused.
#pragma once

#include "bmp_header.h"
#include "bmp_pixels.h"
#include "output_stream.h"
#include "platform/source_file.h"
#include "status.h"

namespace kestova {

// Decodes the picture and writes its rows into the TIFF's pixel area, top
// row first, at their final offsets: the rows come bottom row first, so a
// block of them is gathered in the output buffer from its end toward its
// start and written where it belongs. Nothing beyond one block is held.
Status WriteRleRows(SourceFile& source, const BmpInfo& info, const BmpPixelFormat& format, OutputStream& out);

}  // namespace kestova
