// Tiff2Bmp: an uncompressed RGB TIFF becomes a 24-bit BMP with unpadded
// rows, bottom row first.

#include "bmp/bmp_layout.h"
#include "conversion.h"
#include "kestovatiff.h"
#include "tiff_reader.h"

namespace kestova {
namespace {

Status ConvertTiffToBmp(const char16_t* tiffPath, const char16_t* bmpPath)
{
    TiffPicture picture;
    return Convert(
        tiffPath, bmpPath, [&](SourceFile& source, OutputAccess&) { return ReadTiffPicture(source, picture); },
        [&](SourceFile& source, OutputStream& out) {
            uint8_t headers[kBmpHeadersSize];
            FormatBmpHeaders(picture.width, picture.height, headers);
            out.PutBytes(headers, sizeof headers);
            // The TIFF's rows run top to bottom; the BMP stores the bottom row
            // first: strips from the last, and each strip's rows reversed.
            TiffValueReader offsets(source, picture.stripOffsets, picture.littleEndian);
            for (uint32_t strip = picture.strips; strip-- > 0;) {
                RowRun rows;
                Status status = TiffStripRows(picture, offsets, strip, rows);
                if (status == Status::Ok) {
                    status = CopyPixelRows(source, out, rows, RowOrder::Reversed);
                }
                if (status != Status::Ok) {
                    return status;
                }
            }
            return Status::Ok;
        });
}

}  // namespace
}  // namespace kestova

extern "C" int32_t Tiff2Bmp(const char16_t* tiffPath, const char16_t* bmpPath)
{
    return static_cast<int32_t>(kestova::ConvertTiffToBmp(tiffPath, bmpPath));
}
