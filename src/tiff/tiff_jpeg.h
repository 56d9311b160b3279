// The fields of a JPEG-compressed TIFF (Compression 7), checked before any
// output is touched. Read:
//
//   Photometric   samples   the streams' components
//   6 YCbCr       3 8-bit   YCbCr at any subsampling, converted to RGB
//   2 RGB         3 8-bit   RGB
//   1 grey        1 8-bit   grey, black at zero
//
// one plane, in strips or tiles, with or without JPEGTables. Old-style JPEG
// (Compression 6), one plane a sample and every other form are refused, as
// is JPEG in a build without libjpeg (the Windows DLLs). The streams
// themselves are checked as they are decoded (codecs/jpeg.h).
#pragma once

#include <cstdint>

#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_directory.h"
#include "tiff/tiff_image.h"

namespace kestova {

// Sets the JPEG fields of `image`, and turns `photometric` 6 into 2: the
// decoder gives RGB. FillOrder does not apply to JPEG's bytes (libtiff
// ignores it too), nor Predictor. NotSupported for a form not read.
Status ReadTiffJpeg(const SourceFile& source, const TiffDirectory& directory, uint64_t samples, uint64_t bits,
                    uint64_t planar, uint64_t& photometric, TiffImage& image);

}  // namespace kestova
