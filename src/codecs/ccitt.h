// The fax codings of bilevel pictures (TIFF compressions 2, 3 and 4): each
// row is runs of white and black pixels, starting with white, each run a
// Huffman code per colour (one or more make-up codes for its multiple of 64,
// then a terminating code for the rest, 0 to 63).
//   2  modified Huffman: runs only; each row starts on a byte boundary.
//   3  each row after an end-of-line code (eleven 0 bits and a 1, with 0
//      bits before it to end it on a byte boundary if the options' bit 2
//      says so); with the options' bit 0, a tag bit after the EOL: 1 for a
//      row of runs, 0 for a row coded against the row above (2-D); six EOLs
//      end the data.
//   4  every row 2-D, no EOLs; two EOLs end the data.
// A 2-D row is coded by where its colour changes against where the row
// above changes (the reference row; white above the first row): pass,
// horizontal (two runs) and vertical (a change 0 to 3 pixels off) modes.
//
// Rows come out as TIFF stores uncompressed 1-bit rows: most significant
// bit first, each row padded to a whole byte, black 1 and white 0. The
// decoder takes bytes in FillOrder 1 order: the chunk reader reverses those
// of FillOrder 2 before any decoder sees them.
//
// Everything is checked: a code not in the tables, a run that passes the
// row's end, a row that ends short (an EOL or the data's end within it), a
// 2-D change before the previous one, or data that ends before the rows
// asked for is refused (NotSupported), as is the uncompressed mode, which
// hardly any writer uses. The two rows live in an arena lent by the caller.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "status.h"

