// Checks a TIFF source and finds its picture.
#pragma once

#include <cstdint>

#include "row_copy.h"
#include "source_file.h"
#include "status.h"

namespace kestova {

struct TiffPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    RowRun rows;  // the pixel rows, top row first
};

// Reads what it needs of the source and checks it before anything is
// written. NotSupported for a file this library does not read, TooLarge for
// a picture whose BMP would pass 4 GiB - 1 bytes.
Status ReadTiffPicture(SourceFile& source, TiffPicture& picture);

}  // namespace kestova
