// TIFFs with one plane a sample (PlanarConfiguration 2): all the reds, then
// all the greens, the blues (and alphas). The BMP needs the three of a
// pixel together, so rows of every plane are read a block at a time and
// interleaved, bottom row first, straight into the output. Uncompressed
// strips are read where they lie; any other plane (compressed, tiled,
// predicted, bits reversed) is first decoded into a private scratch file,
// plane after plane, whose rows are then read the same way.
#pragma once

#include "output_stream.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_image.h"

namespace kestova {

// 8-bit RGB (and alpha), or YCbCr without subsampling, in planes, after the
// BMP's headers.
Status WriteTiffPlanes(SourceFile& source, const TiffImage& image, OutputStream& out);

}  // namespace kestova
