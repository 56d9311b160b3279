// Bmp2Tiff: a 24-bit BMP becomes a TIFF of the fixed layout.
//
// The source is opened and its headers checked before the destination is
// touched; the TIFF goes to a temporary file that replaces the destination
// only when it is complete.

#include "bmp_layout.h"
#include "kestovatiff.h"
#include "output_file.h"
#include "output_stream.h"
#include "picture_limits.h"
#include "row_copy.h"
#include "source_file.h"
#include "tiff_layout.h"

namespace kestova {
namespace {

Status ConvertBmpToTiff(const char16_t* bmpPath, const char16_t* tiffPath)
{
    if (bmpPath == nullptr || tiffPath == nullptr) {
        return Status::BadArgument;
    }
    SourceFile source;
    if (const Status status = OpenSource(bmpPath, source); status != Status::Ok) {
        return status;
    }

    uint8_t head[kBmpHeadersSize];
    const size_t headLength = source.size < sizeof head ? static_cast<size_t>(source.size) : sizeof head;
    BmpPicture picture;
    RowRun rows;
    Status status = ReadSource(source, 0, head, headLength);
    if (status == Status::Ok) {
        status = ParseBmpHeaders(head, headLength, picture);
    }
    // The TIFF's offsets are 32-bit: the whole file must stay below 4 GiB.
    if (status == Status::Ok &&
        PixelBytes(picture.width, picture.height) + kTiffLayoutOverhead > kMaxFileSize) {
        status = Status::TooLarge;
    }
    if (status == Status::Ok) {
        status = LocateBmpRows(picture, source.size, rows);
    }
    OutputFile file;
    if (status == Status::Ok) {
        status = OpenOutput(tiffPath, file);
    }
    if (status != Status::Ok) {
        CloseSource(source);
        return status;
    }

    // The TIFF stores the top row first.
    const auto pixelBytes = static_cast<uint32_t>(PixelBytes(picture.width, picture.height));
    OutputStream out(file);
    WriteTiffHeader(out, pixelBytes);
    status = CopyPixelRows(source, out, rows, picture.topDown ? RowOrder::AsStored : RowOrder::Reversed);
    if (status == Status::Ok) {
        WriteTiffDirectory(out, picture.width, picture.height, pixelBytes);
        status = out.Finish();
    }
    CloseSource(source);
    if (status != Status::Ok) {
        DiscardOutput(file);
        return status;
    }
    return CommitOutput(file);
}

}  // namespace
}  // namespace kestova

extern "C" int32_t Bmp2Tiff(const char16_t* bmpPath, const char16_t* tiffPath)
{
    return static_cast<int32_t>(kestova::ConvertBmpToTiff(bmpPath, tiffPath));
}
