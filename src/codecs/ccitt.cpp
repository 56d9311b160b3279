#include "codecs/ccitt.h"

#include <cstring>

namespace kestova {
namespace {

// Codes are looked up by the next 12 bits (white) or 13 (black), the
// longest code of each colour: each entry holds the code's length (0: no
// code starts so) in its top 4 bits and its run below.
constexpr uint32_t kWhiteBits = 12;
constexpr uint32_t kBlackBits = 13;
constexpr uint32_t kEolRun = 0xFFF;  // the EOL, 000000000001, where a run was due
constexpr uint32_t kEolCode = 1;
constexpr uint32_t kEolBits = 12;

template <uint32_t Bits>
struct RunTable {
    uint16_t entry[size_t{1} << Bits] = {};
    bool overlap = false;  // two codes sharing a prefix: the tables are wrong
};

template <uint32_t Bits>
constexpr void Put(RunTable<Bits>& table, uint32_t code, uint32_t bits, uint32_t run)
{
    const uint32_t shift = Bits - bits;
    for (uint32_t low = 0; low < (1u << shift); ++low) {
        uint16_t& entry = table.entry[(code << shift) | low];
        table.overlap = table.overlap || entry != 0;
        entry = static_cast<uint16_t>(bits << 12 | run);
    }
}

template <uint32_t Bits, size_t N>
constexpr RunTable<Bits> MakeRunTable(const CcittCode (&codes)[N])
{
    RunTable<Bits> table;
    for (const CcittCode& c : codes) {
        Put(table, c.code, c.bits, c.run);
    }
    for (const CcittCode& c : kCcittExtendedCodes) {
        Put(table, c.code, c.bits, c.run);
    }
    Put(table, kEolCode, kEolBits, kEolRun);
    return table;
}

constexpr RunTable<kWhiteBits> kWhite = MakeRunTable<kWhiteBits>(kCcittWhiteCodes);
constexpr RunTable<kBlackBits> kBlack = MakeRunTable<kBlackBits>(kCcittBlackCodes);
static_assert(!kWhite.overlap && !kBlack.overlap, "a code is the prefix of another");

// The 2-D modes by the next 7 bits: the code's length (0 for seven 0
// bits: an EOL, or nothing) in bits 0-3, the mode in 4-6, a vertical
// mode's a1 - b1 + 3 from bit 8.
constexpr uint32_t kModeBits = 7;
struct ModeTable {
    uint16_t entry[1u << kModeBits] = {};
    bool overlap = false;
};
constexpr ModeTable MakeModeTable()
{
    ModeTable table;
    for (const CcittModeCode& c : kCcittModeCodes) {
        const uint32_t shift = kModeBits - c.bits;
        for (uint32_t low = 0; low < (1u << shift); ++low) {
            uint16_t& entry = table.entry[(uint32_t{c.code} << shift) | low];
            table.overlap = table.overlap || entry != 0;
            entry = static_cast<uint16_t>(static_cast<uint32_t>(c.offset + 3) << 8 |
                                          static_cast<uint32_t>(c.mode) << 4 | c.bits);
        }
    }
    return table;
}
constexpr ModeTable kModes = MakeModeTable();
static_assert(!kModes.overlap && kModes.entry[0] == 0, "a mode code is the prefix of another");

// The row loops keep the bit reader in registers: stores to the row may
// alias anything, so a reader reached through a pointer would be written
// back and read again around each of them.
#if defined(__GNUC__)
#define CCITT_INLINE inline __attribute__((always_inline))
#else
#define CCITT_INLINE inline
#endif

Status Damaged(const ByteSource& source) { return source.status != Status::Ok ? source.status : Status::NotSupported; }

inline uint64_t LoadBigEndian64(const uint8_t* bytes)
{
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return __builtin_bswap64(word);
#else
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) {
        word = word << 8 | bytes[i];
    }
    return word;
#endif
}

// Of a word other than 0.
inline uint32_t LeadingZeros(uint64_t word)
{
#if defined(__GNUC__)
    return static_cast<uint32_t>(__builtin_clzll(word));
#else
    uint32_t n = 0;
    for (; (word & uint64_t{1} << 63) == 0; word <<= 1) {
        ++n;
    }
    return n;
#endif
}

// The bits of the data, most significant first, read ahead a word at a
// time and kept from the top of `bits` down, so that the next n are one
// shift away. Past the data's end they read as 0 bits, which start no
// code; a code is taken only when all its bits are there.
struct Reader {
    ByteSource& source;
    uint64_t bits;   // the next bit in bit 63; below the `count` read ahead, 0 or the bits that follow
    uint32_t count;

