// The rows of an uncompressed BMP that is not 24-bit, into the TIFF's pixel
// area: read a block at a time into the output buffer, expanded there to
// blue, green, red, then put in the TIFF's order (top row first, red, green,
// blue) in place.
#pragma once

#include "bmp_pixels.h"
#include "output_stream.h"
#include "platform/source_file.h"
#include "row_copy.h"
#include "status.h"

namespace kestova {

// `rows` as LocateBmpRows found them; `width` pixels a row. The caller has
// checked that the rows lie inside the source.
Status CopyBmpRows(SourceFile& source, OutputStream& out, const RowRun& rows, uint32_t width,
                   const BmpPixelFormat& format, RowOrder order);

}  // namespace kestova
