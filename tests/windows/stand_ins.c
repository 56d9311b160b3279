/* The three functions as a DLL may wrongly export them: the export tables
 * the DLL check must refuse are built around these. */
#include <stdint.h>
#include <uchar.h>

int32_t Bmp2Tiff(const char16_t* bmpPath, const char16_t* tiffPath)
{
    return bmpPath == tiffPath ? -1 : -2;
}

int32_t Tiff2Bmp(const char16_t* tiffPath, const char16_t* bmpPath)
{
    return tiffPath == bmpPath ? -1 : -2;
}

int32_t KestovaConvert(const char16_t* source, const char16_t* destination, void* options)
{
    return source == destination && options == 0 ? -1 : -2;
}
