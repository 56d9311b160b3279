#include "tiff/tiff_chunk.h"

#include <cstring>

namespace kestova {
namespace {

// Hands the source the next of the chunk's bytes from the buffer, reading
// a buffer's worth first when they are not in it. A read takes a whole
// buffer, past the chunk's end where the file goes on, so that small
// chunks stored one after another (one-row strips) cost one read for many.
bool RefillFromFile(ByteSource& source)
{
    auto& d = *static_cast<ChunkDecoder*>(source.context);
    if (source.status != Status::Ok || d.next >= d.end) {
        return false;
    }
    if (d.next < d.bufferOffset || d.next - d.bufferOffset >= d.bufferLength) {
        const uint64_t left = d.file->size > d.next ? d.file->size - d.next : 0;
        const size_t length = left < sizeof d.buffer ? static_cast<size_t>(left) : sizeof d.buffer;
        d.bufferLength = 0;
        source.status = ReadSource(*d.file, d.next, d.buffer, length);
        if (source.status != Status::Ok || length == 0) {
            return false;
        }
        if (d.reverseBits) {
            ReverseBits(d.buffer, length);
        }
        d.bufferOffset = d.next;
        d.bufferLength = length;
    }
    const auto at = static_cast<size_t>(d.next - d.bufferOffset);
    const size_t length = static_cast<size_t>(std::min<uint64_t>(d.bufferLength - at, d.end - d.next));
    d.next += length;
    source.next = d.buffer + at;
    source.end = source.next + length;
    return true;
}

// Points the source at the `bytes` stored bytes at `offset`.
void ReadFrom(ChunkDecoder& d, uint64_t offset, uint64_t bytes)
{
    d.next = offset;
    d.end = offset + bytes;
    d.source = ByteSource{};
    d.source.refill = RefillFromFile;
    d.source.context = &d;
}

// Uncompressed: the stored bytes as they are.
Status Copy(ByteSource& source, uint8_t* out, size_t size)
{
    while (size > 0) {
        if (source.next == source.end && !Refill(source)) {
            return source.status != Status::Ok ? source.status : Status::NotSupported;
        }
        const auto available = static_cast<size_t>(source.end - source.next);
        const size_t n = available < size ? available : size;
        std::memcpy(out, source.next, n);
        source.next += n;
        out += n;
        size -= n;
    }
    return Status::Ok;
}

// A Deflate chunk whose stored bytes and `decoded` bytes fit the
// whole-buffer arena together: read whole and inflated in one call. False
// where it does not fit, or libdeflate does not take the stream whole
// (zlib then streams it, and decides). A read error is the caller's.
bool InflateChunkWhole(ChunkDecoder& d, uint64_t offset, uint64_t bytes, uint64_t decoded, Status& status)
{
    const size_t room = kWholeArenaBytes;
    if (decoded == 0 || !WholeReady(d.whole)) {
        return false;
    }
    uint8_t* base = WholeRoom(d.whole);
    if (bytes > room || decoded > room - bytes) {
        return false;
    }
    // The rows at the arena's end, on a cache line where there is room;
    // the stored bytes before them.
    const size_t rowsAt = room - static_cast<size_t>(std::min<uint64_t>((decoded + 63) / 64 * 64, room - bytes));
    const bool held = offset >= d.storedOffset && offset - d.storedOffset <= d.storedLength &&
        bytes <= d.storedLength - (offset - d.storedOffset) && offset - d.storedOffset + bytes <= rowsAt;
    if (!held) {
        // Chunks stored one after another (small strips) are read many at
        // once; reading ahead at most 16 times a chunk's bytes keeps the
        // waste small where they lie apart.
        const uint64_t left = d.file->size > offset ? d.file->size - offset : 0;
        const uint64_t ahead = std::min<uint64_t>({bytes * 16, uint64_t{64} * 1024, left});
        const auto length = static_cast<size_t>(std::min<uint64_t>(std::max(ahead, bytes), rowsAt));
        d.storedLength = 0;
        status = ReadSource(*d.file, offset, base, length);
        if (status != Status::Ok) {
            return true;
        }
        if (d.reverseBits) {
            ReverseBits(base, length);
        }
        d.storedOffset = offset;
        d.storedLength = length;
    }
    const uint8_t* stored = base + (offset - d.storedOffset);
    d.storedLength = std::min(d.storedLength, rowsAt);  // the rows go over what lies past
    size_t produced = 0;
    if (!InflateWhole(d.whole, stored, static_cast<size_t>(bytes), base + rowsAt, static_cast<size_t>(decoded),
                      produced)) {
        return false;
    }
    d.inflatedWhole = true;
    d.wholeAt = base + rowsAt;
    d.wholeEnd = d.wholeAt + produced;
    return true;
}

// Hands on inflated bytes as zlib would stream them: a stream that ends
// before `size` more is refused.
Status CopyWhole(ChunkDecoder& d, uint8_t* out, size_t size)
{
    if (size > static_cast<size_t>(d.wholeEnd - d.wholeAt)) {
        return Status::NotSupported;
    }
    std::memcpy(out, d.wholeAt, size);
    d.wholeAt += size;
    return Status::Ok;
}

// The Compression value of a coding, for the reason of a refusal.
uint64_t CompressionValue(TiffCompression compression)
{
    switch (compression) {
    case TiffCompression::None: return 1;
    case TiffCompression::PackBits: return 32773;
    case TiffCompression::Lzw: return 5;
    case TiffCompression::Deflate: return 8;
    case TiffCompression::FaxHuffman: return 2;
    case TiffCompression::FaxT4: return 3;
    case TiffCompression::FaxT6: return 4;
    case TiffCompression::Jpeg: return 7;
    }
    return 0;
}

// A decoder's NotSupported is damaged data (a stored chunk that ends early
// was noted as a short file when the read failed, which is kept first).
Status Decoded(const ChunkDecoder& d, Status status)
{
    return status == Status::NotSupported
        ? Refuse(*d.file, status, KESTOVA_REASON_CODED_DATA, CompressionValue(d.compression))
        : status;
}

// Samples of 9 to 15 bits lie packed across bytes, each one's highest bit
// first, with no byte order (as libtiff writes and reads them); `size`
// bytes start on a sample and hold whole samples but for the padding bits
// that end a row, fewer than one sample's. Samples 0 to i end at bit
// (i + 1) * bits, past byte i: they are read before byte i is written, and
// later ones lie past it, so the reduction goes in place.
void ReducePacked(uint32_t bits, uint8_t* bytes, size_t size)
{
    const uint32_t most = (uint32_t{1} << bits) - 1;
    const size_t count = size * 8 / bits;
    uint32_t held = 0;  // bits read ahead, the lowest `have` of them not yet taken
    uint32_t have = 0;
    size_t next = 0;
    for (size_t i = 0; i < count; ++i) {
        while (have < bits) {
            held = held << 8 | bytes[next++];
            have += 8;
        }
        have -= bits;
        const uint32_t v = held >> have & most;
        bytes[i] = static_cast<uint8_t>((v * 255 + most / 2) / most);
    }
}

}  // namespace

void ReverseBits(uint8_t* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = bytes[i];
        byte = static_cast<uint8_t>((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
        byte = static_cast<uint8_t>((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
        bytes[i] = static_cast<uint8_t>((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
    }
}

size_t ChunkArenaBytes(ChunkDecoder& d, TiffCompression compression)
{
    // zlib's arena is in the whole-buffer inflater's, where it can be had.
    return compression == TiffCompression::Deflate && WholeReady(d.whole) ? 0 : ChunkArenaBytes(compression);
}

size_t ChunkArenaBytes(TiffCompression compression)
{
    switch (compression) {
    case TiffCompression::Lzw: return kLzwArenaBytes;
    case TiffCompression::Deflate: return kDeflateArenaBytes;
    case TiffCompression::FaxHuffman:
    case TiffCompression::FaxT4:
    case TiffCompression::FaxT6: return kCcittArenaBytes;
    case TiffCompression::Jpeg: return kJpegArenaBytes;
    default: return 0;
    }
}

Status StartChunk(ChunkDecoder& d, SourceFile& file, TiffCompression compression, bool reverseBits, uint64_t offset,
                  uint64_t bytes, void* arena, uint32_t width, uint32_t options, uint64_t decoded)
{
    EndChunk(d);
    if (d.file != &file || d.reverseBits != reverseBits) {
        d.bufferLength = d.storedLength = 0;  // what the buffers hold is another file's, or turned otherwise
    }
    d.compression = compression;
    d.file = &file;
    d.reverseBits = reverseBits;
    d.aheadAt = d.aheadEnd = 0;
    d.inflatedWhole = false;
    ReadFrom(d, offset, bytes);
    switch (compression) {
    case TiffCompression::None: return Status::Ok;
    case TiffCompression::PackBits: d.packBits = PackBitsDecoder{}; return Status::Ok;
    case TiffCompression::Lzw: LzwStart(d.lzw, arena); return Status::Ok;
    case TiffCompression::Deflate: {
        Status status = Status::Ok;
        if (InflateChunkWhole(d, offset, bytes, decoded, status)) {
            return status;
        }
        return DeflateStart(d.deflate, d.whole.decompressor != nullptr ? WholeZlibArena(d.whole) : arena);
    }
    case TiffCompression::FaxHuffman:
        CcittStart(d.ccitt, CcittCoding::ModifiedHuffman, options, width, arena);
        return Status::Ok;
    case TiffCompression::FaxT4: CcittStart(d.ccitt, CcittCoding::T4, options, width, arena); return Status::Ok;
    case TiffCompression::FaxT6: CcittStart(d.ccitt, CcittCoding::T6, options, width, arena); return Status::Ok;
    case TiffCompression::Jpeg: break;  // needs the picture's tables: the overload below
    }
    return Status::NotSupported;
}

Status StartChunk(ChunkDecoder& d, SourceFile& file, const TiffImage& image, uint32_t down, uint64_t offset,
                  uint64_t bytes, void* arena)
{
    if (image.compression != TiffCompression::Jpeg) {
        // Chunks decoded whole (all but a last row of tiles cut at the
        // picture's foot) say how many bytes that is.
        const uint64_t decoded = DecodedWhole(image, down) ? ChunkBytes(image, ChunkRows(image, down)) : 0;
        return StartChunk(d, file, image.compression, image.reverseBits, offset, bytes, arena, image.chunkWidth,
                          image.faxOptions, decoded);
    }
    // The tables stream first, read through the chunk's reader, then the
    // chunk's own stream. libjpeg sees bytes as stored: JPEG is a byte
    // stream, and FillOrder does not apply to it, as libtiff takes it.
    // libjpeg's object is kept from the last chunk (JpegStart): not ended.
    const TiffField& tables = image.jpegTables;
    d.compression = TiffCompression::None;
    Status status = StartChunk(d, file, TiffCompression::None, false, tables.offset, tables.count, arena, 0, 0);
    d.compression = TiffCompression::Jpeg;
    if (status == Status::Ok) {
        status = JpegStart(d.jpeg, arena);
    }
    if (status == Status::Ok && tables.present) {
        status = Decoded(d, JpegTables(d.jpeg, d.source));
    }
    if (status != Status::Ok) {
        return status;
    }
    ReadFrom(d, offset, bytes);
    // A tile's stream holds the whole tile; a strip's the strip's rows, but
    // the last strip's may be coded taller (at the full RowsPerStrip, as
    // some writers make it): libtiff reads its rows and ignores the rest,
    // and so does this reader, decoding no more of it.
    const uint32_t rows = ChunkRows(image, down);
    const bool lastStrip = !image.tiled && down + 1 == image.down;
    const JpegFrame frame{image.jpegColour, image.chunkWidth, rows, lastStrip ? UINT32_MAX : rows};
    return Decoded(d, JpegBegin(d.jpeg, d.source, frame));
}

Status ReadChunk(ChunkDecoder& d, uint8_t* out, size_t size)
{
    switch (d.compression) {
    case TiffCompression::None: return Decoded(d, Copy(d.source, out, size));
    case TiffCompression::PackBits: return Decoded(d, PackBitsRead(d.packBits, d.source, out, size));
    case TiffCompression::Lzw: return Decoded(d, LzwRead(d.lzw, d.source, out, size));
    case TiffCompression::Deflate:
        return Decoded(d, d.inflatedWhole ? CopyWhole(d, out, size) : DeflateRead(d.deflate, d.source, out, size));
    case TiffCompression::FaxHuffman:
    case TiffCompression::FaxT4:
    case TiffCompression::FaxT6: return Decoded(d, CcittRead(d.ccitt, d.source, out, size));
    case TiffCompression::Jpeg: return Decoded(d, JpegRead(d.jpeg, out, size));
    }
    return Status::NotSupported;
}

void PrepareSamples(const TiffImage& image, uint8_t* bytes, size_t size, SampleCarry& carry)
{
    const uint32_t samples = ChunkSamples(image);
    if (image.bits <= 8) {
        if (image.predictor) {
            Undifference(bytes, size, samples, carry.narrow);
        }
        return;
    }
    if (image.bits != 16) {
        ReducePacked(image.bits, bytes, size);
        return;
    }
    // Sample i's two bytes are read before byte i is written, and i <= 2i:
    // the reduction can go in place. With the predictor each sample is
    // the sum, modulo 2^16, of its difference and the same sample of the
    // pixel before.
    const bool little = image.format.littleEndian;
    uint32_t s = 0;
    for (size_t i = 0; i < size / 2; ++i) {
        const uint8_t* at = bytes + 2 * i;
        auto v = static_cast<uint16_t>(little ? at[0] | at[1] << 8 : at[0] << 8 | at[1]);
        if (image.predictor) {
            v = carry.wide[s] = static_cast<uint16_t>(carry.wide[s] + v);
            s = s + 1 == samples ? 0 : s + 1;
        }
        bytes[i] = static_cast<uint8_t>((uint32_t{v} * 255 + 32767) / 65535);
    }
}

// How far past its rows a streamed Deflate chunk is inflated to reach its
// check value: the few bytes a writer's last block may hold more, not the
// gigabytes a hostile one may declare.
constexpr size_t kDeflateCheckedPastRows = 4096;

Status FinishChunk(ChunkDecoder& d)
{
    // Not even read: a last strip coded whole may hold gigabytes more. A
    // JPEG stream is read to its end, where that needs no more rows
    // decoded (JpegDone), so that damage libjpeg meets there still refuses
    // the picture, as it would amid the rows.
    if (d.compression == TiffCompression::Jpeg && !JpegDone(d.jpeg) && d.source.status == Status::Ok) {
        return Decoded(d, Status::NotSupported);
    }
    // A streamed Deflate chunk is read on to its check value, a little way
    // (libdeflate checked a chunk it inflated whole): damage there refuses
    // the picture however the rows were asked for.
    if (d.compression == TiffCompression::Deflate && !d.inflatedWhole && d.source.status == Status::Ok) {
        return Decoded(d, DeflateCheckEnd(d.deflate, d.source, kDeflateCheckedPastRows));
    }
    return d.source.status;
}

void EndChunk(ChunkDecoder& d)
{
    if (d.compression == TiffCompression::Deflate) {
        DeflateEnd(d.deflate);
    }
    if (d.compression == TiffCompression::Jpeg) {
        JpegEnd(d.jpeg);
    }
}

}  // namespace kestova
