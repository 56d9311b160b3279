// The TIFF to BMP conversion inside the build. Tiff2Bmp writes the
// library's own rows; the host links the library's objects to ask for rows
// padded to 4 bytes, which the shared library does not export.
#pragma once

#include "bmp/bmp_layout.h"
#include "status.h"

namespace kestova {

// Tiff2Bmp, with the rows chosen: staged and put in place only when
// complete, as every conversion.
Status ConvertTiffToBmp(const char16_t* tiffPath, const char16_t* bmpPath, BmpRows rows);

}  // namespace kestova
