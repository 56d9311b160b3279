#include "padded_bmp.h"

#include "tiff_to_bmp.h"

namespace kestovatiff_cli {

int32_t Tiff2PaddedBmp(const char16_t* tiffPath, const char16_t* bmpPath)
{
    return static_cast<int32_t>(kestova::ConvertTiffToBmp(tiffPath, bmpPath, kestova::BmpRows::Padded));
}

}  // namespace kestovatiff_cli
