#include "tiff/tiff_planes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "picture_limits.h"
#include "platform/scratch_file.h"
#include "tiff/tiff_chunk.h"
#include "tiff/tiff_pixels.h"
#include "tiff/tiff_ycbcr.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KESTOVA_HAVE_SSSE3_PATH 1
#include <immintrin.h>
#endif

namespace kestova {
namespace {

// Where plane p's stored rows lie: in the TIFF's uncompressed strips, or
// in the scratch file, each plane's rows one after another.
struct Planes {
    SourceFile* file;
    bool scratch;
};

bool ReadableWhereTheyLie(const TiffImage& image)
{
    return image.compression == TiffCompression::None && !image.tiled && !image.predictor && !image.reverseBits &&
        image.bits == 8;  // 16-bit samples are reduced as they are decoded
}

// Bytes bound for the scratch file, gathered while they follow each other
// so that a plane's rows go out in few writes, not one each.
struct GatheredWrites {
    SourceFile& scratch;
    Scratch buffer;
    uint64_t offset = 0;
    size_t length = 0;

    Status Flush()
    {
        const Status status = length > 0 ? WriteScratchFile(scratch, offset, buffer.data, length) : Status::Ok;
        length = 0;
        return status;
    }

    Status Put(uint64_t at, const uint8_t* data, size_t size)
    {
        if (length > 0 && (at != offset + length || buffer.size - length < size)) {
            if (const Status status = Flush(); status != Status::Ok) {
                return status;
            }
        }
        if (size > buffer.size) {
            return WriteScratchFile(scratch, at, data, size);
        }
        if (length == 0) {
            offset = at;
        }
        std::memcpy(buffer.data + length, data, size);
        length += size;
        return Status::Ok;
    }
};

// Decodes every chunk of every plane into the scratch file: plane p's
// stored row y at p * W * H + y * W.
Status DecodePlanes(SourceFile& source, const TiffImage& image, SourceFile& scratch, const ChunkWork& work)
{
    GatheredWrites gathered{scratch, work.window};
    const uint64_t planeBytes = uint64_t{image.width} * image.height;
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    ChunkDecoder decoder;
    Status status = Status::Ok;
    for (uint64_t index = 0; status == Status::Ok && index < image.chunksPerPlane * image.samples; ++index) {
        const uint64_t plane = index / image.chunksPerPlane;
        const uint64_t chunk = index % image.chunksPerPlane;
        const uint64_t x0 = chunk % image.across * image.chunkWidth;
        const uint64_t visible = std::min<uint64_t>(image.chunkWidth, image.width - x0);
        const auto down = static_cast<uint32_t>(chunk / image.across);
        uint64_t offset = 0;
        uint64_t bytes = 0;
        status = TiffChunkPlace(source, image, offsets, counts, index, offset, bytes);
        if (status == Status::Ok) {
            status = StartChunk(decoder, source, image.compression, image.reverseBits, offset, bytes, work.arena,
                                image.chunkWidth, image.faxOptions);
        }
        const uint32_t rows = DecodedRows(image, down);
        for (uint32_t row = 0; status == Status::Ok && row < rows; ++row) {
            const uint64_t y = uint64_t{down} * image.chunkHeight + row;
            const uint64_t rowStart = plane * planeBytes + y * image.width + x0;
            status = DecodeChunkRow(decoder, image, work.piece, y < image.height ? visible : 0,
                                    DecodedPixels(image, down, row, visible), WholeRowsFrom(image, down, row),
                                    [&](const uint8_t* samples, uint64_t first, uint64_t pixels) {
                                        return gathered.Put(rowStart + first, samples, static_cast<size_t>(pixels));
                                    });
        }
        if (status == Status::Ok && DecodedWhole(image, down)) {
            status = FinishChunk(decoder);
        }
    }
    EndChunk(decoder);
    return status == Status::Ok ? gathered.Flush() : status;
}

// Reads columns [x, x + n) of stored rows [first, first + count) of plane
// p, row after row, `n` bytes a row, into `to`.
Status ReadPlaneRows(const Planes& planes, const TiffImage& image, TiffValueReader& offsets, uint64_t p, uint64_t first,
                     uint64_t count, uint64_t x, uint64_t n, uint8_t* to)
{
    const uint64_t width = image.width;
    if (planes.scratch) {
        const uint64_t at = p * width * image.height + first * width + x;
        if (n == width) {
            return ReadSource(*planes.file, at, to, static_cast<size_t>(count * n));
        }
        for (uint64_t row = 0; row < count; ++row) {
            if (const Status status = ReadSource(*planes.file, at + row * width, to + row * n, static_cast<size_t>(n));
                status != Status::Ok) {
                return status;
            }
        }
        return Status::Ok;
    }
    // Strip by strip; within one, full rows lie one after another.
    for (uint64_t row = 0; row < count;) {
        const uint64_t y = first + row;
        const uint64_t strip = y / image.chunkHeight;
        uint64_t offset = 0;
        if (const Status status = offsets.Get(p * image.chunksPerPlane + strip, offset); status != Status::Ok) {
            return status;
        }
        uint64_t inStrip = std::min(count - row, (strip + 1) * image.chunkHeight - y);
        const uint64_t at = offset + (y - strip * image.chunkHeight) * width + x;
        if (n == width) {
            // Strips that follow each other in the file are one read.
            for (uint64_t next = strip + 1; row + inStrip < count && next < image.down; ++next) {
                uint64_t nextOffset = 0;
                if (const Status status = offsets.Get(p * image.chunksPerPlane + next, nextOffset);
                    status != Status::Ok) {
                    return status;
                }
                if (nextOffset != at + inStrip * width) {
                    break;
                }
                inStrip += std::min(count - row - inStrip, uint64_t{image.chunkHeight});
            }
            if (const Status status = ReadSource(*planes.file, at, to + row * n, static_cast<size_t>(inStrip * n));
                status != Status::Ok) {
                return status;
            }
        } else {
            for (uint64_t k = 0; k < inStrip; ++k) {
                if (const Status status =
                        ReadSource(*planes.file, at + k * width, to + (row + k) * n, static_cast<size_t>(n));
                    status != Status::Ok) {
                    return status;
                }
            }
        }
        row += inStrip;
    }
    return Status::Ok;
}

#if KESTOVA_HAVE_SSSE3_PATH
// Sixteen pixels at a time: each 16 bytes of the output take their bytes
// from the same 16 of each plane, by one byte shuffle a plane (an index
// with its high bit set gives 0).
__attribute__((target("ssse3"))) uint64_t InterleaveSsse3(uint8_t* to, const uint8_t* red, const uint8_t* green,
                                                           const uint8_t* blue, uint64_t n)
{
    // Output byte j (0 to 47) is plane j % 3 (blue, green, red) of pixel j / 3.
    alignas(16) static constexpr uint8_t kFrom[3][3][16] = {
        {{0, 128, 128, 1, 128, 128, 2, 128, 128, 3, 128, 128, 4, 128, 128, 5},
         {128, 128, 6, 128, 128, 7, 128, 128, 8, 128, 128, 9, 128, 128, 10, 128},
         {128, 11, 128, 128, 12, 128, 128, 13, 128, 128, 14, 128, 128, 15, 128, 128}},
        {{128, 0, 128, 128, 1, 128, 128, 2, 128, 128, 3, 128, 128, 4, 128, 128},
         {5, 128, 128, 6, 128, 128, 7, 128, 128, 8, 128, 128, 9, 128, 128, 10},
         {128, 128, 11, 128, 128, 12, 128, 128, 13, 128, 128, 14, 128, 128, 15, 128}},
        {{128, 128, 0, 128, 128, 1, 128, 128, 2, 128, 128, 3, 128, 128, 4, 128},
         {128, 5, 128, 128, 6, 128, 128, 7, 128, 128, 8, 128, 128, 9, 128, 128},
         {10, 128, 128, 11, 128, 128, 12, 128, 128, 13, 128, 128, 14, 128, 128, 15}},
    };
    // Loads written out, not through a helper: a function of another
    // target returning a vector would change the 32-bit ABI.
    uint64_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m128i planes[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + k)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + k)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + k))};
        for (size_t part = 0; part < 3; ++part) {
            __m128i bytes = _mm_setzero_si128();
            for (size_t plane = 0; plane < 3; ++plane) {
                const __m128i from = _mm_load_si128(reinterpret_cast<const __m128i*>(kFrom[plane][part]));
                bytes = _mm_or_si128(bytes, _mm_shuffle_epi8(planes[plane], from));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 3 * k + 16 * part), bytes);
        }
    }
    return k;
}
#endif

