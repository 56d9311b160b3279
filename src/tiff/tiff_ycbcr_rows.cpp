#include "tiff/tiff_ycbcr_rows.h"

#include <algorithm>
#include <cstdint>

#include "picture_limits.h"
#include "tiff/tiff_chunk.h"
#include "tiff/tiff_rows.h"

namespace kestova {
namespace {

// Converts the data units of `blocks` blocks of `across` x `down` luma
// samples, of which `rows` rows and the first `pixels` pixels are wanted:
// picture row r of the blocks goes to `to` + slot(r) * `stride`, slot(r)
// being r, or rows - 1 - r where `reversed`.
void BlocksToBgr(const YCbCrTables& t, const uint8_t* units, uint64_t across, uint64_t down, uint64_t rows,
                 uint64_t pixels, uint8_t* to, uint64_t stride, bool reversed)
{
    const uint64_t unitBytes = across * down + 2;
    for (uint64_t x = 0; x < pixels; x += across, units += unitBytes) {
        const double blue = YCbCrBlue(t, units[across * down]);
        const double red = YCbCrRed(t, units[across * down + 1]);
        const uint64_t n = std::min(across, pixels - x);
        for (uint64_t r = 0; r < rows; ++r) {
            uint8_t* row = to + (reversed ? rows - 1 - r : r) * stride + 3 * x;
            const uint8_t* luma = units + r * across;
            for (uint64_t k = 0; k < n; ++k) {
                YCbCrToBgr(t, luma[k], red, blue, row + 3 * k);
            }
        }
    }
}

}  // namespace

namespace {

Status WriteBlockRows(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out,
                      ChunkDecoder& decoder, const ChunkWork& work)
{
    const uint64_t across = image.ycbcr.across;
    const uint64_t down = image.ycbcr.down;
    const uint64_t unitBytes = across * down + 2;
    const uint64_t unitsAcross = (uint64_t{image.chunkWidth} + across - 1) / across;
    const uint64_t bmpRowBytes = RowBytes(image.width);
    const bool mirrored = TiffRowsMirrored(image);
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    // Pixels [x, x + n) of picture row y, converted at `row`, go to their place.
    const auto put = [&](uint8_t* row, uint64_t y, uint64_t x, uint64_t n) {
        if (mirrored) {
            MirrorTiffRow(row, n);
            x = image.width - x - n;
        }
        out.WriteAt(kBmpPixelOffset + TiffBmpRow(image, y) * bmpRowBytes + 3 * x, row, static_cast<size_t>(3 * n));
    };
    for (uint32_t chunkDown = 0; chunkDown < image.down; ++chunkDown) {
        const uint64_t y0 = uint64_t{chunkDown} * image.chunkHeight;
        const uint64_t chunkRows = ChunkRows(image, chunkDown);
        const uint64_t shownRows = std::min<uint64_t>(chunkRows, image.height - y0);
        for (uint32_t column = 0; column < image.across; ++column) {
            const uint64_t x0 = uint64_t{column} * image.chunkWidth;
            const uint64_t visible = std::min<uint64_t>(image.chunkWidth, image.width - x0);
            // A band: every row of a row of blocks, whole, in the window. Else
            // each piece goes out as soon as it is converted.
            const bool band = 3 * down * visible <= work.window.size;
            const uint64_t slotPixels = band ? visible : work.window.size / (3 * down) / across * across;
            // In a band, pieces land at their places in its rows (and past the
            // picture's last pixel are decoded only); else each must fit a
            // slot.
            const uint64_t unitsPerPiece =
                std::min<uint64_t>(kChunkPieceBytes / unitBytes, band ? unitsAcross : slotPixels / across);
            // Rows spanning the picture's width lie one after another in the
            // BMP, bottom row first: the window holds them so, for one write.
            const bool oneWrite = band && visible == image.width;
            const bool reversed = oneWrite && image.orientation <= 2;
            uint64_t offset = 0;
            uint64_t bytes = 0;
            Status status = TiffChunkPlace(source, image, offsets, counts, uint64_t{chunkDown} * image.across + column,
                                           offset, bytes);
            if (status == Status::Ok) {
                status = StartChunk(decoder, source, image.compression, image.reverseBits, offset, bytes, work.arena,
                                    image.chunkWidth, image.faxOptions);
            }
            for (uint64_t top = 0; status == Status::Ok && top < chunkRows; top += down) {
                const uint64_t rows = top < shownRows ? std::min(down, shownRows - top) : 0;  // inside the picture
                for (uint64_t unit = 0; status == Status::Ok && unit < unitsAcross;) {
                    const uint64_t units = std::min(unitsPerPiece, unitsAcross - unit);
                    status = ReadChunk(decoder, work.piece, static_cast<size_t>(units * unitBytes));
                    const uint64_t x = unit * across;
                    unit += units;
                    if (status != Status::Ok || rows == 0 || x >= visible) {
                        continue;
                    }
                    const uint64_t pixels = std::min(units * across, visible - x);
                    uint8_t* to = work.window.data + (band ? 3 * x : 0);
                    BlocksToBgr(format.ycbcr, work.piece, across, down, rows, pixels, to, 3 * slotPixels, reversed);
                    for (uint64_t r = 0; !band && r < rows; ++r) {
                        put(work.window.data + r * 3 * slotPixels, y0 + top + r, x0 + x, pixels);
                    }
                }
                if (status == Status::Ok && rows > 0 && band && oneWrite) {
                    for (uint64_t r = 0; mirrored && r < rows; ++r) {
                        MirrorTiffRow(work.window.data + r * bmpRowBytes, image.width);
                    }
                    const uint64_t lowest =
                        std::min(TiffBmpRow(image, y0 + top), TiffBmpRow(image, y0 + top + rows - 1));
                    out.WriteAt(kBmpPixelOffset + lowest * bmpRowBytes, work.window.data,
                                static_cast<size_t>(rows * bmpRowBytes));
                } else if (status == Status::Ok && band) {
                    for (uint64_t r = 0; r < rows; ++r) {
                        put(work.window.data + r * 3 * slotPixels, y0 + top + r, x0, visible);
                    }
                }
                if (out.failed()) {
                    status = Status::DestinationUnwritable;
                }
            }
            if (status == Status::Ok) {
                status = FinishChunk(decoder);
            }
            if (status != Status::Ok) {
                return status;
            }
        }
    }
    return Status::Ok;
}

}  // namespace

Status WriteYCbCrRows(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out)
{
    if (image.width == 0 || image.height == 0) {
        return Status::Ok;
    }
    const ChunkWork work = DivideWork(out.Idle(), ChunkArenaBytes(image.compression));
    ChunkDecoder decoder;
    const Status status = WriteBlockRows(source, image, format, out, decoder, work);
    EndChunk(decoder);
    return status;
}

}  // namespace kestova
