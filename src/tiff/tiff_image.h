// What a TIFF's first image is, checked whole before anything is written:
// every count, offset and size against the file and the picture it
// declares. The library reads:
//
//   colour       bits a sample   samples
//   grey         1, 2, 4, 8-16   1        (PhotometricInterpretation 0 and 1;
//                                          0 has white at zero)
//   palette      1, 2, 4, 8      1        (3, with a ColorMap)
//   RGB          1, 2, 4, 8-16   3        (2)
//   YCbCr        8               3        (6, chroma subsampled 1, 2 or 4
//                                          each way; see tiff_ycbcr.h)
//
// each with one more sample: alpha (ExtraSamples 1 or 2), which must be
// opaque in every pixel, or one that is not (ExtraSamples 0, or none),
// ignored; samples of 9 to 16 bits only where the caller asks for them
// reduced to 8 bits; uncompressed, PackBits, LZW, Deflate or JPEG (tiff_jpeg.h), with
// Predictor 1 or 2 (8- and 16-bit samples), or bilevel (1-bit grey) in the fax
// codings (Compression 2, 3 and 4); either FillOrder, in strips or tiles (their tables in the
// tile fields or, as old writers put them, the strip fields), one plane or
// (8- and 16-bit RGB) one plane a sample, in any Orientation (1 to 8). A compressed
// chunk may hold more than its rows (a last strip coded whole, a pad
// byte): the rest is ignored. Everything else is refused.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codecs/jpeg.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_directory.h"
#include "tiff/tiff_ycbcr.h"

