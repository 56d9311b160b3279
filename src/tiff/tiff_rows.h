// The rows of any TIFF the library reads, decoded chunk by chunk, into the
// BMP's pixel area. A compressed chunk is read only forward while the BMP
// stores the bottom row first, so each row goes to its final place through
// positioned writes: a window of whole rows for strips (filled from its
// end for pictures stored top row first), a row's piece at a time for
// tiles. Orientation 2 and 3 mirror each row; 3 and 4 store the bottom row
// first.
//
// The output buffer is lent out whole: the decoder's arena, a piece of
// decoded bytes, and the window.
#pragma once

#include "output_stream.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_pixels.h"

namespace kestova {

// The BMP's pixel area starts here.
constexpr uint64_t kBmpPixelOffset = 54;

// Where stored row y goes: the BMP's row (bottom row first), and whether
// each row is mirrored, as Orientation 1 to 4 say; a row of blue-green-red
// pixels mirrored in place.
uint64_t TiffBmpRow(const TiffImage& image, uint64_t y);
bool TiffRowsMirrored(const TiffImage& image);
void MirrorTiffRow(uint8_t* row, uint64_t pixels);

// One plane a pixel (chunky), strips or tiles.
Status WriteTiffRows(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out);

}  // namespace kestova