namespace kestova {

enum class CcittCoding : uint32_t { ModifiedHuffman = 2, T4 = 3, T6 = 4 };

// T4Options: bit 0 2-D rows, bit 1 uncompressed mode, bit 2 fill bits
// before each EOL. T6Options: bit 1 uncompressed mode.
constexpr uint32_t kCcittTwoDimensional = 1;
constexpr uint32_t kCcittUncompressed = 2;

// Rows as packed bits, the row being decoded and the one above it. 65535
// pixels (8 KiB a row) are far more than any fax or scan needs (a 600 dpi
// scan of an A3 page is 7016 wide) and keep the arena within the
// conversion's block; wider rows are refused.
constexpr uint32_t kCcittMaxWidth = 65535;
constexpr size_t kCcittRowBytes = (kCcittMaxWidth + 7) / 8 + 8;  // room to read a word past the end
constexpr size_t kCcittArenaBytes = 2 * kCcittRowBytes;

// A code of the tables: `bits` bits, most significant first, for a run of
// `run` pixels. The make-up codes from 1792 on are the same for both colours.
struct CcittCode {
    uint16_t run;
    uint16_t code;
    uint8_t bits;
};

// clang-format off
inline constexpr CcittCode kCcittWhiteCodes[] = {
    {0, 0x35, 8}, {1, 0x07, 6}, {2, 0x07, 4}, {3, 0x08, 4}, {4, 0x0B, 4}, {5, 0x0C, 4}, {6, 0x0E, 4},
    {7, 0x0F, 4}, {8, 0x13, 5}, {9, 0x14, 5}, {10, 0x07, 5}, {11, 0x08, 5}, {12, 0x08, 6}, {13, 0x03, 6},
    {14, 0x34, 6}, {15, 0x35, 6}, {16, 0x2A, 6}, {17, 0x2B, 6}, {18, 0x27, 7}, {19, 0x0C, 7}, {20, 0x08, 7},
    {21, 0x17, 7}, {22, 0x03, 7}, {23, 0x04, 7}, {24, 0x28, 7}, {25, 0x2B, 7}, {26, 0x13, 7}, {27, 0x24, 7},
    {28, 0x18, 7}, {29, 0x02, 8}, {30, 0x03, 8}, {31, 0x1A, 8}, {32, 0x1B, 8}, {33, 0x12, 8}, {34, 0x13, 8},
    {35, 0x14, 8}, {36, 0x15, 8}, {37, 0x16, 8}, {38, 0x17, 8}, {39, 0x28, 8}, {40, 0x29, 8}, {41, 0x2A, 8},
    {42, 0x2B, 8}, {43, 0x2C, 8}, {44, 0x2D, 8}, {45, 0x04, 8}, {46, 0x05, 8}, {47, 0x0A, 8}, {48, 0x0B, 8},
    {49, 0x52, 8}, {50, 0x53, 8}, {51, 0x54, 8}, {52, 0x55, 8}, {53, 0x24, 8}, {54, 0x25, 8}, {55, 0x58, 8},
    {56, 0x59, 8}, {57, 0x5A, 8}, {58, 0x5B, 8}, {59, 0x4A, 8}, {60, 0x4B, 8}, {61, 0x32, 8}, {62, 0x33, 8},
    {63, 0x34, 8},
    {64, 0x1B, 5}, {128, 0x12, 5}, {192, 0x17, 6}, {256, 0x37, 7}, {320, 0x36, 8}, {384, 0x37, 8},
    {448, 0x64, 8}, {512, 0x65, 8}, {576, 0x68, 8}, {640, 0x67, 8}, {704, 0xCC, 9}, {768, 0xCD, 9},
    {832, 0xD2, 9}, {896, 0xD3, 9}, {960, 0xD4, 9}, {1024, 0xD5, 9}, {1088, 0xD6, 9}, {1152, 0xD7, 9},
    {1216, 0xD8, 9}, {1280, 0xD9, 9}, {1344, 0xDA, 9}, {1408, 0xDB, 9}, {1472, 0x98, 9}, {1536, 0x99, 9},
    {1600, 0x9A, 9}, {1664, 0x18, 6}, {1728, 0x9B, 9},
};

inline constexpr CcittCode kCcittBlackCodes[] = {
    {0, 0x37, 10}, {1, 0x02, 3}, {2, 0x03, 2}, {3, 0x02, 2}, {4, 0x03, 3}, {5, 0x03, 4}, {6, 0x02, 4},
    {7, 0x03, 5}, {8, 0x05, 6}, {9, 0x04, 6}, {10, 0x04, 7}, {11, 0x05, 7}, {12, 0x07, 7}, {13, 0x04, 8},
    {14, 0x07, 8}, {15, 0x18, 9}, {16, 0x17, 10}, {17, 0x18, 10}, {18, 0x08, 10}, {19, 0x67, 11},
    {20, 0x68, 11}, {21, 0x6C, 11}, {22, 0x37, 11}, {23, 0x28, 11}, {24, 0x17, 11}, {25, 0x18, 11},
    {26, 0xCA, 12}, {27, 0xCB, 12}, {28, 0xCC, 12}, {29, 0xCD, 12}, {30, 0x68, 12}, {31, 0x69, 12},
    {32, 0x6A, 12}, {33, 0x6B, 12}, {34, 0xD2, 12}, {35, 0xD3, 12}, {36, 0xD4, 12}, {37, 0xD5, 12},
    {38, 0xD6, 12}, {39, 0xD7, 12}, {40, 0x6C, 12}, {41, 0x6D, 12}, {42, 0xDA, 12}, {43, 0xDB, 12},
    {44, 0x54, 12}, {45, 0x55, 12}, {46, 0x56, 12}, {47, 0x57, 12}, {48, 0x64, 12}, {49, 0x65, 12},
    {50, 0x52, 12}, {51, 0x53, 12}, {52, 0x24, 12}, {53, 0x37, 12}, {54, 0x38, 12}, {55, 0x27, 12},
    {56, 0x28, 12}, {57, 0x58, 12}, {58, 0x59, 12}, {59, 0x2B, 12}, {60, 0x2C, 12}, {61, 0x5A, 12},
    {62, 0x66, 12}, {63, 0x67, 12},
    {64, 0x0F, 10}, {128, 0xC8, 12}, {192, 0xC9, 12}, {256, 0x5B, 12}, {320, 0x33, 12}, {384, 0x34, 12},
    {448, 0x35, 12}, {512, 0x6C, 13}, {576, 0x6D, 13}, {640, 0x4A, 13}, {704, 0x4B, 13}, {768, 0x4C, 13},
    {832, 0x4D, 13}, {896, 0x72, 13}, {960, 0x73, 13}, {1024, 0x74, 13}, {1088, 0x75, 13}, {1152, 0x76, 13},
    {1216, 0x77, 13}, {1280, 0x52, 13}, {1344, 0x53, 13}, {1408, 0x54, 13}, {1472, 0x55, 13},
    {1536, 0x5A, 13}, {1600, 0x5B, 13}, {1664, 0x64, 13}, {1728, 0x65, 13},
};

inline constexpr CcittCode kCcittExtendedCodes[] = {
    {1792, 0x08, 11}, {1856, 0x0C, 11}, {1920, 0x0D, 11}, {1984, 0x12, 12}, {2048, 0x13, 12},
    {2112, 0x14, 12}, {2176, 0x15, 12}, {2240, 0x16, 12}, {2304, 0x17, 12}, {2368, 0x1C, 12},
    {2432, 0x1D, 12}, {2496, 0x1E, 12}, {2560, 0x1F, 12},
};
// clang-format on

// The 2-D modes' codes: pass 0001, horizontal 001, vertical 1 (a1 under
// b1), 011/000011/0000011 (1 to 3 right), 010/000010/0000010 (1 to 3 left);
// 0000001xxx enters an extension (the uncompressed mode), 000000000001 is
// an EOL.
enum class CcittMode : uint8_t { Pass, Horizontal, Vertical, Extension, Eol, Invalid };
struct CcittModeCode {
    CcittMode mode;
    int8_t offset;  // vertical: a1 - b1
    uint16_t code;
    uint8_t bits;
};
inline constexpr CcittModeCode kCcittModeCodes[] = {
    {CcittMode::Pass, 0, 0x1, 4},       {CcittMode::Horizontal, 0, 0x1, 3}, {CcittMode::Vertical, 0, 0x1, 1},
    {CcittMode::Vertical, 1, 0x3, 3},   {CcittMode::Vertical, 2, 0x3, 6},   {CcittMode::Vertical, 3, 0x3, 7},
    {CcittMode::Vertical, -1, 0x2, 3},  {CcittMode::Vertical, -2, 0x2, 6},  {CcittMode::Vertical, -3, 0x2, 7},
    {CcittMode::Extension, 0, 0x1, 7},
};

struct CcittDecoder {
    CcittCoding coding = CcittCoding::T6;
    bool twoDimensional = false;  // T.4 with tag bits
    bool refused = false;         // options or width not supported
    bool ended = false;           // damaged, or the data ended
    uint32_t width = 0;
    uint32_t rowBytes = 0;
    uint32_t rowOut = 0;  // bytes of `row` handed out; rowBytes when none is pending
    uint64_t rows = 0;    // rows decoded
    uint8_t* row = nullptr;        // the row last decoded
    uint8_t* reference = nullptr;  // the one above it
    uint64_t bits = 0;             // bits read ahead, the next in bit 63
    uint32_t bitCount = 0;
};

// Prepares a decoder for one strip or tile of `width` pixels a row, its
// rows in `arena` (at least kCcittArenaBytes). `options` is T4Options for
// compression 3, T6Options for 4, ignored for 2.
void CcittStart(CcittDecoder& decoder, CcittCoding coding, uint32_t options, uint32_t width, void* arena);

// Decodes exactly `size` bytes of rows into `out`, a row possibly split
// across calls. NotSupported for a damaged stream, one that ends first, a
// width of 0 or past kCcittMaxWidth, or the uncompressed mode; the source's
// status on a read error.
Status CcittRead(CcittDecoder& decoder, ByteSource& source, uint8_t* out, size_t size);

// Whether the stream has nothing more to give: no row part-way, and only
// EOLs (with their tag bits), fill bits, or nothing left.
bool CcittDone(CcittDecoder& decoder, ByteSource& source);

}  // namespace kestova
