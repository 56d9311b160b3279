// The BMP to TIFF conversion's two steps, for Bmp2Tiff and KestovaConvert.
#pragma once

#include "bmp/bmp_header.h"
#include "bmp/bmp_pixels.h"
#include "output_stream.h"
#include "platform/source_file.h"
#include "row_copy.h"
#include "status.h"

namespace kestova {

struct BmpSource {
    BmpInfo info;
    RowRun rows;  // uncompressed forms
    BmpPixelFormat format;
};

// Reads and checks the headers, the palette or masks, and finds the rows,
// before anything is written.
Status ReadBmp(SourceFile& source, BmpSource& bmp, OutputAccess& access, uint64_t& size);

// Writes the TIFF of what ReadBmp found.
Status WriteTiff(SourceFile& source, const BmpSource& bmp, OutputStream& out);

}  // namespace kestova
