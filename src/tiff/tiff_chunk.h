// Reading one chunk (a strip or a tile) of one plane: its stored bytes,
// read forward from the file through a small buffer (each byte's bits
// reversed for FillOrder 2, as libtiff reverses them), and decoded by the
// chunk's compression. The decoders' memory (an LZW table, zlib's state and
// window) comes from an arena the caller lends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
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
    JpegDecoder jpeg;
    uint8_t buffer[4096];
};

// Starts decoding the `bytes` stored bytes at `offset`.
Status StartChunk(ChunkDecoder& decoder, SourceFile& file, TiffCompression compression, bool reverseBits,
                  uint64_t offset, uint64_t bytes, void* arena);

// The same for chunk `down` (its row of chunks) of `image`: JPEG needs to
// know the picture's tables and the frame the chunk must hold.
Status StartChunk(ChunkDecoder& decoder, SourceFile& file, const TiffImage& image, uint32_t down, uint64_t offset,
                  uint64_t bytes, void* arena);

// Decodes exactly `size` bytes. NotSupported when the chunk has fewer.
Status ReadChunk(ChunkDecoder& decoder, uint8_t* out, size_t size);

// After the chunk's rows: NotSupported when its data would decode to more
// (an uncompressed chunk may hold bytes past its rows).
Status FinishChunk(ChunkDecoder& decoder);

// Safe to call more than once.
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
// `visible` pixels on: put(samples, firstPixel, pixels) for each piece,
// `samples` holding the piece from pixel `firstPixel` of its start.
template <typename Put>
Status DecodeChunkRow(ChunkDecoder& decoder, const TiffImage& image, uint8_t* piece, uint64_t visible,
                      uint64_t decoded, Put&& put)
{
    const uint64_t rowBytes = ChunkRowBytes(image);
    const uint64_t perPiece = PiecePixels(image);
    const uint64_t bitsPerPixel = uint64_t{ChunkSamples(image)} * image.bits;
    uint8_t carry[4] = {};
    uint64_t bytesDone = 0;
    for (uint64_t pixel = 0; pixel < decoded;) {
        const uint64_t pixels = std::min(perPiece, uint64_t{image.chunkWidth} - pixel);
        const uint64_t bytes = pixel + pixels == image.chunkWidth ? rowBytes - bytesDone : pixels * bitsPerPixel / 8;
        if (const Status status = ReadChunk(decoder, piece, static_cast<size_t>(bytes)); status != Status::Ok) {
            return status;
        }
        bytesDone += bytes;
        if (image.predictor) {
            Undifference(piece, static_cast<size_t>(bytes), ChunkSamples(image), carry);
        }
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
