#include "padded_bmp.h"

#include "kestovatiff.h"

namespace kestovatiff_cli {

int32_t Tiff2PaddedBmp(const char16_t* tiffPath, const char16_t* bmpPath)
{
    KestovaOptions options = {sizeof options, KESTOVA_FLAG_PADDED_ROWS, 0, 0, 0, 0};
    return KestovaConvert(tiffPath, bmpPath, &options);
}

}  // namespace kestovatiff_cli
