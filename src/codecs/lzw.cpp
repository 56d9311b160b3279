#include "codecs/lzw.h"

namespace kestova {
namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kMaxWidth = 12;
constexpr uint32_t kNone = 0x10000;

Status Damaged(const ByteSource& source) { return source.status != Status::Ok ? source.status : Status::NotSupported; }

// The next code; false at the end of the data.
bool NextCode(LzwDecoder& d, ByteSource& source, uint32_t& code)
{
    if (d.bitCount < d.width) {
        // Take as many bytes as the bit buffer holds, a code's worth at least.
        do {
            if (source.next == source.end && !Refill(source)) {
                return false;
            }
            do {
                const uint8_t byte = *source.next++;
                if (d.oldStyle) {
                    d.bits |= uint64_t{byte} << d.bitCount;
                } else {
                    d.bits = (d.bits << 8) | byte;
                }
                d.bitCount += 8;
            } while (d.bitCount <= 56 && source.next != source.end);
        } while (d.bitCount < d.width);
    }
    const uint32_t mask = (1u << d.width) - 1;
    if (d.oldStyle) {
        code = static_cast<uint32_t>(d.bits) & mask;
        d.bits >>= d.width;
    } else {
        code = static_cast<uint32_t>(d.bits >> (d.bitCount - d.width)) & mask;
    }
    d.bitCount -= d.width;
    return true;
}

// Writes bytes [from, from + count) of code's string, walking back from
// its end.
void WriteString(const LzwEntry* table, uint32_t code, uint32_t from, uint32_t count, uint8_t* out)
{
    uint32_t position = table[code].length;
    while (position > from + count) {  // past the part wanted
        code = table[code].prefix;
        --position;
    }
    for (uint8_t* at = out + count; at > out;) {
        *--at = table[code].last;
        code = table[code].prefix;
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
    decoder = LzwDecoder{};
    decoder.table = static_cast<LzwEntry*>(arena);
    for (uint32_t code = 0; code < 256; ++code) {
        decoder.table[code] = LzwEntry{0, 0, 1, static_cast<uint8_t>(code), 0, static_cast<uint8_t>(code)};
    }
    decoder.table[kClear] = LzwEntry{};
    decoder.table[kEnd] = LzwEntry{};
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
        d.bits = d.oldStyle ? (uint64_t{second} << 8) | first : (uint64_t{first} << 8) | second;
        d.bitCount = 16;
    }
    // The rest of a string only partly written.
    if (d.pending != 0) {
        const uint32_t left = d.table[d.pending].length - d.pendingDone;
        const uint32_t n = left < size ? left : static_cast<uint32_t>(size);
        WriteString(d.table, d.pending, d.pendingDone, n, out);
        out += n;
        size -= n;
        d.pendingDone += n;
        if (d.pendingDone == d.table[d.pending].length) {
            d.pending = 0;
        }
    }
    // The loop works on copies of the decoder's state: stores through `out`
    // may alias anything, and would otherwise force every field back to
    // memory after each byte.
    LzwEntry* const table = d.table;
    uint32_t width = d.width;
    uint32_t free = d.free;
    uint32_t previous = d.previous;
    uint64_t bits = d.bits;
    uint32_t bitCount = d.bitCount;
    const bool oldStyle = d.oldStyle;
    Status status = Status::Ok;
    while (size > 0) {
        if (d.ended) {
            status = Damaged(source);  // ended before the bytes asked for
            break;
        }
        // The next code, the bit buffer filled as far as it holds.
        while (bitCount < width) {
            if (source.next == source.end && !Refill(source)) {
                break;
            }
            const uint8_t* next = source.next;
            const uint8_t* const end = source.end;
            do {
                bits = oldStyle ? bits | uint64_t{*next} << bitCount : bits << 8 | *next;
                ++next;
                bitCount += 8;
            } while (bitCount <= 56 && next != end);
            source.next = next;
        }
        if (bitCount < width) {
            d.ended = true;
            status = Damaged(source);
            break;
        }
        const uint32_t mask = (1u << width) - 1;
        uint32_t code;
        if (oldStyle) {
            code = static_cast<uint32_t>(bits) & mask;
            bits >>= width;
        } else {
            code = static_cast<uint32_t>(bits >> (bitCount - width)) & mask;
        }
        bitCount -= width;
        if (code == kEnd) {
            d.ended = true;
            status = Damaged(source);
            break;
        }
        if (code == kClear) {
            Clear(d);
            width = d.width;
            free = d.free;
            previous = d.previous;
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
        // A new string: the previous one and the first byte of this one,
        // which, for the code being defined right now, is its own first.
        if (free >= kLzwTableEntries || code > free) {
            status = Status::NotSupported;
            break;
        }
        // Fields are read and written one by one: building whole entries on
        // the stack costs a stalled store-to-load forward for each.
        const LzwEntry* before = &table[previous];
        if (code < free && table[code].length == 0) {
            status = Status::NotSupported;  // not defined
            break;
        }
        if (free < kLzwStoredEntries) {
            LzwEntry* entry = &table[free];
            entry->prefix = static_cast<uint16_t>(previous);
            entry->prefix2 = before->prefix;
            entry->length = static_cast<uint16_t>(before->length + 1);
            entry->last = code < free ? table[code].first : before->first;
            entry->last2 = before->last;
            entry->first = before->first;
        }
        const LzwEntry* string = &table[code];
        if (++free >= (1u << width) - (d.oldStyle ? 0 : 1) && width < kMaxWidth) {
            ++width;
        }
        previous = code;
        const uint32_t length = string->length;
        if (length == 1) {
            *out++ = string->last;
            --size;
            continue;
        }
        if (length > size) {
            WriteString(table, code, 0, static_cast<uint32_t>(size), out);
            d.pending = code;
            d.pendingDone = static_cast<uint32_t>(size);
            size = 0;
            break;
        }
        // Walk back from the string's end two bytes a step; the first byte
        // is known.
        uint8_t* at = out + length;
        const uint8_t first = string->first;
        at[-1] = string->last;
        at[-2] = string->last2;
        at -= 2;
        for (uint32_t c = string->prefix2; at - out >= 2; c = table[c].prefix2) {
            at[-1] = table[c].last;
            at[-2] = table[c].last2;
            at -= 2;
        }
        *out = first;
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
