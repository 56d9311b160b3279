// The TIFF to BMP conversion's two steps, for Tiff2Bmp and KestovaConvert.
#pragma once

#include "bmp/bmp_layout.h"
#include "output_stream.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_pixels.h"

namespace kestova {

struct TiffSource {
    BmpRows rows = BmpRows::Unpadded;  // what the caller asked for
    TiffImage image;
    TiffPixelFormat format;
    bool copied = false;  // the common form, copied as it is stored
};

// Reads and checks the TIFF's first image, and that the BMP of it, with
// the rows asked for, stays within the format's sizes, before anything is
// written.
Status ReadTiff(SourceFile& source, TiffSource& tiff, OutputAccess& access, uint64_t& size);

// Writes the BMP of what ReadTiff found: the rows unpadded (the library's
// own layout) or padded to 4 bytes (the format's).
Status WriteBmp(SourceFile& source, const TiffSource& tiff, OutputStream& out);

}  // namespace kestova
