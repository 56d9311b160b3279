#include "codecs/deflate.h"

#include <algorithm>

#if KESTOVATIFF_WITH_LIBDEFLATE
#include <libdeflate.h>
#include <pthread.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>
#endif

namespace kestova {
namespace {

#if KESTOVATIFF_WITH_LIBDEFLATE
// libdeflate takes its decompressor's memory from one allocator for the
// whole process, which has no argument to say whose call it is. While a
// conversion sets up its decompressor, the piece of its arena is lent to
// the thread doing it, and to no other: any other allocation (another
// user of libdeflate in the process) goes to malloc as usual, and every
// free to free (the library never frees through libdeflate: the arena
// goes away whole).
std::mutex g_lendLock;
std::atomic<pthread_t> g_lender{};
void* g_lent = nullptr;

void* LendingMalloc(size_t size)
{
    if (pthread_equal(g_lender.load(), pthread_self()) != 0 && g_lent != nullptr &&
        size <= kWholeDecompressorBytes) {
        return std::exchange(g_lent, nullptr);
    }
    return std::malloc(size);  // NOLINT(cppcoreguidelines-no-malloc): libdeflate's other users
}

void LendingFree(void* pointer) { std::free(pointer); }  // NOLINT(cppcoreguidelines-no-malloc)

// Places a decompressor at the start of the arena. False where libdeflate
// would take memory elsewhere (a larger decompressor than the room kept).
bool PlaceDecompressor(WholeInflater& w)
{
    static const bool installed = (libdeflate_set_memory_allocator(LendingMalloc, LendingFree), true);
    (void)installed;
    const std::lock_guard<std::mutex> hold(g_lendLock);
    g_lent = w.arena;
    g_lender.store(pthread_self());
    libdeflate_decompressor* made = libdeflate_alloc_decompressor();
    g_lender.store(pthread_t{});
    g_lent = nullptr;
    if (made != nullptr && static_cast<void*>(made) != w.arena) {
        libdeflate_free_decompressor(made);
        made = nullptr;
    }
    w.decompressor = made;
    return made != nullptr;
}
#endif

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

Status DeflateCheckEnd(DeflateDecoder& d, ByteSource& source, size_t most)
{
    uint8_t sink[256];
    const uLong takenBefore = d.stream.total_in;
    while (!d.ended) {
        // Stored bytes count too: empty blocks give nothing out.
        if (d.stream.total_in - takenBefore > most) {
            return Status::Ok;
        }
        const bool fed = d.stream.avail_in != 0 || Feed(d, source);
        if (!fed && source.status != Status::Ok) {
            return source.status;
        }
        const uInt room = static_cast<uInt>(std::min(sizeof sink, most));
        d.stream.next_out = sink;
        d.stream.avail_out = room;
        const int result = inflate(&d.stream, Z_NO_FLUSH);
        const size_t produced = room - d.stream.avail_out;
        if (result == Z_STREAM_END) {
            d.ended = true;
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return Status::NotSupported;  // damaged, the check value among it
        } else if ((!fed && produced == 0) || (room == 0 && d.stream.avail_out == 0)) {
            return Status::Ok;  // the data runs out, or more of it than is checked
        }
        most -= produced;
    }
    return Status::Ok;
}

#if KESTOVATIFF_WITH_LIBDEFLATE
bool WholeInflaterBuiltIn() { return true; }

bool WholeReady(WholeInflater& w, void* lent)
{
    if (w.decompressor != nullptr || w.failed) {
        return !w.failed;
    }
    if (lent != nullptr) {
        w.arena = static_cast<uint8_t*>(lent);
    } else {
        void* mapping = mmap(nullptr, kWholeMappedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping != MAP_FAILED) {
            w.arena = static_cast<uint8_t*>(mapping);
            w.mapped = true;
        }
    }
    w.failed = w.arena == nullptr || !PlaceDecompressor(w);
    return !w.failed;
}

bool InflateWhole(WholeInflater& w, const uint8_t* in, size_t inBytes, uint8_t* out, size_t room, size_t& produced)
{
    size_t used = 0;
    produced = 0;
    return libdeflate_zlib_decompress_ex(static_cast<libdeflate_decompressor*>(w.decompressor), in, inBytes, out,
                                         room, &used, &produced) == LIBDEFLATE_SUCCESS;
}

WholeInflater::~WholeInflater()
{
    if (mapped) {
        munmap(arena, kWholeMappedBytes);
    }
}
#else
bool WholeInflaterBuiltIn() { return false; }

bool WholeReady(WholeInflater& w, void*)
{
    w.failed = true;
    return false;
}

bool InflateWhole(WholeInflater&, const uint8_t*, size_t, uint8_t*, size_t, size_t& produced)
{
    produced = 0;
    return false;
}

WholeInflater::~WholeInflater() = default;
#endif

void DeflateEnd(DeflateDecoder& decoder)
{
    if (decoder.open) {
        inflateEnd(&decoder.stream);
        decoder.open = false;
    }
}

}  // namespace kestova
