// BMP files of every form Bmp2Tiff reads, built from the format's tables
// independently of the library's code, and the RGB picture each decodes to.
#pragma once

#include <array>
#include <vector>

#include "test_files.h"

namespace testing_files {

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6 };
using Masks = std::array<uint32_t, 4>;  // red, green, blue, alpha

// Header fields, laid out by info header size: 12 (16-bit unsigned sides,
// no compression), 16, 40, 52 and 56 (masks at 40), 64, 108, 124.
struct BmpHeader {
    uint32_t infoSize = 40, width = 0;
    int32_t height = 0;  // negative: top-down
    uint16_t planes = 1, bits = 24;
    uint32_t compression = kBiRgb, sizeImage = 0, clrUsed = 0;
    Masks masks = {};  // written in headers of 52 bytes (RGB) and 56, 108, 124 (and alpha)
};
// Both headers, then `extra` (a palette, or masks after a 40-byte header),
// then the pixels at bfOffBits.
Bytes BmpWithHeader(const BmpHeader& header, const Bytes& extra, const Bytes& pixels);

struct RleOptions {
    bool absolute = true;              // absolute runs where pixels do not repeat
    uint32_t longestRun = 255;
    std::vector<bool> skipped;         // left out by deltas and early ends; top row first
    bool lineEndAfterLastRow = false;  // an end of line before the end of picture
};

// Palette indices, top row first, stored in 1, 4 or 8 bits, plain or RLE.
struct PaletteBmp {
    uint32_t width = 0, height = 0;
    Bytes indices;
    std::vector<uint32_t> palette;  // 0xRRGGBB, all written
    uint16_t bits = 8;
    uint32_t compression = kBiRgb, infoSize = 40, clrUsed = 0;
    bool topDown = false;
    RleOptions rle;
    Bytes pixelData;  // if not empty, stored instead of the indices
};
// `entries` distinct colours (0: 2^bits, biClrUsed then 0); runs of 6
// indices alternate with 6 that change.
PaletteBmp MakePaletteBmp(uint32_t width, uint32_t height, uint16_t bits, uint32_t entries = 0, uint32_t seed = 0);
// Leaves out parts of rows, a whole row and the end, so that every escape is used.
std::vector<bool> SkipPattern(uint32_t width, uint32_t height);
Bytes BmpFile(const PaletteBmp& form);
Picture Decoded(const PaletteBmp& form);  // skipped pixels are entry 0

// Channel values in mask units (red, green, blue, alpha), top row first,
// stored in 16, 24 or 32 bits.
struct DirectBmp {
    uint32_t width = 0, height = 0;
    uint16_t bits = 32;
    uint32_t compression = kBiRgb;  // or kBiBitfields, kBiAlphaBitfields
    Masks masks = {};               // for BI_RGB the ones it implies
    uint32_t infoSize = 40;         // 40: masks after it; 52 and more: in it
    bool topDown = false;
    bool junk = false;  // set every bit no mask covers
    std::vector<Masks> values;
};
// Each channel runs over its range; alpha is opaque.
DirectBmp MakeDirectBmp(uint32_t width, uint32_t height, uint16_t bits, uint32_t compression, Masks masks = {},
                        uint32_t seed = 0);
Bytes BmpFile(const DirectBmp& form);
Picture Decoded(const DirectBmp& form);  // n bits: round(v * 255 / (2^n - 1))

}  // namespace testing_files
