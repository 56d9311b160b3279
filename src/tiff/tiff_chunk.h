// Reading one chunk (a strip or a tile) of one plane: its stored bytes,
// read forward from the file through a small buffer (each byte's bits
// reversed for FillOrder 2, as libtiff reverses them), and decoded by the
// chunk's compression. The decoders' memory (an LZW table, zlib's state and
// window, the fax decoder's two rows) comes from an arena the caller lends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "codecs/ccitt.h"
#include "codecs/deflate.h"
#include "codecs/jpeg.h"
#include "codecs/lzw.h"
#include "codecs/packbits.h"
#include "platform/output_file.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_pixels.h"

namespace kestova {

// FillOrder 2: each byte's bits in the other order, 0x01 becoming 0x80.
void ReverseBits(uint8_t* bytes, size_t size);

// The arena a compression needs.
size_t ChunkArenaBytes(TiffCompression compression);

struct ChunkDecoder {
    TiffCompression compression = TiffCompression::None;
    ByteSource source;
    // The stored bytes left to read, and their buffer.
    SourceFile* file = nullptr;
    uint64_t next = 0;
    uint64_t end = 0;
    bool reverseBits = false;
    // The file's bytes [bufferOffset, bufferOffset + bufferLength) are in
    // `buffer`, bits reversed if reverseBits; kept from chunk to chunk.
    uint64_t bufferOffset = 0;
    size_t bufferLength = 0;
    PackBitsDecoder packBits;
    LzwDecoder lzw;
    DeflateDecoder deflate;
    // A Deflate chunk inflated whole: its decoded bytes [wholeAt, wholeEnd)
    // not yet handed on, in the inflater's arena, whose start holds the
    // file's bytes [storedOffset, storedOffset + storedLength), read ahead.
    WholeInflater whole;
    bool inflatedWhole = false;
    const uint8_t* wholeAt = nullptr;
    const uint8_t* wholeEnd = nullptr;
    uint64_t storedOffset = 0;
    size_t storedLength = 0;
    CcittDecoder ccitt;
    JpegDecoder jpeg;
    uint8_t buffer[4096];
    // Narrow rows decoded ahead, several in one call: the piece's bytes
    // [aheadAt, aheadEnd) are rows not yet handed on.
    size_t aheadAt = 0;
    size_t aheadEnd = 0;
};

// The arena a compression needs of the output block, with `decoder`: none
// for Deflate where the decoder has memory of its own (WholeInflater).
size_t ChunkArenaBytes(ChunkDecoder& decoder, TiffCompression compression);

// Starts decoding the `bytes` stored bytes at `offset`, of a chunk `width`
// pixels wide (the fax codings need it, and their `options`). `decoded`
// is how many bytes will be read of it, when known (0 if not): a Deflate
// chunk that fits the whole-buffer inflater with them is inflated at once.
Status StartChunk(ChunkDecoder& decoder, SourceFile& file, TiffCompression compression, bool reverseBits,
                  uint64_t offset, uint64_t bytes, void* arena, uint32_t width, uint32_t options,
                  uint64_t decoded = 0);

// The same for chunk `down` (its row of chunks) of `image`: JPEG needs to
// know the picture's tables and the frame the chunk must hold.
Status StartChunk(ChunkDecoder& decoder, SourceFile& file, const TiffImage& image, uint32_t down, uint64_t offset,
                  uint64_t bytes, void* arena);

// Decodes exactly `size` bytes. NotSupported when the chunk has fewer.
Status ReadChunk(ChunkDecoder& decoder, uint8_t* out, size_t size);

// After the chunk's rows. Whatever the chunk holds past them is ignored,
// as libtiff ignores it: writers code a last strip at the full
// RowsPerStrip height, or count a pad byte after PackBits' last row. (A
// chunk that holds fewer rows than it should was refused by ReadChunk.)
Status FinishChunk(ChunkDecoder& decoder);

// Safe to call more than once. The arena keeps nothing from one chunk to
// the next: once a chunk is ended, its caller may use the arena for other
// bytes until it starts the next (tiles gathered into whole BMP rows do).
void EndChunk(ChunkDecoder& decoder);

// Decoded bytes are worked on this many at a time.
constexpr size_t kChunkPieceBytes = size_t{8} * 1024;

// The output buffer, divided: the decoder's arena, a piece of decoded
// bytes, and the rest for a window on the output.
struct ChunkWork {
    void* arena;
    uint8_t* piece;
    Scratch window;
};

inline ChunkWork DivideWork(Scratch idle, size_t arenaBytes)
{
    const auto start = reinterpret_cast<uintptr_t>(idle.data);
    const size_t skip = (16 - start % 16) % 16;  // the arena holds objects
    uint8_t* arena = idle.data + skip;
    uint8_t* piece = arena + (arenaBytes + 15) / 16 * 16;
    uint8_t* window = piece + kChunkPieceBytes;
    return ChunkWork{arena, piece, Scratch{window, static_cast<size_t>(idle.data + idle.size - window)}};
}

// The running sums of horizontal differencing, carried from one piece of
// a row to the next: the samples of the pixel before, of 8 or 16 bits.
struct SampleCarry {
    uint8_t narrow[4] = {};
    uint16_t wide[4] = {};
};

// Makes `size` decoded bytes of a row, whole pixels from a pixel's start,
// what the pixel functions read: the predictor undone, and samples of 9
// to 16 bits (16 in the file's byte order, 9 to 15 packed across bytes)
// reduced to 8 bits, v of n bits becoming round(v * 255 / (2^n - 1)),
// one a byte from the bytes' start.
void PrepareSamples(const TiffImage& image, uint8_t* bytes, size_t size, SampleCarry& carry);

// Pixels decoded at a time: a multiple of 8, so that each piece but a row's
// last is whole bytes.
inline uint64_t PiecePixels(const TiffImage& image)
{
    const uint64_t bitsPerPixel = uint64_t{ChunkSamples(image)} * image.bits;
    return kChunkPieceBytes * 8 / bitsPerPixel / 8 * 8;
}

// Decodes the first `decoded` pixels of one row of a chunk (its whole
// width, `image.chunkWidth`, but where DecodedPixels says less), a piece at
// a time (predictor undone), and hands the decoded samples of the first
// `visible` pixels on (16-bit samples reduced to 8: PrepareSamples):
// put(samples, firstPixel, pixels) for each piece,
// `samples` holding the piece from pixel `firstPixel` of its start.
// `wholeRows` is how many of the chunk's rows, this one among them, are
// still to be decoded across the whole width (WholeRowsFrom).
template <typename Put>
Status DecodeChunkRow(ChunkDecoder& decoder, const TiffImage& image, uint8_t* piece, uint64_t visible,
                      uint64_t decoded, uint64_t wholeRows, Put&& put)
{
    const uint64_t rowBytes = ChunkRowBytes(image);
    // Narrow rows are decoded many to a call, as many as the piece holds
    // of those the chunk has left (never past them, so that its end is
    // still checked exactly): a decoder's call costs far more than a
    // byte, and a picture one pixel wide has 16 million rows.
    if (decoder.aheadAt < decoder.aheadEnd || (wholeRows > 0 && rowBytes <= kChunkPieceBytes / 2)) {
        if (decoder.aheadAt == decoder.aheadEnd) {
            const uint64_t bytes = std::min<uint64_t>(wholeRows, kChunkPieceBytes / rowBytes) * rowBytes;
            if (const Status status = ReadChunk(decoder, piece, static_cast<size_t>(bytes)); status != Status::Ok) {
                return status;
            }
            decoder.aheadAt = 0;
            decoder.aheadEnd = static_cast<size_t>(bytes);
        }
        uint8_t* row = piece + decoder.aheadAt;
        decoder.aheadAt += static_cast<size_t>(rowBytes);
        SampleCarry carry;
        PrepareSamples(image, row, static_cast<size_t>(rowBytes), carry);
        return visible > 0 ? put(row, uint64_t{0}, std::min<uint64_t>(visible, image.chunkWidth)) : Status::Ok;
    }
    const uint64_t perPiece = PiecePixels(image);
    const uint64_t bitsPerPixel = uint64_t{ChunkSamples(image)} * image.bits;
    SampleCarry carry;
    uint64_t bytesDone = 0;
    for (uint64_t pixel = 0; pixel < decoded;) {
        const uint64_t pixels = std::min(perPiece, uint64_t{image.chunkWidth} - pixel);
        const uint64_t bytes = pixel + pixels == image.chunkWidth ? rowBytes - bytesDone : pixels * bitsPerPixel / 8;
        if (const Status status = ReadChunk(decoder, piece, static_cast<size_t>(bytes)); status != Status::Ok) {
            return status;
        }
        bytesDone += bytes;
        PrepareSamples(image, piece, static_cast<size_t>(bytes), carry);
        if (pixel < visible) {
            const uint64_t shown = std::min(pixels, visible - pixel);
            if (const Status status = put(piece, pixel, shown); status != Status::Ok) {
                return status;
            }
        }
        pixel += pixels;
    }
    return Status::Ok;
}

}  // namespace kestova
