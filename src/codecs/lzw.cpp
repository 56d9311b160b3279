#include "codecs/lzw.h"

#include <cstring>

#include "byte_order.h"

namespace kestova {
namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kMaxWidth = 12;
constexpr uint32_t kNone = 0x10000;
constexpr uint32_t kPiece = kLzwPieceBytes;
// A string at least this long that repeats the one just written, and one
// byte more, is copied from the output: a run (white paper) gives code
// after code of that kind, one byte longer each time, and walking them back
// a piece a step waits on a load each step.
constexpr uint32_t kCopiedFrom = 32;

Status Damaged(const ByteSource& source) { return source.status != Status::Ok ? source.status : Status::NotSupported; }

uint32_t LengthOf(uint32_t word) { return word & 0xFFF; }
uint32_t BeforeOf(uint32_t word) { return word >> 12 & 0xFFF; }
uint32_t FirstOf(uint32_t word) { return word >> 24; }
// How many bytes of a string of `length` its code's own piece holds.
uint32_t LastPieceBytes(uint32_t length) { return (length - 1) % kPiece + 1; }

// A piece is stored and loaded whole, as one 4-byte word: a load that
// spans two stores still in flight, or part of one, waits for them to reach
// the cache, and strings are often named just after they are defined. Byte
// i of a piece is bits 8i to 8i + 7 of its value.
static_assert(kLzwPieceBytes == 4, "a piece is one 32-bit word");
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
uint32_t LoadPiece(const uint8_t* at) { return ReadLe32(at); }
void StorePiece(uint8_t* at, uint32_t piece) { PutLe32(at, piece); }
#else
uint32_t LoadPiece(const uint8_t* at)
{
    uint32_t piece;
    std::memcpy(&piece, at, 4);
    return piece;
}
void StorePiece(uint8_t* at, uint32_t piece) { std::memcpy(at, &piece, 4); }
#endif

// The 256 strings of one byte that every table starts with, as the arena
// holds them: a chunk's start copies them in at one go (a picture in
// one-row strips starts a million chunks), rather than building them one
// by one. Looking them up apart from the arena costs the decoder a select
// on every code, a third of its time on photographs.
struct Roots {
    uint32_t words[256];
    uint8_t pieces[256 * kPiece];  // the byte, then 0s: a longer string adds to them
    constexpr Roots() : words(), pieces()
    {
        for (uint32_t code = 0; code < 256; ++code) {
            words[code] = 1 | code << 24;
            pieces[size_t{code} * kPiece] = static_cast<uint8_t>(code);
        }
    }
};
constexpr Roots kRoots{};

// Adds one byte to the bits read ahead.
void TakeByte(uint64_t& bits, uint32_t& bitCount, bool oldStyle, uint8_t byte)
{
    bits |= oldStyle ? uint64_t{byte} << bitCount : uint64_t{byte} << (56 - bitCount);
    bitCount += 8;
}

// Fills the bits read ahead to 56 at least, at one load when 8 bytes are
// at hand; false when fewer than `width` bits are left in the data.
bool FillBits(ByteSource& source, uint64_t& bits, uint32_t& bitCount, bool oldStyle, uint32_t width)
{
    if (source.end - source.next >= 8) {
        // The bits of a byte taken in part land where the next load puts
        // them again, bit for bit.
        const uint8_t* at = source.next;
        const uint64_t word = oldStyle ? uint64_t{ReadLe32(at + 4)} << 32 | ReadLe32(at)
                                       : uint64_t{ReadBe32(at)} << 32 | ReadBe32(at + 4);
        bits |= oldStyle ? word << bitCount : word >> bitCount;
        source.next += (63 - bitCount) >> 3;
        bitCount |= 56;
        return true;
    }
    while (bitCount <= 56) {
        if (source.next == source.end && !Refill(source)) {
            break;
        }
        TakeByte(bits, bitCount, oldStyle, *source.next++);
    }
    return bitCount >= width;
}

uint32_t TakeCode(uint64_t& bits, uint32_t& bitCount, bool oldStyle, uint32_t width)
{
    uint32_t code;
    if (oldStyle) {
        code = static_cast<uint32_t>(bits) & ((1u << width) - 1);
        bits >>= width;
    } else {
        code = static_cast<uint32_t>(bits >> (64 - width));
        bits <<= width;
    }
    bitCount -= width;
    return code;
}

// The next code; false at the end of the data.
bool NextCode(LzwDecoder& d, ByteSource& source, uint32_t& code)
{
    if (d.bitCount < d.width && !FillBits(source, d.bits, d.bitCount, d.oldStyle, d.width)) {
        return false;
    }
    code = TakeCode(d.bits, d.bitCount, d.oldStyle, d.width);
    return true;
}

// Writes bytes [from, from + count) of code's string, exactly, walking
// back from its end a piece at a time.
void WriteString(const LzwDecoder& d, uint32_t code, uint32_t from, uint32_t count, uint8_t* out)
{
    if (code < 256 && count == 1) {
        *out = static_cast<uint8_t>(code);  // a byte of its own: the common case in rows of a few bytes
        return;
    }
    const uint32_t to = from + count;
    uint32_t end = LengthOf(d.words[code]);
    uint32_t start = end - LastPieceBytes(end);
    while (end > from) {
        const uint32_t a = start > from ? start : from;
        const uint32_t b = end < to ? end : to;
        if (a < b) {
            std::memcpy(out + (a - from), d.pieces + size_t{code} * kPiece + (a - start), b - a);
        }
        code = BeforeOf(d.words[code]);
        end = start;
        start -= kPiece;
    }
}

// Entries from the first free code on need no clearing: a code past the
// next free one is refused, and every one below it was defined since.
void Clear(LzwDecoder& d)
{
    d.width = 9;
    d.free = kFirstFree;
    d.previous = kNone;
}

}  // namespace

