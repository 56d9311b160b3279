// TIFF's LZW (compression 5): codes of 9 to 12 bits, most significant bit
// first; 256 clears the table, 257 ends the data, new strings from 258 on.
// The width grows one code early, when the next free code reaches 511, 1023
// or 2047. Old-style streams, written by early TIFF libraries and still
// read by libtiff, pack codes least significant bit first and widen them on
// time; they start with a byte 0 followed by one with its low bit set.
//
// Every code is checked against the table: a code not yet defined, a table
// that overflows, or a string that does not start with a clear code is
// refused ("corrupted LZW table"). The table lives in an arena lent by
// the caller; strings are written back to front along their prefixes,
// which always point to earlier codes, so no walk can loop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "status.h"

namespace kestova {

// A string is kept as its bytes cut in pieces of kLzwPieceBytes from its
// start: each code stores its last piece (whole or not) and, in one 32-bit
// word, its length (12 bits), the code of the string before that piece
// (12 bits) and its first byte (8 bits). A string is written a whole piece
// a step back from its end, and its first byte, which the next code's
// string needs, is read without a walk. Pieces of 4 bytes keep the table
// at 32 KiB, so that the output buffer's window on the BMP holds two rows
// of 4096 pixels beside it, and each write takes both.
constexpr size_t kLzwPieceBytes = 4;

// Old-style streams could run 1024 codes past a full table. Codes are 12
// bits at most, so the strings defined past 4095 can never be named: they
// are counted, not stored.
constexpr size_t kLzwTableEntries = 4096 + 1024;
constexpr size_t kLzwStoredEntries = 4096;
// The words, then the pieces: 32 KiB.
constexpr size_t kLzwArenaBytes = kLzwStoredEntries * (4 + kLzwPieceBytes);

struct LzwDecoder {
    uint32_t* words = nullptr;  // length | before << 12 | first << 24
    uint8_t* pieces = nullptr;  // kLzwPieceBytes a code
    bool started = false;
    bool oldStyle = false;
    bool ended = false;     // the end-of-data code was read
    uint32_t width = 9;     // bits a code
    uint32_t free = 258;    // the next code to define
    uint32_t previous = 0;  // the last code read; 0x10000 when there is none
    // Bits read ahead: the first bitCount bits of `bits`, from its top for
    // new-style streams, from its bottom for old-style ones. The bits past
    // them are either 0 or those the next bytes will bring.
    uint64_t bits = 0;
    uint32_t bitCount = 0;
    uint32_t pending = 0;      // a string only partly written: its code
    uint32_t pendingDone = 0;  // and how many of its bytes are out
};

// Prepares a decoder for one strip or tile, its table in `arena` (at least
// kLzwArenaBytes, aligned for uint32_t).
void LzwStart(LzwDecoder& decoder, void* arena);

// Decodes exactly `size` bytes into `out`. NotSupported for a damaged
// stream or one that ends first; the source's status on a read error.
Status LzwRead(LzwDecoder& decoder, ByteSource& source, uint8_t* out, size_t size);

// Whether the stream has nothing more to give: the end code next (or the
// data's end), and no string part-way.
bool LzwDone(LzwDecoder& decoder, ByteSource& source);

}  // namespace kestova
