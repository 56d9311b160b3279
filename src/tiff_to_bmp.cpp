// Tiff2Bmp: a TIFF of any form the library reads becomes a 24-bit BMP with
// unpadded rows (padded ones for a caller of KestovaConvert that asks),
// bottom row first. The common form, uncompressed 8-bit RGB in strips from
// the top left, is copied a block of rows at a time with its bytes
// exchanged; every other form is decoded chunk by chunk and its
// rows put at their places.

#include "tiff_to_bmp.h"

#include "conversion.h"
#include "kestovatiff.h"
#include "picture_limits.h"
#include "row_copy.h"
#include "tiff/tiff_planes.h"
#include "tiff/tiff_rows.h"
#include "tiff/tiff_transpose.h"
#include "tiff/tiff_ycbcr_rows.h"

namespace kestova {
namespace {

Status ReadTiffImageAndPixels(SourceFile& source, TiffSource& tiff, OutputAccess& access)
{
    if (const Status status = ReadTiffImage(source, tiff.image); status != Status::Ok) {
        return status;
    }
    tiff.copied = TiffRowsCopied(tiff.image);
    if (tiff.copied || (tiff.image.planar && !TiffTransposed(tiff.image))) {
        return Status::Ok;  // written in order, bottom row first
    }
    access = OutputAccess::Positioned;  // rows are put at their places
    return PrepareTiffPixels(source, tiff.image, tiff.format);
}

// The strips from the last, each one's rows reversed: the bottom row first.
// Strips that follow each other in the file are read as one run of rows.
// The strip tables are taken a block of values at a time: a picture may
// have millions of one-row strips.
Status CopyStrips(SourceFile& source, const TiffImage& image, OutputStream& out)
{
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    const uint64_t rowBytes = RowBytes(image.width);
    RowRun run;
    uint64_t total = 0;
    for (uint64_t end = image.down; end > 0;) {
        const uint64_t* offsetValues = nullptr;
        const uint64_t* countValues = nullptr;
        uint64_t first = 0;
        uint64_t count = 0;
        if (const Status status = offsets.Block(end - 1, offsetValues, first, count); status != Status::Ok) {
            return status;
        }
        if (image.byteCounts.present) {
            uint64_t countsFirst = 0;
            uint64_t countsCount = 0;
            if (const Status status = counts.Block(end - 1, countValues, countsFirst, countsCount);
                status != Status::Ok) {
                return status;
            }
        }
        for (uint64_t strip = end; strip-- > first;) {
            const auto down = static_cast<uint32_t>(strip);
            const uint64_t rows = ChunkRows(image, down);
            const uint64_t offset = offsetValues[strip - first];
            // Without StripByteCounts, a strip holds its rows exactly.
            const uint64_t bytes = countValues != nullptr ? countValues[strip - first] : rows * rowBytes;
            if (const Status status = CheckChunk(source, image, offset, bytes, down, total); status != Status::Ok) {
                return status;
            }
            if (run.rows > 0 && offset + rows * rowBytes == run.offset) {
                run.offset = offset;  // this strip's rows end where the run's begin
                run.rows += rows;
                continue;
            }
            if (const Status status = CopyPixelRows(source, out, run, RowOrder::Reversed); status != Status::Ok) {
                return status;
            }
            run = RowRun{offset, rowBytes, rowBytes, rows};
        }
        end = first;
    }
    return CopyPixelRows(source, out, run, RowOrder::Reversed);
}

}  // namespace

Status ReadTiff(SourceFile& source, TiffSource& tiff, OutputAccess& access, uint64_t& size)
{
    const Status status = ReadTiffImageAndPixels(source, tiff, access);
    // Padding adds up to 3 bytes a row to what the reader checked.
    size = StoredBmpRowBytes(BmpWidthOf(tiff.image), tiff.rows) * BmpHeightOf(tiff.image) + kBmpHeadersSize;
    if (status == Status::Ok && size > kMaxFileSize) {
        return Refuse(source, Status::TooLarge, KESTOVA_REASON_FILE_TOO_LARGE);
    }
    return status;
}

Status WriteBmp(SourceFile& source, const TiffSource& tiff, OutputStream& out)
{
    const BmpRows rows = tiff.rows;
    const TiffImage& image = tiff.image;
    const uint32_t width = BmpWidthOf(image);
    uint8_t headers[kBmpHeadersSize];
    FormatBmpHeaders(width, BmpHeightOf(image), headers, rows);
    out.PadRows(kBmpHeadersSize, RowBytes(width), StoredBmpRowBytes(width, rows) - RowBytes(width));
    out.PutBytes(headers, sizeof headers);
    if (TiffTransposed(image)) {
        return WriteTiffTransposed(source, image, tiff.format, out);
    }
    if (tiff.copied) {
        return image.width == 0 || image.height == 0 ? Status::Ok : CopyStrips(source, image, out);
    }
    if (image.planar) {
        return WriteTiffPlanes(source, image, out);
    }
    // The headers go out first, leaving the output buffer free for the
    // decoders and the rows, which go to their places.
    out.MoveTo(kBmpHeadersSize + PixelBytes(image.width, image.height));
    return TiffSubsampled(image) ? WriteYCbCrRows(source, image, tiff.format, out)
                                 : WriteTiffRows(source, image, tiff.format, out);
}

}  // namespace kestova

extern "C" int32_t Tiff2Bmp(const char16_t* tiffPath, const char16_t* bmpPath)
{
    kestova::TiffSource tiff;
    kestova::CallNotes notes;
    return static_cast<int32_t>(kestova::Convert(
        tiffPath, bmpPath, notes,
        [&](kestova::SourceFile& source, kestova::OutputAccess& access, uint64_t& size) {
            return ReadTiff(source, tiff, access, size);
        },
        [&](kestova::SourceFile& source, kestova::OutputStream& out) { return WriteBmp(source, tiff, out); }));
}
