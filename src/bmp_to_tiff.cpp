// Bmp2Tiff: a BMP of any form the library reads becomes a TIFF of the fixed
// layout. 24-bit rows are copied with their bytes exchanged; rows of other
// forms are expanded to blue, green, red first; run-length coded rows are
// decoded bottom row first and written at their places.

#include "bmp_to_tiff.h"

#include "bmp/bmp_rle.h"
#include "bmp/bmp_rows.h"
#include "conversion.h"
#include "kestovatiff.h"
#include "picture_limits.h"
#include "tiff_layout.h"

namespace kestova {
namespace {

bool RunLengths(const BmpInfo& info) { return info.coding == BmpCoding::Rle8 || info.coding == BmpCoding::Rle4; }

}  // namespace

Status ReadBmp(SourceFile& source, BmpSource& bmp, OutputAccess& access, uint64_t& size)
{
    uint8_t head[kBmpHeadBytes];
    const size_t headLength = source.size < sizeof head ? static_cast<size_t>(source.size) : sizeof head;
    if (const Status status = ReadSource(source, 0, head, headLength); status != Status::Ok) {
        return status;
    }
    BmpInfo& info = bmp.info;
    if (const Status status = ParseBmpHeaders(head, headLength, info, source.notes); status != Status::Ok) {
        return status;
    }
    // The TIFF's offsets are 32-bit: the whole file must stay below 4 GiB.
    // Judged from the header alone, before the file's length.
    size = PixelBytes(info.width, info.height) + kTiffLayoutOverhead;
    if (size > kMaxFileSize) {
        return Refuse(source, Status::TooLarge, KESTOVA_REASON_FILE_TOO_LARGE);
    }
    if (info.pixelOffset > source.size) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, info.pixelOffset);
    }
    if (RunLengths(info)) {
        access = OutputAccess::Positioned;  // rows come bottom first
    } else if (const Status status = LocateBmpRows(info, source.size, bmp.rows, source.notes); status != Status::Ok) {
        return status;
    }
    return info.bitCount == 24 ? Status::Ok : PrepareBmpPixels(source, info, bmp.format);
}

Status WriteTiff(SourceFile& source, const BmpSource& bmp, OutputStream& out)
{
    const BmpInfo& info = bmp.info;
    const auto pixelBytes = static_cast<uint32_t>(PixelBytes(info.width, info.height));
    WriteTiffHeader(out, pixelBytes);
    Status status;
    if (RunLengths(info)) {
        // The header goes out first, leaving the output buffer free for
        // the rows, which go to their offsets; the directory then follows
        // where they end.
        out.MoveTo(kTiffPixelOffset + pixelBytes);
        status = WriteRleRows(source, info, bmp.format, out);
        if (status == Status::NotSupported) {
            (void)RefuseRunLengths(info, source.size, source.notes);
        }
    } else {
        // The TIFF stores the top row first.
        const RowOrder order = info.topDown ? RowOrder::AsStored : RowOrder::Reversed;
        status = info.bitCount == 24 ? CopyPixelRows(source, out, bmp.rows, order)
                                     : CopyBmpRows(source, out, bmp.rows, info.width, bmp.format, order);
    }
    if (status != Status::Ok) {
        return status;
    }
    WriteTiffDirectory(out, info.width, info.height, pixelBytes);
    return Status::Ok;
}

namespace {

Status ConvertBmpToTiff(const char16_t* bmpPath, const char16_t* tiffPath)
{
    BmpSource bmp;
    CallNotes notes;
    return Convert(
        bmpPath, tiffPath, notes,
        [&](SourceFile& source, OutputAccess& access, uint64_t& size) { return ReadBmp(source, bmp, access, size); },
        [&](SourceFile& source, OutputStream& out) { return WriteTiff(source, bmp, out); });
}

}  // namespace
}  // namespace kestova

extern "C" int32_t Bmp2Tiff(const char16_t* bmpPath, const char16_t* tiffPath)
{
    return static_cast<int32_t>(kestova::ConvertBmpToTiff(bmpPath, tiffPath));
}
