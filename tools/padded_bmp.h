// BMPs with rows padded to 4 bytes, the layout other programs expect. The
// shared library exports only its two functions; the host is built from
// the library's objects and reaches the padded writer inside them.
#pragma once

#include <cstdint>

namespace kestovatiff_cli {

// Tiff2Bmp, but each row of the BMP padded with zeros to a multiple of 4
// bytes, bfSize and biSizeImage counting the padding. The same result
// values, and the same staged, never partial, output.
int32_t Tiff2PaddedBmp(const char16_t* tiffPath, const char16_t* bmpPath);

}  // namespace kestovatiff_cli