namespace kestova {

enum class TiffCompression { None, PackBits, Lzw, Deflate, FaxHuffman, FaxT4, FaxT6, Jpeg };

// Compression 2, 3 and 4.
inline bool IsFax(TiffCompression compression)
{
    return compression == TiffCompression::FaxHuffman || compression == TiffCompression::FaxT4 ||
        compression == TiffCompression::FaxT6;
}

enum class TiffColour { WhiteIsZero, BlackIsZero, Rgb, Palette, YCbCr };

struct TiffImage {
    TiffFormat format;
    uint32_t width = 0;
    uint32_t height = 0;
    TiffColour colour = TiffColour::Rgb;
    uint32_t bits = 8;     // a sample
    uint32_t samples = 3;  // a pixel
    bool alpha = false;    // the sample past the colour's is alpha (else, if there is one, ignored)
    bool associated = false;  // that alpha already multiplies the colour (ExtraSamples 1)
    TiffCompression compression = TiffCompression::None;
    uint32_t faxOptions = 0;   // T4Options for compression 3, T6Options for 4
    bool predictor = false;    // horizontal differencing
    bool reverseBits = false;  // FillOrder 2: each byte's bits stored lowest first
    bool planar = false;       // one plane a sample
    uint32_t orientation = 1;
    // The picture comes in chunks: strips as wide as the picture, or tiles.
    // In each plane, chunk (column, row) is number row * across + column.
    bool tiled = false;
    uint32_t chunkWidth = 0;
    uint32_t chunkHeight = 0;
    uint32_t across = 0;
    uint32_t down = 0;
    uint64_t chunksPerPlane = 0;
    // Whether the last row of tiles is decoded whole (DecodedWhole).
    bool wholeLastChunks = true;
    TiffField offsets;
    TiffField byteCounts;  // may be absent for uncompressed strips
    TiffField colorMap;
    // JPEG: the tables stream (may be absent), and what the streams' three
    // components are (YCbCr ones come out of the decoder as RGB).
    TiffField jpegTables;
    JpegColour jpegColour = JpegColour::YCbCr;
    TiffYCbCr ycbcr;  // YCbCr's fields
};

// YCbCr with its chroma subsampled: stored in data units (tiff_ycbcr.h).
inline bool TiffSubsampled(const TiffImage& image)
{
    return image.colour == TiffColour::YCbCr && (image.ycbcr.across > 1 || image.ycbcr.down > 1);
}

// Bits of a sample as the pixel functions see it: samples of 9 to 16 bits
// are reduced to 8 as soon as they are decoded (PrepareSamples,
// tiff_chunk.h).
inline uint32_t PixelBits(const TiffImage& image) { return image.bits > 8 ? 8 : image.bits; }

// Samples in a chunk's pixel: one when planes are separate.
inline uint32_t ChunkSamples(const TiffImage& image) { return image.planar ? 1 : image.samples; }

// Bytes of one row of a chunk, as decoded (rows are padded to whole bytes).
inline uint64_t ChunkRowBytes(const TiffImage& image)
{
    return (uint64_t{image.chunkWidth} * ChunkSamples(image) * image.bits + 7) / 8;
}

// Stored bytes of `rows` rows of a chunk: subsampled YCbCr has the rows
// and the chunk's width rounded up to whole blocks, each block's luma
// samples and its two chroma samples stored together.
inline uint64_t ChunkBytes(const TiffImage& image, uint64_t rows)
{
    if (!TiffSubsampled(image)) {
        return ChunkRowBytes(image) * rows;
    }
    const uint64_t across = image.ycbcr.across;
    const uint64_t down = image.ycbcr.down;
    return (rows + down - 1) / down * ((uint64_t{image.chunkWidth} + across - 1) / across) * (across * down + 2);
}

// Whether the chunks of chunk row `down` are decoded whole, every row they
// hold. Only the last row of tiles may not be (see wholeLastChunks): of
// its tiles, only the rows inside the picture are decoded, and of the last
// of those only the pixels inside the picture.
inline bool DecodedWhole(const TiffImage& image, uint32_t down)
{
    return image.wholeLastChunks || down + 1 < image.down;
}

// Rows chunk row `down` holds: a tile always its full height, a strip only
// the picture's rows (the last strip may be short).
inline uint32_t ChunkRows(const TiffImage& image, uint32_t down)
{
    if (image.tiled) {
        return image.chunkHeight;
    }
    const uint64_t left = uint64_t{image.height} - uint64_t{down} * image.chunkHeight;
    return static_cast<uint32_t>(left < image.chunkHeight ? left : image.chunkHeight);
}

// Rows of chunk row `down` to decode.
inline uint32_t DecodedRows(const TiffImage& image, uint32_t down)
{
    if (DecodedWhole(image, down)) {
        return ChunkRows(image, down);
    }
    return static_cast<uint32_t>(uint64_t{image.height} - uint64_t{down} * image.chunkHeight);
}

// Pixels to decode of row `row` of a chunk of chunk row `down` whose first
// `visible` pixels are inside the picture.
inline uint64_t DecodedPixels(const TiffImage& image, uint32_t down, uint32_t row, uint64_t visible)
{
    return DecodedWhole(image, down) || row + 1 < DecodedRows(image, down) ? image.chunkWidth : visible;
}

// Rows of chunk row `down` from row `row` on, that one too, decoded across
// the chunk's whole width: all but a last row that is decoded only as far
// as the picture.
inline uint64_t WholeRowsFrom(const TiffImage& image, uint32_t down, uint32_t row)
{
    return uint64_t{DecodedRows(image, down)} - row - (DecodedWhole(image, down) ? 0 : 1);
}

// Reads the directory and checks everything: NotSupported for a form not
// read or a damaged file; TooLarge for a picture whose BMP would pass
// 4 GiB - 1 bytes. The chunks of a picture whose rows are copied as stored
// (TiffRowsCopied) are checked as they are copied instead, in the one pass
// over the strip tables that copying makes anyway.
Status ReadTiffImage(SourceFile& source, TiffImage& image);

// The common form: uncompressed 8-bit RGB in strips, top row first, its
// rows copied as they are stored.
bool TiffRowsCopied(const TiffImage& image);

// Where chunk `index` lies, and how many bytes it has.
inline Status TiffChunkPlace(SourceFile& /*source*/, const TiffImage& image, TiffValueReader& offsets,
                             TiffValueReader& counts, uint64_t index, uint64_t& offset, uint64_t& bytes)
{
    if (const Status status = offsets.Get(index, offset); status != Status::Ok) {
        return status;
    }
    if (image.byteCounts.present) {
        return counts.Get(index, bytes);
    }
    // Uncompressed strips without StripByteCounts: their rows, exactly.
    const auto down = static_cast<uint32_t>(index % image.chunksPerPlane);
    bytes = ChunkBytes(image, ChunkRows(image, down));
    return Status::Ok;
}

// Checks a chunk of chunk row `down` at `offset`, `bytes` long, as every
// chunk is checked: inside the file, holding its rows' bytes when
// uncompressed, and with the chunks seen so far (their bytes summed in
// `total`) no larger than the file, so that chunks made to overlap cannot
// make the work grow past the file's size. CheckedChunkPlace finds where
// chunk `index` lies and how many bytes it has, and checks it.
inline Status CheckChunk(const SourceFile& source, const TiffImage& image, uint64_t offset, uint64_t bytes,
                         uint32_t down, uint64_t& total)
{
    if (offset > source.size || source.size - offset < bytes) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_FILE_SHORT,
                      offset > UINT64_MAX - bytes ? UINT64_MAX : offset + bytes);
    }
    // Byte counts short of the rows, or chunks that overlap.
    const uint64_t countsTag = image.tiled ? 325 : 279;
    if (image.compression == TiffCompression::None && bytes < ChunkBytes(image, ChunkRows(image, down))) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, countsTag);
    }
    total += bytes;
    return total > source.size ? Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, countsTag)
                               : Status::Ok;
}

inline Status CheckedChunkPlace(SourceFile& source, const TiffImage& image, TiffValueReader& offsets,
                                TiffValueReader& counts, uint64_t index, uint32_t down, uint64_t& total,
                                uint64_t& offset, uint64_t& bytes)
{
    if (const Status status = TiffChunkPlace(source, image, offsets, counts, index, offset, bytes);
        status != Status::Ok) {
        return status;
    }
    return CheckChunk(source, image, offset, bytes, down, total);
}

}  // namespace kestova