// `n` pixels of three planes as blue, green, red, mirrored or not: the
// common case, kept free of the per-pixel tests of alpha and YCbCr (and
// where the processor can, sixteen pixels at a time) so that it runs near
// the speed of a copy.
void InterleaveRgb(uint8_t* __restrict to, const uint8_t* __restrict red, const uint8_t* __restrict green,
                   const uint8_t* __restrict blue, uint64_t n, bool mirrored)
{
    uint64_t k = 0;
#if KESTOVA_HAVE_SSSE3_PATH
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3 && !mirrored) {
        k = InterleaveSsse3(to, red, green, blue, n);
    }
#endif
    if (mirrored) {
        for (uint64_t i = 0, from = n - 1; i < n; ++i, --from) {
            to[3 * i] = blue[from];
            to[3 * i + 1] = green[from];
            to[3 * i + 2] = red[from];
        }
        return;
    }
    for (; k < n; ++k) {
        to[3 * k] = blue[k];
        to[3 * k + 1] = green[k];
        to[3 * k + 2] = red[k];
    }
}

// One row's `n` pixels of the planes, the red at `red` and each next plane
// `stride` bytes on, as blue, green, red at `to` (mirrored where the
// picture is); planes of Y, Cb and Cr converted by `ycbcr`.
Status InterleaveRow(const TiffImage& image, SourceFile& source, const YCbCrTables* ycbcr, uint8_t* to,
                     const uint8_t* red, uint64_t stride, uint64_t n)
{
    const bool mirrored = image.orientation == 2 || image.orientation == 3;
    const uint8_t* green = red + stride;
    const uint8_t* blue = green + stride;
    const uint8_t* alpha = image.alpha ? blue + stride : nullptr;  // else a fourth sample ignored
    if (alpha == nullptr && ycbcr == nullptr) {
        InterleaveRgb(to, red, green, blue, n, mirrored);
        return Status::Ok;
    }
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t from = mirrored ? n - 1 - k : k;
        if (alpha != nullptr && alpha[from] != 255) {
            if (!Asked(source.notes, KESTOVA_FLAG_FLATTEN)) {
                // Alpha that would be dropped.
                return Refuse(source, Status::NotSupported, KESTOVA_REASON_TRANSPARENCY);
            }
            const uint8_t bgr[3] = {blue[from], green[from], red[from]};
            for (unsigned i = 0; i < 3; ++i) {
                const unsigned under = (source.notes->background >> (8 * i)) & 0xFF;
                to[3 * k + i] = Flattened(bgr[i], 255, alpha[from], 255, under, image.associated);
            }
            continue;
        }
        if (ycbcr != nullptr) {
            YCbCrToBgr(*ycbcr, red[from], YCbCrRed(*ycbcr, blue[from]), YCbCrBlue(*ycbcr, green[from]), to + 3 * k);
            continue;
        }
        to[3 * k] = blue[from];
        to[3 * k + 1] = green[from];
        to[3 * k + 2] = red[from];
    }
    return Status::Ok;
}

