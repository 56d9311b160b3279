// Tiff2Bmp: a TIFF of any form the library reads becomes a 24-bit BMP with
// unpadded rows (padded ones for the host that asks), bottom row first. The common form, uncompressed 8-bit RGB
// in strips from the top left, is copied a block of rows at a time with
// its bytes exchanged; every other form is decoded chunk by chunk and its
// rows put at their places.

#include "bmp/bmp_layout.h"
#include "conversion.h"
#include "kestovatiff.h"
#include "picture_limits.h"
#include "row_copy.h"
#include "tiff_to_bmp.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_pixels.h"
#include "tiff/tiff_planes.h"
#include "tiff/tiff_rows.h"
#include "tiff/tiff_ycbcr_rows.h"

namespace kestova {
namespace {

struct TiffSource {
    TiffImage image;
    TiffPixelFormat format;
    bool copied = false;  // the common form, copied as it is stored
};

Status ReadTiff(SourceFile& source, TiffSource& tiff, OutputAccess& access)
{
    if (const Status status = ReadTiffImage(source, tiff.image); status != Status::Ok) {
        return status;
    }
    tiff.copied = TiffRowsCopied(tiff.image);
    if (tiff.copied || tiff.image.planar) {
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

Status WriteBmp(SourceFile& source, const TiffSource& tiff, BmpRows rows, OutputStream& out)
{
    const TiffImage& image = tiff.image;
    uint8_t headers[kBmpHeadersSize];
    FormatBmpHeaders(image.width, image.height, headers, rows);
    out.PadRows(kBmpHeadersSize, RowBytes(image.width), StoredBmpRowBytes(image.width, rows) - RowBytes(image.width));
    out.PutBytes(headers, sizeof headers);
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

}  // namespace

Status ConvertTiffToBmp(const char16_t* tiffPath, const char16_t* bmpPath, BmpRows rows)
{
    TiffSource tiff;
    auto read = [&](SourceFile& source, OutputAccess& access) {
        const Status status = ReadTiff(source, tiff, access);
        // Padding adds up to 3 bytes a row to what the reader checked.
        const uint64_t stored = StoredBmpRowBytes(tiff.image.width, rows) * tiff.image.height;
        return status == Status::Ok && stored + kBmpHeadersSize > kMaxFileSize ? Status::TooLarge : status;
    };
    return Convert(tiffPath, bmpPath, read,
                   [&](SourceFile& source, OutputStream& out) { return WriteBmp(source, tiff, rows, out); });
}

}  // namespace kestova

extern "C" int32_t Tiff2Bmp(const char16_t* tiffPath, const char16_t* bmpPath)
{
    return static_cast<int32_t>(kestova::ConvertTiffToBmp(tiffPath, bmpPath, kestova::BmpRows::Unpadded));
}
