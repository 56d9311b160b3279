#include "codecs/deflate.h"

namespace kestova {
namespace {

// zlib's allocation functions over the arena: pieces handed out in order,
// aligned, never given back (the arena goes with the decoder).
voidpf ArenaAlloc(voidpf opaque, uInt items, uInt size)
{
    auto& decoder = *static_cast<DeflateDecoder*>(opaque);
    const size_t bytes = (size_t{items} * size + 15) / 16 * 16;
    if (size != 0 && items > (kDeflateArenaBytes / size) + 1) {
        return Z_NULL;
    }
    if (bytes > kDeflateArenaBytes - decoder.arenaUsed) {
        return Z_NULL;
    }
    void* piece = decoder.arena + decoder.arenaUsed;
    decoder.arenaUsed += bytes;
    return piece;
}

void ArenaFree(voidpf, voidpf) {}

// Gives zlib the source's next piece when it has used the last.
bool Feed(DeflateDecoder& d, ByteSource& source)
{
    if (source.next == source.end && !Refill(source)) {
        return false;
    }
    d.stream.next_in = const_cast<Bytef*>(source.next);
    d.stream.avail_in = static_cast<uInt>(source.end - source.next);
    source.next = source.end;  // all of it is zlib's now
    return true;
}

}  // namespace

Status DeflateStart(DeflateDecoder& decoder, void* arena)
{
    DeflateEnd(decoder);
    decoder = DeflateDecoder{};
    decoder.arena = static_cast<uint8_t*>(arena);
    decoder.stream.zalloc = ArenaAlloc;
    decoder.stream.zfree = ArenaFree;
    decoder.stream.opaque = &decoder;
    if (inflateInit(&decoder.stream) != Z_OK) {
        return Status::NotSupported;
    }
    decoder.open = true;
    return Status::Ok;
}

Status DeflateRead(DeflateDecoder& d, ByteSource& source, uint8_t* out, size_t size)
{
    d.stream.next_out = out;
    while (size > 0) {
        if (d.ended) {
            return Status::NotSupported;  // the stream ended before the bytes asked for
        }
        // With its input all taken, zlib may still owe the rest of a match:
        // the data ends only when inflating gives nothing more.
        const bool fed = d.stream.avail_in != 0 || Feed(d, source);
        if (!fed && source.status != Status::Ok) {
            return source.status;
        }
        const uInt chunk = size < 0x40000000 ? static_cast<uInt>(size) : 0x40000000;
        d.stream.avail_out = chunk;
        const int result = inflate(&d.stream, Z_NO_FLUSH);
        const uInt produced = chunk - d.stream.avail_out;
        size -= produced;
        if (result == Z_STREAM_END) {
            d.ended = true;
        } else if ((result != Z_OK && result != Z_BUF_ERROR) || (!fed && produced == 0)) {
            // Damaged data, memory the arena does not have, or data that
            // ends before the bytes asked for.
            return Status::NotSupported;
        }
    }
    return Status::Ok;
}

bool DeflateDone(DeflateDecoder& d, ByteSource& source)
{
    // One byte more may come out only of a stream that is not done.
    uint8_t extra;
    while (!d.ended) {
        const bool fed = d.stream.avail_in != 0 || Feed(d, source);
        if (!fed && source.status != Status::Ok) {
            return false;
        }
        d.stream.next_out = &extra;
        d.stream.avail_out = 1;
        const int result = inflate(&d.stream, Z_NO_FLUSH);
        if (d.stream.avail_out == 0) {
            return false;  // more bytes than the rows need
        }
        if (result == Z_STREAM_END) {
            d.ended = true;
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return false;
        } else if (!fed) {
            return true;  // the data ends, and nothing more comes out
        }
    }
    return true;
}

void DeflateEnd(DeflateDecoder& decoder)
{
    if (decoder.open) {
        inflateEnd(&decoder.stream);
        decoder.open = false;
    }
}

}  // namespace kestova
