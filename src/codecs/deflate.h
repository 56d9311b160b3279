// Deflate (TIFF compression 8, and 32946 as older writers numbered it): a
// zlib stream. A strip or tile that fits a fixed arena whole, its stored
// bytes and its decoded rows together, is inflated in one call by
// libdeflate (WholeInflater), several times faster than streaming; any
// other is inflated by zlib a piece at a time. zlib allocates through the
// functions it is given: here they hand out pieces of an arena the caller
// lends (its state and its 32 KiB window, about 40 KiB), so no heap is
// used, and a stream that asks for more is refused.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "status.h"

namespace kestova {

constexpr size_t kDeflateArenaBytes = size_t{40} * 1024;

struct DeflateDecoder {
    z_stream stream{};
    uint8_t* arena = nullptr;
    size_t arenaUsed = 0;
    bool open = false;
    bool ended = false;  // the stream's end was reached
};

// Prepares a decoder for one strip or tile, its memory from `arena` (at
// least kDeflateArenaBytes, aligned for any object).
Status DeflateStart(DeflateDecoder& decoder, void* arena);

// Inflates exactly `size` bytes into `out`. NotSupported for a damaged
// stream or one that ends first; the source's status on a read error.
Status DeflateRead(DeflateDecoder& decoder, ByteSource& source, uint8_t* out, size_t size);

// Whether the stream has nothing more to give.
bool DeflateDone(DeflateDecoder& decoder, ByteSource& source);

// Inflates on past the rows, up to `most` bytes more out (thrown away)
// and about as many more in, so that zlib reaches the stream's end and its
// check value (Adler-32) is checked: NotSupported where the data proves
// damaged there. A stream whose data runs out first, or that holds more
// than that past the rows, is taken as it is: the rows are all there, and
// the work stays bounded whatever a stream holds. The verdict does not
// depend on how the rows were asked for.
Status DeflateCheckEnd(DeflateDecoder& decoder, ByteSource& source, size_t most);

// Lets zlib go; safe on a decoder that did not start.
void DeflateEnd(DeflateDecoder& decoder);

// The whole-buffer inflater's arena: libdeflate's decompressor (about
// 11 KiB), zlib's arena for the chunks it streams, then 1 MiB for a
// chunk's stored bytes and its decoded rows together. 1 MiB holds the
// strips and tiles writers commonly make (8 KiB to a few hundred KiB
// decoded); larger ones stream through zlib, so memory stays the same
// whatever the chunk. It is mapped from the system for the conversion
// that needs it, only its pages in use resident, and given back after;
// zlib's part in it leaves the output block whole to the rows.
constexpr size_t kWholeArenaBytes = size_t{1} << 20;
constexpr size_t kWholeDecompressorBytes = size_t{16} * 1024;
constexpr size_t kWholeMappedBytes = kWholeDecompressorBytes + kDeflateArenaBytes + kWholeArenaBytes;

struct WholeInflater {
    uint8_t* arena = nullptr;  // kWholeMappedBytes
    bool mapped = false;   // the arena is ours to give back
    bool failed = false;   // no arena or no decompressor: zlib does it all
    void* decompressor = nullptr;

    WholeInflater() = default;
    WholeInflater(const WholeInflater&) = delete;
    WholeInflater& operator=(const WholeInflater&) = delete;
    ~WholeInflater();
};

// Whether libdeflate is built in.
bool WholeInflaterBuiltIn();

// Gets the inflater ready on its first call, its arena mapped (or `lent`,
// kWholeMappedBytes long and aligned for any object, when given); false where
// libdeflate is not built in or no memory can be had, and zlib inflates.
bool WholeReady(WholeInflater& inflater, void* lent = nullptr);

// The part of a ready inflater's arena that zlib's decoder is lent
// (kDeflateArenaBytes).
inline uint8_t* WholeZlibArena(const WholeInflater& inflater) { return inflater.arena + kWholeDecompressorBytes; }

// The room for stored and decoded bytes (kWholeArenaBytes).
inline uint8_t* WholeRoom(const WholeInflater& inflater)
{
    return inflater.arena + kWholeDecompressorBytes + kDeflateArenaBytes;
}

// Inflates the zlib stream in `in` into `out`, at most `room` bytes, in
// one call. True for a whole, undamaged stream (its checksum checked, any
// bytes after it ignored), its decoded length in `produced`; false for
// anything else (damaged, cut short, or more than `room`): zlib, streaming
// only as far as the rows need, then decides, so that a picture converts
// or is refused exactly as it would be without libdeflate.
bool InflateWhole(WholeInflater& inflater, const uint8_t* in, size_t inBytes, uint8_t* out, size_t room,
                  size_t& produced);

}  // namespace kestova
