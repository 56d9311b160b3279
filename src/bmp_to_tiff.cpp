// Bmp2Tiff: a 24-bit BMP becomes a TIFF of the fixed layout.

#include "bmp_layout.h"
#include "conversion.h"
#include "kestovatiff.h"
#include "picture_limits.h"
#include "tiff_layout.h"

namespace kestova {
namespace {

// Reads and checks the headers, and finds the rows, before anything is
// written.
Status ReadBmpPicture(SourceFile& source, BmpPicture& picture, RowRun& rows)
{
    uint8_t head[kBmpHeadersSize];
    const size_t headLength = source.size < sizeof head ? static_cast<size_t>(source.size) : sizeof head;
    if (const Status status = ReadSource(source, 0, head, headLength); status != Status::Ok) {
        return status;
    }
    if (const Status status = ParseBmpHeaders(head, headLength, picture); status != Status::Ok) {
        return status;
    }
    // The TIFF's offsets are 32-bit: the whole file must stay below 4 GiB.
    // Judged from the header alone, before the file's length.
    if (PixelBytes(picture.width, picture.height) + kTiffLayoutOverhead > kMaxFileSize) {
        return Status::TooLarge;
    }
    return LocateBmpRows(picture, source.size, rows);
}

Status ConvertBmpToTiff(const char16_t* bmpPath, const char16_t* tiffPath)
{
    BmpPicture picture;
    RowRun rows;
    return Convert(
        bmpPath, tiffPath, [&](SourceFile& source, OutputAccess&) { return ReadBmpPicture(source, picture, rows); },
        [&](SourceFile& source, OutputStream& out) {
            const auto pixelBytes = static_cast<uint32_t>(PixelBytes(picture.width, picture.height));
            WriteTiffHeader(out, pixelBytes);
            // The TIFF stores the top row first.
            const RowOrder order = picture.topDown ? RowOrder::AsStored : RowOrder::Reversed;
            if (const Status status = CopyPixelRows(source, out, rows, order); status != Status::Ok) {
                return status;
            }
            WriteTiffDirectory(out, picture.width, picture.height, pixelBytes);
            return Status::Ok;
        });
}

}  // namespace
}  // namespace kestova

extern "C" int32_t Bmp2Tiff(const char16_t* bmpPath, const char16_t* tiffPath)
{
    return static_cast<int32_t>(kestova::ConvertBmpToTiff(bmpPath, tiffPath));
}