// Rows of the planes, a block at a time, interleaved into blue, green, red,
// the BMP's bottom row first; planes of Y, Cb and Cr converted by `ycbcr`.
Status Interleave(const Planes& planes, const TiffImage& image, SourceFile& source, OutputStream& out,
                  const YCbCrTables* ycbcr)
{
    const uint64_t width = image.width;
    const uint64_t height = image.height;
    const uint64_t samples = image.samples;
    const bool mirrored = image.orientation == 2 || image.orientation == 3;
    const bool topFirst = image.orientation <= 2;  // the BMP's first rows are stored last
    // A block: `rows` rows of `columns` pixels, their B, G, R and, after
    // them, their samples plane after plane.
    const uint64_t perPixel = 3 + samples;
    const uint64_t columns = std::min<uint64_t>(width, OutputStream::kBlockSize / perPixel);
    const uint64_t rowsPerBlock = columns == width ? OutputStream::kBlockSize / (perPixel * width) : 1;
    // One reader of StripOffsets a plane: each keeps its own block of them.
    TiffValueReader offsets[4] = {{source, image.offsets, image.format},
                                  {source, image.offsets, image.format},
                                  {source, image.offsets, image.format},
                                  {source, image.offsets, image.format}};
    for (uint64_t done = 0; done < height;) {
        const uint64_t rows = std::min(rowsPerBlock, height - done);
        // Stored rows [first, first + rows): the BMP's rows done .. in order,
        // or reversed where the picture is stored top row first.
        const uint64_t first = topFirst ? height - done - rows : done;
        for (uint64_t piece = 0; piece < width; piece += columns) {
            const uint64_t n = std::min(columns, width - piece);
            // Mirrored rows come from the right: pieces taken from the end.
            const uint64_t x = mirrored ? width - piece - n : piece;
            uint8_t* block = out.Room(static_cast<size_t>(rows * n * perPixel));
            uint8_t* input = block + rows * n * 3;
            for (uint64_t p = 0; p < samples; ++p) {
                if (const Status status =
                        ReadPlaneRows(planes, image, offsets[p], p, first, rows, x, n, input + p * rows * n);
                    status != Status::Ok) {
                    return status;
                }
            }
            for (uint64_t j = 0; j < rows; ++j) {
                const uint64_t stored = topFirst ? rows - 1 - j : j;
                const uint8_t* red = input + stored * n;
                if (const Status status = InterleaveRow(image, source, ycbcr, block + j * n * 3, red, rows * n, n);
                    status != Status::Ok) {
                    return status;
                }
            }
            out.Keep(static_cast<size_t>(rows * n * 3));
            if (out.failed()) {
                return Status::DestinationUnwritable;
            }
        }
        done += rows;
    }
    return Status::Ok;
}