    CCITT_INLINE void Fill()
    {
        if (count <= 56 && source.end - source.next >= 8) {
            // Whole bytes up to 63 bits from a word; the rest of the word's
            // bits come again with their bytes.
            bits |= LoadBigEndian64(source.next) >> count;
            const uint32_t bytes = (63 - count) / 8;
            source.next += bytes;
            count += 8 * bytes;
            return;
        }
        while (count <= 56) {
            if (source.next == source.end && !Refill(source)) {
                return;
            }
            bits |= uint64_t{*source.next++} << (56 - count);
            count += 8;
        }
    }
    // Enough for two codes or a mode and a code, when the data has them.
    CCITT_INLINE void Need()
    {
        if (count < 32) {
            Fill();
        }
    }
    // The next n bits, 1 to 32.
    [[nodiscard]] uint32_t Peek(uint32_t n) const { return static_cast<uint32_t>(bits >> (64 - n)); }
    // Drops n bits (at most 32) of those read ahead.
    void Drop(uint32_t n)
    {
        bits <<= n;
        count -= n;
    }
    // False when the code was not all there.
    [[nodiscard]] bool Skip(uint32_t n)
    {
        if (n > count) {
            return false;
        }
        Drop(n);
        return true;
    }
};

// A run of one colour: its make-up codes and terminating code. False for a
// code not in the tables, an EOL, the data's end, or a run past `limit`.
CCITT_INLINE bool ReadRun(Reader& r, bool black, uint32_t limit, uint32_t& run)
{
    run = 0;
    for (;;) {
        r.Need();
        const uint32_t entry = black ? kBlack.entry[r.Peek(kBlackBits)] : kWhite.entry[r.Peek(kWhiteBits)];
        const uint32_t length = entry >> 12;
        const uint32_t value = entry & 0xFFF;
        if (length == 0 || value == kEolRun || !r.Skip(length)) {
            return false;
        }
        run += value;
        if (run > limit) {
            return false;
        }
        if (value < 64) {
            return true;
        }
    }
}

// Reads an EOL if one is next: any number of 0 bits (fill), the last
// eleven of them followed by a 1.
bool ReadEol(Reader& r)
{
    r.Need();
    if (r.Peek(kEolBits) == kEolCode) {
        return r.Skip(kEolBits);
    }
    if (r.Peek(kEolBits) != 0) {
        return false;
    }
    for (;;) {  // fill bits: at most a byte's worth, but not refused if more
        r.Need();
        if (r.count == 0) {
            return false;
        }
        const uint32_t take = r.count < 32 ? r.count : 32;
        const uint32_t next = r.Peek(take);
        if (next != 0) {
            // The 1 ending the EOL.
            uint32_t zeros = 0;
            while ((next >> (take - 1 - zeros) & 1) == 0) {
                ++zeros;
            }
            r.Drop(zeros + 1);
            return true;
        }
        r.Drop(take);
    }
}

// The first pixel at or after `from` of the colour `black`, or `width`.
// Scanned a word at a time: the row is followed by 8 bytes of 0, and its
// bits past `width` are 0.
CCITT_INLINE uint32_t FindColour(const uint8_t* row, uint32_t rowBytes, uint32_t from, uint32_t width, bool black)
{
    if (from >= width) {
        return width;
    }
    const uint64_t flip = black ? 0 : ~uint64_t{0};
    size_t byte = from >> 3;
    uint64_t word = (LoadBigEndian64(row + byte) ^ flip) & (~uint64_t{0} >> (from & 7));
    while (word == 0) {
        byte += 8;
        if (byte >= rowBytes) {
            return width;
        }
        word = LoadBigEndian64(row + byte) ^ flip;
    }
    const uint64_t at = byte * 8 + uint64_t{LeadingZeros(word)};
    return at < width ? static_cast<uint32_t>(at) : width;
}

// b1 for an a0 on the row (not the imaginary pixel before it): the first
// pixel above past a0 of the colour other than `black` whose left
// neighbour is `black`. Most often within the word read at a0.
CCITT_INLINE uint32_t FindB1(const uint8_t* above, uint32_t rowBytes, uint32_t a0, uint32_t width, bool black)
{
    // Bit 63 - k: the pixel at a0 + k above, for the 64 - a0 % 8 read.
    const uint64_t word = LoadBigEndian64(above + (a0 >> 3)) << (a0 & 7);
    const uint64_t next = word << 1;  // the pixel at a0 + k + 1
    const uint64_t changes = (black ? ~next & word : next & ~word) & (~uint64_t{0} << ((a0 & 7) + 1));
    if (changes != 0) {
        const uint64_t at = a0 + 1 + uint64_t{LeadingZeros(changes)};
        return at < width ? static_cast<uint32_t>(at) : width;
    }
    // Past the rest of the run of a0's colour above, when a0 sits on it,
    // then to the next of the other colour.
    uint32_t from = a0 + 1;
    if (((above[a0 >> 3] >> (7 - (a0 & 7)) & 1) != 0) != black) {
        from = FindColour(above, rowBytes, from, width, black);
    }
    return FindColour(above, rowBytes, from, width, !black);
}

// Pixels [from, to) black, in a row cleared to white.
CCITT_INLINE void FillBlack(uint8_t* row, uint32_t from, uint32_t to)
{
    if (from >= to) {
        return;
    }
    const size_t first = from >> 3;
    const size_t last = (to - 1) >> 3;
    const auto head = static_cast<uint8_t>(0xFFu >> (from & 7));
    const auto tail = static_cast<uint8_t>(0xFFu << (7 - ((to - 1) & 7)));
    if (first == last) {
        row[first] |= head & tail;
        return;
    }
    row[first] |= head;
    if (last - first > 16) {
        std::memset(row + first + 1, 0xFF, last - first - 1);
    } else {
        for (size_t i = first + 1; i < last; ++i) {  // the short runs of text: no call
            row[i] = 0xFF;
        }
    }
    row[last] |= tail;
}

bool DecodeRow1D(Reader& in, uint8_t* row, uint32_t width)
{
    Reader r = in;
    bool black = false;
    for (uint32_t a0 = 0; a0 < width; black = !black) {
        uint32_t run;
        if (!ReadRun(r, black, width - a0, run)) {
            return false;
        }
        if (black) {
            FillBlack(row, a0, a0 + run);
        }
        a0 += run;
    }
    in.bits = r.bits;
    in.count = r.count;
    return true;
}

// A row against the one above. a0 is where the coding stands, starting on
// an imaginary white pixel before the row; b1 is the first change above
// a0 to the colour other than a0's, b2 the next change after b1, both
// `width` when the row above has none.
bool DecodeRow2D(Reader& in, uint8_t* row, const uint8_t* above, uint32_t rowBytes, uint32_t width)
{
    Reader r = in;
    uint32_t a0 = 0;
    bool start = true;  // a0 is the imaginary pixel before the row
    bool black = false;
    while (a0 < width) {
        r.Need();
        const uint32_t entry = kModes.entry[r.Peek(kModeBits)];
        if (entry == 0 || !r.Skip(entry & 15)) {
            return false;  // an EOL within the row, the data's end, or no code
        }
        const auto mode = static_cast<CcittMode>(entry >> 4 & 7);
        if (mode == CcittMode::Horizontal) {
            uint32_t run1;
            uint32_t run2;
            if (!ReadRun(r, black, width - a0, run1) || !ReadRun(r, !black, width - a0 - run1, run2)) {
                return false;
            }
            FillBlack(row, black ? a0 : a0 + run1, black ? a0 + run1 : a0 + run1 + run2);
            a0 += run1 + run2;
            start = false;
            continue;
        }
        if (mode != CcittMode::Pass && mode != CcittMode::Vertical) {
            return false;  // the uncompressed mode
        }
        const uint32_t b1 = start ? FindColour(above, rowBytes, 0, width, true) : FindB1(above, rowBytes, a0, width, black);
        if (mode == CcittMode::Pass) {
            const uint32_t b2 = FindColour(above, rowBytes, b1, width, black);
            if (black) {
                FillBlack(row, a0, b2);
            }
            a0 = b2;
        } else {
            const int64_t a1 = int64_t{b1} + static_cast<int64_t>(entry >> 8) - 3;
            if (a1 < int64_t{a0} || a1 > int64_t{width}) {
                return false;  // a change before a0, or past the row
            }
            if (black) {
                FillBlack(row, a0, static_cast<uint32_t>(a1));
            }
            a0 = static_cast<uint32_t>(a1);
            black = !black;
        }
        start = false;
    }
    in.bits = r.bits;
    in.count = r.count;
    return true;
}

// Decodes the next row into d.row, the one above in d.reference.
bool DecodeRow(CcittDecoder& d, ByteSource& source)
{
    Reader r{source, d.bits, d.bitCount};
    bool ok;
    switch (d.coding) {
    case CcittCoding::ModifiedHuffman:
        r.Drop(r.count % 8);  // each row starts on a byte
        ok = DecodeRow1D(r, d.row, d.width);
        break;
    case CcittCoding::T4: {
        // The EOL before the row is left out by some writers, the first
        // row's most often: a row may start without one. A 2-D row's tag
        // bit is read either way.
        ok = true;
        ReadEol(r);
        bool twoD = false;
        if (d.twoDimensional) {
            r.Need();
            twoD = r.Peek(1) == 0;
            ok = r.Skip(1);
        }
        ok = ok && (twoD ? DecodeRow2D(r, d.row, d.reference, d.rowBytes, d.width) : DecodeRow1D(r, d.row, d.width));
        break;
    }
    case CcittCoding::T6:
    default: ok = DecodeRow2D(r, d.row, d.reference, d.rowBytes, d.width); break;
    }
    d.bits = r.bits;
    d.bitCount = r.count;
    return ok;
}

}  // namespace