void LzwStart(LzwDecoder& decoder, void* arena)
{
    // Field by field: a whole new decoder copied in was built on the stack
    // and read back across its stores, a stall on each of a million chunks.
    decoder.words = static_cast<uint32_t*>(arena);
    decoder.pieces = static_cast<uint8_t*>(arena) + kLzwStoredEntries * 4;
    std::memcpy(decoder.words, kRoots.words, sizeof kRoots.words);
    std::memcpy(decoder.pieces, kRoots.pieces, sizeof kRoots.pieces);
    decoder.words[kClear] = 0;
    decoder.words[kEnd] = 0;
    decoder.started = false;
    decoder.oldStyle = false;
    decoder.ended = false;
    decoder.bits = 0;
    decoder.bitCount = 0;
    decoder.pending = 0;
    decoder.pendingDone = 0;
    Clear(decoder);
}

Status LzwRead(LzwDecoder& d, ByteSource& source, uint8_t* out, size_t size)
{
    if (!d.started) {
        // The first two bytes tell the style: an old-style stream starts
        // with the clear code's low 8 bits (0), then its ninth bit.
        d.started = true;
        uint8_t first;
        uint8_t second;
        if (!NextByte(source, first) || !NextByte(source, second)) {
            return Damaged(source);
        }
        d.oldStyle = first == 0 && (second & 1) != 0;
        TakeByte(d.bits, d.bitCount, d.oldStyle, first);
        TakeByte(d.bits, d.bitCount, d.oldStyle, second);
    }
    // The rest of a string only partly written.
    if (d.pending != 0) {
        const uint32_t left = LengthOf(d.words[d.pending]) - d.pendingDone;
        const uint32_t n = left < size ? left : static_cast<uint32_t>(size);
        WriteString(d, d.pending, d.pendingDone, n, out);
        out += n;
        size -= n;
        d.pendingDone += n;
        if (d.pendingDone == LengthOf(d.words[d.pending])) {
            d.pending = 0;
        }
    }
    // The loop works on copies of the decoder's state: stores through `out`
    // may alias anything, and would otherwise force every field back to
    // memory after each byte.
    uint32_t* const words = d.words;
    uint8_t* const pieces = d.pieces;
    uint32_t width = d.width;
    uint32_t free = d.free;
    uint32_t previous = d.previous;
    uint64_t bits = d.bits;
    uint32_t bitCount = d.bitCount;
    const bool oldStyle = d.oldStyle;
    // The code that widens the codes: one early in new-style streams.
    uint32_t widen = (1u << width) - (oldStyle ? 0 : 1);
    Status status = d.ended && size > 0 ? Damaged(source) : Status::Ok;  // ended before the bytes asked for
    // Where the previous code's string starts in `out`, when this call
    // wrote it whole there.
    const uint8_t* previousAt = nullptr;
    while (size > 0 && status == Status::Ok) {
        if (bitCount < width && !FillBits(source, bits, bitCount, oldStyle, width)) {
            d.ended = true;
            status = Damaged(source);
            break;
        }
        const uint32_t code = TakeCode(bits, bitCount, oldStyle, width);
        const bool selfNamed = code == free;  // its string the previous one and that one's first byte
        // The rare codes, each tested once: a clear, the end, the first code
        // after a clear, a code out of the table, a table full.
        if (code == kClear || code == kEnd || code > free || previous == kNone || free >= kLzwStoredEntries) {
            if (code == kEnd) {
                d.ended = true;
                status = Damaged(source);
                break;
            }
            if (code == kClear) {
                Clear(d);
                width = d.width;
                widen = (1u << width) - (oldStyle ? 0 : 1);
                free = d.free;
                previous = d.previous;
                previousAt = nullptr;
                continue;
            }
            if (previous == kNone) {
                // The first code after a clear: a byte of its own.
                if (code >= 256) {
                    status = Status::NotSupported;
                    break;
                }
                *out++ = static_cast<uint8_t>(code);
                --size;
                previous = code;
                continue;
            }
            // Past the table, or a code not yet defined.
            if (free >= kLzwTableEntries || code >= free) {
                status = Status::NotSupported;
                break;
            }
            // Old style, past 4095: the string is counted, not stored.
        } else {
            // A new string: the previous one and the first byte of this one,
            // which, for the code being defined right now, is its own first.
            const uint32_t before = words[previous];
            const uint32_t length = LengthOf(before);
            const auto next = static_cast<uint8_t>(FirstOf(code < free ? words[code] : before));
            // The previous string's last piece whole, the new one starts a
            // piece of its own. Chosen without a branch: each way comes by
            // turns. A piece's bytes past its string are 0, so the byte is
            // added by an or.
            const uint32_t used = length % kPiece;
            const uint32_t extended = LoadPiece(pieces + size_t{previous} * kPiece) | uint32_t{next} << (8 * used);
            const uint32_t piece = used == 0 ? next : extended;
            const uint32_t word =
                (length + 1) | (before & 0xFF000000u) | (used == 0 ? previous << 12 : before & 0xFFF000u);
            StorePiece(pieces + size_t{free} * kPiece, piece);
            words[free] = word;
        }
        if (++free >= widen && width < kMaxWidth) {
            ++width;
            widen = (1u << width) - (oldStyle ? 0 : 1);
        }
        previous = code;
        const uint32_t word = words[code];
        const uint32_t length = LengthOf(word);
        if (size < length + kPiece) {
            // Near the end of the request: exactly the bytes asked for. A
            // byte of its own is the common case in a row of a few bytes.
            previousAt = nullptr;
            const uint32_t n = length < size ? length : static_cast<uint32_t>(size);
            WriteString(d, code, 0, n, out);
            out += n;
            size -= n;
            if (n < length) {
                d.pending = code;
                d.pendingDone = n;
            }
            continue;
        }
        if (selfNamed && previousAt != nullptr && length >= kCopiedFrom) {
            std::memcpy(out, previousAt, length - 1);
            out[length - 1] = static_cast<uint8_t>(FirstOf(word));
            previousAt = out;
            out += length;
            size -= length;
            continue;
        }
        // The code's own piece whole, its bytes past the string overwritten
        // by the next one; then the whole pieces before.
        previousAt = out;
        uint32_t at = length - LastPieceBytes(length);
        StorePiece(out + at, LoadPiece(pieces + size_t{code} * kPiece));
        for (uint32_t c = BeforeOf(word); at > 0; c = BeforeOf(words[c])) {
            at -= kPiece;
            StorePiece(out + at, LoadPiece(pieces + size_t{c} * kPiece));
        }
        out += length;
        size -= length;
    }
    d.width = width;
    d.free = free;
    d.previous = previous;
    d.bits = bits;
    d.bitCount = bitCount;
    return status;
}

bool LzwDone(LzwDecoder& d, ByteSource& source)
{
    if (d.pending != 0) {
        return false;
    }
    uint32_t code;
    while (!d.ended && NextCode(d, source, code)) {
        if (code == kEnd) {
            return true;
        }
        if (code != kClear) {
            return false;  // more data
        }
        Clear(d);
    }
    return source.status == Status::Ok;
}

}  // namespace kestova
