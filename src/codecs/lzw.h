// TIFF's LZW (compression 5): codes of 9 to 12 bits, most significant bit
// first; 256 clears the table, 257 ends the data, new strings from 258 on.
// The width grows one code early, when the next free code reaches 511, 1023
// or 2047. Old-style streams, written by early TIFF libraries and still
// read by libtiff, pack codes least significant bit first and widen them on
// time; they start with a byte 0 followed by one with its low bit set.
//
// Every code is checked against the table: a code not yet defined, a table
// that overflows, or a string that does not start with a clear code is
// refused ("corrupted LZW table"). The table (40 KiB) lives in an
// arena lent by the caller; strings are written back to front along their
// prefixes, which always point to earlier codes, so no walk can loop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "status.h"

namespace kestova {

// Each string keeps its last two bytes and the code of what is left
// without them, so a string is written two bytes a step.
struct LzwEntry {
    uint16_t prefix;   // the string's code without its last byte
    uint16_t prefix2;  // without its last two (strings of 3 bytes and more)
    uint16_t length;   // 0: not defined
    uint8_t last;      // its last byte
    uint8_t last2;     // the one before (strings of 2 bytes and more)
    uint8_t first;     // its first byte
};

// Old-style streams could run 1024 codes past a full table. Codes are 12
// bits at most, so the strings defined past 4095 can never be named: they
// are counted, not stored.
constexpr size_t kLzwTableEntries = 4096 + 1024;
constexpr size_t kLzwStoredEntries = 4096;
constexpr size_t kLzwArenaBytes = kLzwStoredEntries * sizeof(LzwEntry);

struct LzwDecoder {
    LzwEntry* table = nullptr;
    bool started = false;
    bool oldStyle = false;
    bool ended = false;     // the end-of-data code was read
    uint32_t width = 9;     // bits a code
    uint32_t free = 258;    // the next code to define
    uint32_t previous = 0;  // the last code read; 0x10000 when there is none
    uint64_t bits = 0;      // bits read ahead
    uint32_t bitCount = 0;
    uint32_t pending = 0;      // a string only partly written: its code
    uint32_t pendingDone = 0;  // and how many of its bytes are out
};

// Prepares a decoder for one strip or tile, its table in `arena` (at least
// kLzwArenaBytes, aligned for LzwEntry).
void LzwStart(LzwDecoder& decoder, void* arena);

// Decodes exactly `size` bytes into `out`. NotSupported for a damaged
// stream or one that ends first; the source's status on a read error.
Status LzwRead(LzwDecoder& decoder, ByteSource& source, uint8_t* out, size_t size);

// Whether the stream has nothing more to give: the end code next (or the
// data's end), and no string part-way.
bool LzwDone(LzwDecoder& decoder, ByteSource& source);

}  // namespace kestova
