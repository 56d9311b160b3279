#include "tiff/tiff_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "picture_limits.h"
#include "platform/scratch_file.h"
#include "row_window.h"
#include "tiff/tiff_chunk.h"

namespace kestova {
namespace {

// The display row of stored row y: orientation 3 and 4 store the bottom
// row first. The BMP stores the bottom row first, at row H - 1 - display.
uint64_t BmpRowOf(const TiffImage& image, uint64_t y)
{
    const uint64_t display = image.orientation <= 2 ? y : image.height - 1 - y;
    return image.height - 1 - display;
}

bool Mirrored(const TiffImage& image) { return image.orientation == 2 || image.orientation == 3; }

// Turns `pixels` blue-green-red pixels end for end.
void MirrorRow(uint8_t* row, uint64_t pixels)
{
    for (uint64_t low = 0, high = 3 * pixels; high - low >= 6; low += 3, high -= 3) {
        std::swap_ranges(row + low, row + low + 3, row + high - 3);
    }
}

// Strips, and tiles one to a row of tiles (as wide as the picture or
// wider): each chunk row's pixels inside the picture are the BMP row's.
Status WriteStrips(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out,
                   ChunkDecoder& decoder, const ChunkWork& work)
{
    // Stored top row first (orientation 1, 2), the rows go down the BMP.
    RowWindow window(out, work.window, kBmpPixelOffset, RowBytes(image.width), image.height, image.orientation <= 2,
                     Mirrored(image));
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    for (uint32_t strip = 0; strip < image.down; ++strip) {
        uint64_t offset = 0;
        uint64_t bytes = 0;
        Status status = TiffChunkPlace(source, image, offsets, counts, strip, offset, bytes);
        if (status == Status::Ok) {
            status = StartChunk(decoder, source, image, strip, offset, bytes, work.arena);
        }
        for (uint32_t row = 0; status == Status::Ok && row < DecodedRows(image, strip); ++row) {
            const bool inside = uint64_t{strip} * image.chunkHeight + row < image.height;  // not a tile's rows below
            status = DecodeChunkRow(
                decoder, image, work.piece, inside ? image.width : 0, DecodedPixels(image, strip, row, image.width),
                WholeRowsFrom(image, strip, row),
                [&](const uint8_t* samples, uint64_t /*first: the window keeps its place*/, uint64_t pixels) {
                    for (uint64_t k = 0; k < pixels;) {
                        size_t room = 0;
                        uint8_t* to = window.Room(room);
                        const uint64_t n = std::min<uint64_t>(pixels - k, room / 3);
                        if (!TiffToBgr(format, to, samples, static_cast<size_t>(k), static_cast<size_t>(n))) {
                            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TRANSPARENCY);
                        }
                        window.Took(static_cast<size_t>(3 * n));
                        k += n;
                    }
                    return Status::Ok;
                });
            if (inside) {
                window.EndRow();
            }
            if (window.failed()) {
                status = Status::DestinationUnwritable;
            }
        }
        if (status == Status::Ok && DecodedWhole(image, strip)) {
            status = FinishChunk(decoder);
        }
        if (status != Status::Ok) {
            return status;
        }
    }
    return Status::Ok;
}

// Tiles side by side whose rows inside the picture fit the window
// together are decoded into it, a band, and written out: tile by tile,
// every tile row would be a write of its own (a million for 16 megapixels
// in tiles of 16 x 16). A band as wide as the picture holds whole BMP rows,
// stored in the BMP's order, and is one write. Narrower bands would still
// cost a write for each of their rows (65536 for 2048 x 2048 in tiles of
// 64 x 64, the decoder's arena leaving room for one tile), so where a row
// of tiles takes several bands and a scratch file can be had, each band
// goes to it whole, one after another, and the row of tiles then comes
// back a block of whole BMP rows at a time, each block one write
// (GatherTileRow). A tile too large for the window goes out piece by
// piece.
struct TileBands {
    uint64_t perBand;     // tiles side by side in a band; 0: a tile is too large
    uint64_t shownRows;   // rows of the row of tiles inside the picture
    uint64_t bandPixels;  // the widest band's
};

TileBands BandsOf(const TiffImage& image, size_t windowBytes, uint32_t down)
{
    const uint64_t y0 = uint64_t{down} * image.chunkHeight;
    const uint64_t shownRows = std::min<uint64_t>(image.chunkHeight, image.height - y0);
    const uint64_t perBand = windowBytes / (3 * shownRows * image.chunkWidth);
    return TileBands{perBand, shownRows, std::min<uint64_t>(perBand * image.chunkWidth, image.width)};
}

// The rows of one row of tiles, band after band in `scratch` (a band's
// rows one after another, the band from pixel x at 3 * shownRows * x), put
// into blocks of whole BMP rows in `buffer` and written: a read a band and
// a write a block.
Status GatherTileRow(SourceFile& scratch, const TiffImage& image, OutputStream& out, Scratch buffer, uint32_t down,
                     const TileBands& bands)
{
    const uint64_t bmpRowBytes = RowBytes(image.width);
    const uint64_t y0 = uint64_t{down} * image.chunkHeight;
    const uint64_t blockRows =
        std::min<uint64_t>(bands.shownRows, buffer.size / (bmpRowBytes + 3 * bands.bandPixels));
    uint8_t* block = buffer.data;
    uint8_t* staged = buffer.data + blockRows * bmpRowBytes;
    const bool topFirst = image.orientation <= 2;
    for (uint64_t r0 = 0; r0 < bands.shownRows; r0 += blockRows) {
        const uint64_t rows = std::min(blockRows, bands.shownRows - r0);
        for (uint64_t bandX = 0; bandX < image.width; bandX += bands.bandPixels) {
            const uint64_t pixels = std::min(bands.bandPixels, image.width - bandX);
            const uint64_t at = 3 * (bands.shownRows * bandX + r0 * pixels);
            if (const Status status = ReadSource(scratch, at, staged, static_cast<size_t>(3 * rows * pixels));
                status != Status::Ok) {
                return status;
            }
            const uint64_t x = Mirrored(image) ? image.width - bandX - pixels : bandX;
            for (uint64_t j = 0; j < rows; ++j) {
                const uint64_t slot = topFirst ? rows - 1 - j : j;  // the block holds its BMP rows bottom first
                std::memcpy(block + slot * bmpRowBytes + 3 * x, staged + 3 * j * pixels, static_cast<size_t>(3 * pixels));
            }
        }
        const uint64_t lowest = std::min(BmpRowOf(image, y0 + r0), BmpRowOf(image, y0 + r0 + rows - 1));
        out.WriteAt(kBmpPixelOffset + lowest * bmpRowBytes, block, static_cast<size_t>(rows * bmpRowBytes));
        if (out.failed()) {
            return Status::DestinationUnwritable;
        }
    }
    return Status::Ok;
}

// Whether rows of tiles go through a scratch file: where the first takes
// several bands, and a block of one BMP row and a band's row (no wider)
// fits the buffer.
bool GathersTiles(const TiffImage& image, const ChunkWork& work, size_t bufferBytes)
{
    const TileBands first = BandsOf(image, work.window.size, 0);
    return first.perBand > 0 && first.perBand < image.across && 2 * RowBytes(image.width) <= bufferBytes;
}

Status WriteTiles(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out,
                  ChunkDecoder& decoder, const ChunkWork& work, SourceFile* scratch)
{
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    const uint64_t bmpRowBytes = RowBytes(image.width);
    const uint64_t segmentPixels = work.window.size / 3;
    const bool topFirst = image.orientation <= 2;
    const auto rowStart = [&](uint64_t y) { return kBmpPixelOffset + BmpRowOf(image, y) * bmpRowBytes; };
    for (uint32_t down = 0; down < image.down; ++down) {
        const uint64_t y0 = uint64_t{down} * image.chunkHeight;
        const TileBands bands = BandsOf(image, work.window.size, down);
        const uint64_t shownRows = bands.shownRows;
        const uint64_t perBand = bands.perBand;
        for (uint64_t column = 0; column < image.across;) {
            const uint64_t end = std::min<uint64_t>(image.across, column + std::max<uint64_t>(perBand, 1));
            const uint64_t bandX = column * image.chunkWidth;
            const uint64_t bandPixels = std::min<uint64_t>(end * image.chunkWidth, image.width) - bandX;
            // A band as wide as the picture holds its rows as the BMP does.
            const bool wholeRows = bandPixels == image.width && scratch == nullptr;
            for (; column < end; ++column) {
                const uint64_t x0 = column * image.chunkWidth;
                const uint64_t visible = std::min<uint64_t>(image.chunkWidth, image.width - x0);
                uint64_t offset = 0;
                uint64_t bytes = 0;
                const uint64_t index = uint64_t{down} * image.across + column;
                Status status = TiffChunkPlace(source, image, offsets, counts, index, offset, bytes);
                if (status == Status::Ok) {
                    status = StartChunk(decoder, source, image, down, offset, bytes, work.arena);
                }
                const uint32_t rows = DecodedRows(image, down);
                for (uint32_t row = 0; status == Status::Ok && row < rows; ++row) {
                    const uint64_t y = y0 + row;
                    const uint64_t slot = wholeRows && topFirst ? shownRows - 1 - row : row;
                    const uint64_t inBand = 3 * (slot * bandPixels + x0 - bandX);  // used for rows in the picture
                    status = DecodeChunkRow(
                        decoder, image, work.piece, y < image.height ? visible : 0,
                        DecodedPixels(image, down, row, visible), WholeRowsFrom(image, down, row),
                        [&](const uint8_t* samples, uint64_t first, uint64_t pixels) {
                            if (perBand > 0) {
                                uint8_t* to = work.window.data + inBand + 3 * first;
                                return TiffToBgr(format, to, samples, 0, static_cast<size_t>(pixels))
                                    ? Status::Ok
                                    : Refuse(source, Status::NotSupported, KESTOVA_REASON_TRANSPARENCY);
                            }
                            // Each piece of the tile's row goes to its place in the BMP's row.
                            for (uint64_t k = 0; k < pixels;) {
                                const uint64_t n = std::min(pixels - k, segmentPixels);
                                uint8_t* to = work.window.data;
                                if (!TiffToBgr(format, to, samples, static_cast<size_t>(k), static_cast<size_t>(n))) {
                                    return Refuse(source, Status::NotSupported, KESTOVA_REASON_TRANSPARENCY);
                                }
                                uint64_t x = x0 + first + k;
                                if (Mirrored(image)) {
                                    MirrorRow(to, n);
                                    x = image.width - x - n;
                                }
                                out.WriteAt(rowStart(y) + 3 * x, to, static_cast<size_t>(3 * n));
                                k += n;
                            }
                            return out.failed() ? Status::DestinationUnwritable : Status::Ok;
                        });
                }
                if (status == Status::Ok && DecodedWhole(image, down)) {
                    status = FinishChunk(decoder);
                }
                if (status != Status::Ok) {
                    return status;
                }
            }
            if (perBand == 0) {
                continue;
            }
            const uint64_t x = Mirrored(image) ? image.width - bandX - bandPixels : bandX;
            for (uint64_t row = 0; Mirrored(image) && row < shownRows; ++row) {
                MirrorRow(work.window.data + 3 * row * bandPixels, bandPixels);
            }
            const auto bandBytes = static_cast<size_t>(3 * shownRows * bandPixels);
            if (scratch != nullptr) {
                if (const Status status = WriteScratchFile(*scratch, 3 * shownRows * bandX, work.window.data, bandBytes);
                    status != Status::Ok) {
                    return status;
                }
            } else if (wholeRows) {
                out.WriteAt(rowStart(y0 + (topFirst ? shownRows - 1 : 0)), work.window.data, bandBytes);
            } else {
                for (uint64_t row = 0; row < shownRows; ++row) {
                    out.WriteAt(rowStart(y0 + row) + 3 * x, work.window.data + 3 * row * bandPixels,
                                static_cast<size_t>(3 * bandPixels));
                }
            }
            if (out.failed()) {
                return Status::DestinationUnwritable;
            }
        }
        if (scratch != nullptr) {
            // The decoder's arena is the buffer's start: the chunk is ended
            // first, and the next one starts afresh.
            EndChunk(decoder);
            if (const Status status = GatherTileRow(*scratch, image, out, out.Idle(), down, bands);
                status != Status::Ok) {
                return status;
            }
        }
    }
    return Status::Ok;
}

// Uncompressed tiles, a band of whole BMP rows at a time: each tile's part
// of the band is one read (a tile's rows lie one after another), the band
// one write. Tile by tile, a picture would cost a write per tile row.
// No decoder needs an arena here: the band takes as many rows as fit in
// the buffer beside a tile's part of them, the reads and writes fewer.
// False when a band of even one row does not fit.
bool FitsTileBands(const TiffImage& image, size_t bufferBytes)
{
    return image.tiled && image.compression == TiffCompression::None && !image.predictor &&
        RowBytes(image.width) + ChunkRowBytes(image) <= bufferBytes;
}

Status WriteTileBands(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out,
                      Scratch buffer)
{
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    const uint64_t bmpRowBytes = RowBytes(image.width);
    const uint64_t tileRowBytes = ChunkRowBytes(image);
    const uint64_t bandRows = buffer.size / (bmpRowBytes + tileRowBytes);
    // The band's BMP rows, then a tile's part of them as stored.
    const auto bandBytes = static_cast<size_t>(bandRows * bmpRowBytes);  // within the buffer
    const ChunkWork work{nullptr, buffer.data + bandBytes, Scratch{buffer.data, bandBytes}};
    const bool topFirst = image.orientation <= 2;  // stored rows go down the BMP
    for (uint64_t y0 = 0; y0 < image.height; y0 += image.chunkHeight) {
        const uint64_t tileRows = std::min<uint64_t>(image.chunkHeight, image.height - y0);
        for (uint64_t r0 = 0; r0 < tileRows; r0 += bandRows) {
            const uint64_t rows = std::min(bandRows, tileRows - r0);
            for (uint64_t column = 0; column < image.across; ++column) {
                const uint64_t x0 = column * image.chunkWidth;
                const uint64_t visible = std::min<uint64_t>(image.chunkWidth, image.width - x0);
                uint64_t offset = 0;
                uint64_t bytes = 0;
                Status status = TiffChunkPlace(source, image, offsets, counts,
                                               y0 / image.chunkHeight * image.across + column, offset, bytes);
                if (status == Status::Ok) {
                    status = ReadSource(source, offset + r0 * tileRowBytes, work.piece,
                                        static_cast<size_t>(rows * tileRowBytes));
                }
                if (status != Status::Ok) {
                    return status;
                }
                if (image.reverseBits) {
                    ReverseBits(work.piece, static_cast<size_t>(rows * tileRowBytes));
                }
                for (uint64_t row = 0; row < rows; ++row) {
                    // The band holds its BMP rows bottom first.
                    const uint64_t slot = topFirst ? rows - 1 - row : row;
                    uint8_t* to = work.window.data + slot * bmpRowBytes + 3 * x0;
                    uint8_t* samples = work.piece + row * tileRowBytes;
                    SampleCarry carry;  // no predictor here: 16-bit samples reduced
                    PrepareSamples(image, samples, static_cast<size_t>(tileRowBytes), carry);
                    if (!TiffToBgr(format, to, samples, 0, static_cast<size_t>(visible))) {
                        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TRANSPARENCY);
                    }
                }
            }
            if (Mirrored(image)) {
                for (uint64_t row = 0; row < rows; ++row) {
                    MirrorRow(work.window.data + row * bmpRowBytes, image.width);
                }
            }
            const uint64_t lowest = std::min(BmpRowOf(image, y0 + r0), BmpRowOf(image, y0 + r0 + rows - 1));
            out.WriteAt(kBmpPixelOffset + lowest * bmpRowBytes, work.window.data,
                        static_cast<size_t>(rows * bmpRowBytes));
            if (out.failed()) {
                return Status::DestinationUnwritable;
            }
        }
    }
    return Status::Ok;
}

}  // namespace