// Uncompressed planes in tiles, read where they lie: BMP rows a block at a
// time, bottom row first, a block within one row of tiles, so that each
// tile's part of it is one read a plane (a tile's rows lie one after
// another) and the block one write. Through the scratch file, each tile's
// row would be a write of its own (196608 for 4096 x 4096 in 256 x 256
// tiles). False where a BMP row and a tile row of every plane do not fit
// a block.
bool TilesReadableWhereTheyLie(const TiffImage& image)
{
    return image.tiled && image.compression == TiffCompression::None && !image.predictor && !image.reverseBits &&
        image.bits == 8 &&
        3 * uint64_t{image.width} + uint64_t{image.samples} * image.chunkWidth <= OutputStream::kBlockSize;
}

Status InterleaveTiles(const TiffImage& image, SourceFile& source, OutputStream& out, const YCbCrTables* ycbcr)
{
    const uint64_t width = image.width;
    const uint64_t height = image.height;
    const uint64_t side = image.chunkWidth;
    const uint64_t tall = image.chunkHeight;
    const uint64_t bmpRowBytes = 3 * width;
    const bool mirrored = image.orientation == 2 || image.orientation == 3;
    const bool topFirst = image.orientation <= 2;  // the BMP's first rows are stored last
    const uint64_t rowsPerBlock = OutputStream::kBlockSize / (bmpRowBytes + image.samples * side);
    TiffValueReader offsets[4] = {{source, image.offsets, image.format},
                                  {source, image.offsets, image.format},
                                  {source, image.offsets, image.format},
                                  {source, image.offsets, image.format}};
    for (uint64_t done = 0; done < height;) {
        // The BMP's rows [done, done + rows): stored rows [first, first + rows),
        // in one row of tiles.
        const uint64_t left = topFirst ? (height - 1 - done) % tall + 1 : tall - done % tall;
        const uint64_t rows = std::min({rowsPerBlock, height - done, left});
        const uint64_t first = topFirst ? height - done - rows : done;
        const uint64_t down = first / tall;
        uint8_t* block = out.Room(static_cast<size_t>(rows * (bmpRowBytes + image.samples * side)));
        uint8_t* input = block + rows * bmpRowBytes;
        for (uint64_t column = 0; column < image.across; ++column) {
            const uint64_t x0 = column * side;
            const uint64_t visible = std::min(side, width - x0);
            for (uint64_t p = 0; p < image.samples; ++p) {
                uint64_t offset = 0;
                Status status = offsets[p].Get(p * image.chunksPerPlane + down * image.across + column, offset);
                if (status == Status::Ok) {
                    status = ReadSource(source, offset + (first - down * tall) * side, input + p * rows * side,
                                        static_cast<size_t>(rows * side));
                }
                if (status != Status::Ok) {
                    return status;
                }
            }
            const uint64_t x = mirrored ? width - x0 - visible : x0;
            for (uint64_t j = 0; j < rows; ++j) {
                const uint64_t stored = topFirst ? rows - 1 - j : j;
                if (const Status status = InterleaveRow(image, source, ycbcr, block + j * bmpRowBytes + 3 * x,
                                                        input + stored * side, rows * side, visible);
                    status != Status::Ok) {
                    return status;
                }
            }
        }
        out.Keep(static_cast<size_t>(rows * bmpRowBytes));
        if (out.failed()) {
            return Status::DestinationUnwritable;
        }
        done += rows;
    }
    return Status::Ok;
}

}  // namespace

Status WriteTiffPlanes(SourceFile& source, const TiffImage& image, OutputStream& out)
{
    if (image.width == 0 || image.height == 0) {
        return Status::Ok;
    }
    // YCbCr's planes (unsubsampled: ReadTiffImage refuses the rest).
    YCbCrTables tables;
    const YCbCrTables* ycbcr = image.colour == TiffColour::YCbCr ? &tables : nullptr;
    if (ycbcr != nullptr) {
        PrepareYCbCr(image.ycbcr, tables);
    }
    if (ReadableWhereTheyLie(image)) {
        return Interleave(Planes{&source, false}, image, source, out, ycbcr);
    }
    if (TilesReadableWhereTheyLie(image)) {
        return InterleaveTiles(image, source, out, ycbcr);
    }
    SourceFile scratch;
    Status status = OpenScratchFile(scratch, uint64_t{image.width} * image.height * image.samples, out.file());
    if (status == Status::Ok) {
        // The output buffer, idle until the interleaving, lends the decoder
        // its arena and its piece.
        status = DecodePlanes(source, image, scratch, DivideWork(out.Idle(), ChunkArenaBytes(image.compression)));
    }
    if (status == Status::Ok) {
        status = Interleave(Planes{&scratch, true}, image, source, out, ycbcr);
    }
    CloseSource(scratch);
    return status;
}

}  // namespace kestova
