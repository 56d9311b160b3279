// The rows of a YCbCr picture whose chroma is subsampled, decoded chunk by
// chunk into the BMP's pixel area. A chunk's data units come a row of
// blocks at a time, each row of blocks `down` picture rows high and the
// chunk's width rounded up to whole blocks (so are the chunk's rows: the
// last row of blocks of a short last strip is stored whole). A row of
// blocks is decoded a piece at a time into the piece buffer, converted
// into the window and written row by row at the rows' places: whole rows
// when a row of blocks fits the window (one write for them all where they
// span the picture's width), else each piece's part of each row.
#pragma once

#include "output_stream.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_pixels.h"

namespace kestova {

// Strips or tiles, one plane, in Orientation 1 to 4, every chunk decoded
// whole (wholeLastChunks). Called in place of WriteTiffRows, not from it:
// its frame, holding the other forms' strip tables, would add to the
// stack this one needs.
Status WriteYCbCrRows(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out);

}  // namespace kestova