uint64_t TiffBmpRow(const TiffImage& image, uint64_t y) { return BmpRowOf(image, y); }
bool TiffRowsMirrored(const TiffImage& image) { return Mirrored(image); }
void MirrorTiffRow(uint8_t* row, uint64_t pixels) { MirrorRow(row, pixels); }

Status WriteTiffRows(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, OutputStream& out)
{
    if (image.width == 0 || image.height == 0) {
        return Status::Ok;
    }
    ChunkDecoder decoder;
    const ChunkWork work = DivideWork(out.Idle(), ChunkArenaBytes(decoder, image.compression));
    if (FitsTileBands(image, out.Idle().size)) {
        return WriteTileBands(source, image, format, out, out.Idle());
    }
    if (!image.tiled || image.across == 1) {
        const Status status = WriteStrips(source, image, format, out, decoder, work);
        EndChunk(decoder);
        return status;
    }
    // Without a scratch file (none to be had) the bands go straight out.
    SourceFile scratch;
    const bool gathered = GathersTiles(image, work, out.Idle().size) &&
        OpenScratchFile(scratch, 3 * uint64_t{image.width} * image.chunkHeight, out.file()) == Status::Ok;
    const Status status = WriteTiles(source, image, format, out, decoder, work, gathered ? &scratch : nullptr);
    EndChunk(decoder);
    if (gathered) {
        CloseSource(scratch);
    }
    return status;
}

}  // namespace kestova