void CcittStart(CcittDecoder& decoder, CcittCoding coding, uint32_t options, uint32_t width, void* arena)
{
    decoder = CcittDecoder{};
    decoder.coding = coding;
    decoder.twoDimensional = coding == CcittCoding::T4 && (options & kCcittTwoDimensional) != 0;
    decoder.refused = width == 0 || width > kCcittMaxWidth ||
                      (coding != CcittCoding::ModifiedHuffman && (options & kCcittUncompressed) != 0);
    decoder.width = width;
    decoder.rowBytes = decoder.refused ? 0 : (width + 7) / 8;
    decoder.rowOut = decoder.rowBytes;
    decoder.row = static_cast<uint8_t*>(arena);
    decoder.reference = decoder.row + kCcittRowBytes;
    // Both rows white, and the 8 bytes after each 0 for FindColour.
    std::memset(decoder.row, 0, decoder.rowBytes + 8);
    std::memset(decoder.reference, 0, decoder.rowBytes + 8);
}

Status CcittRead(CcittDecoder& d, ByteSource& source, uint8_t* out, size_t size)
{
    if (d.refused) {
        return Status::NotSupported;
    }
    while (size > 0) {
        if (d.rowOut == d.rowBytes) {
            if (d.ended) {
                return Damaged(source);
            }
            uint8_t* const above = d.row;
            d.row = d.reference;
            d.reference = above;
            std::memset(d.row, 0, d.rowBytes);
            if (!DecodeRow(d, source)) {
                d.ended = true;
                return Damaged(source);
            }
            d.rowOut = 0;
            ++d.rows;
        }
        const size_t left = d.rowBytes - d.rowOut;
        const size_t n = left < size ? left : size;
        std::memcpy(out, d.row + d.rowOut, n);
        out += n;
        size -= n;
        d.rowOut += static_cast<uint32_t>(n);
    }
    return Status::Ok;
}

bool CcittDone(CcittDecoder& d, ByteSource& source)
{
    if (d.refused || d.ended || d.rowOut != d.rowBytes) {
        return false;
    }
    // Only 0 bits and EOLs (each with its tag bit in 2-D T.4) may follow.
    Reader r{source, d.bits, d.bitCount};
    uint32_t zeros = 0;
    for (;;) {
        r.Need();
        if (r.count == 0) {
            return source.status == Status::Ok;
        }
        const uint32_t bit = r.Peek(1);
        r.Drop(1);
        if (bit == 0) {
            ++zeros;
            continue;
        }
        if (zeros < kEolBits - 1) {
            return false;
        }
        zeros = 0;
        if (d.twoDimensional) {
            r.Need();
            if (!r.Skip(1)) {
                return source.status == Status::Ok;
            }
        }
    }
}

}  // namespace kestova
