// YCbCr pictures (PhotometricInterpretation 6): three 8-bit samples, luma
// Y and the chroma differences Cb and Cr, turned into RGB as TIFF 6.0 sets
// out. First each code becomes a value by ReferenceBlackWhite's pairs
// (black, white) of Y, Cb and Cr:
//
//   Y  = (code - black) * 255 / (white - black)
//   Cb = (code - black) * 127 / (white - black), Cr the same
//
// then, with YCbCrCoefficients' LumaRed, LumaGreen and LumaBlue,
//
//   R = Cr * (2 - 2 * LumaRed) + Y
//   B = Cb * (2 - 2 * LumaBlue) + Y
//   G = (Y - LumaBlue * B - LumaRed * R) / LumaGreen
//
// each rounded to the nearest integer and held to 0 to 255. Chroma may be
// subsampled (YCbCrSubSampling): one Cb and one Cr for a block of `across`
// x `down` luma samples, stored together as a data unit (the block's luma
// row by row, then Cb, then Cr); each pixel of the block takes the block's
// chroma as it is, with no interpolation, so YCbCrPositioning (where the
// chroma sample sits in its block) changes nothing here.
#pragma once

#include <cstdint>

#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_directory.h"

namespace kestova {

// The YCbCr fields, each its default where it is absent.
struct TiffYCbCr {
    uint32_t across = 2;  // luma samples a chroma sample covers, across and down
    uint32_t down = 2;
    double lumaRed = 299.0 / 1000;
    double lumaGreen = 587.0 / 1000;
    double lumaBlue = 114.0 / 1000;
    double black[3] = {0, 128, 128};  // ReferenceBlackWhite's of Y, Cb and Cr
    double white[3] = {255, 255, 255};
};

// Reads and checks the YCbCr fields: NotSupported for subsampling other
// than 1, 2 or 4 each way, a YCbCrPositioning other than 1 or 2, a
// coefficient or a reference of zero denominator, LumaGreen zero, or a
// black equal to its white (each a division by zero in the conversion).
Status ReadTiffYCbCr(SourceFile& source, const TiffDirectory& directory, TiffYCbCr& ycbcr);

// The conversion of one file, worked out once. Values are worked out as
// codes come, not looked up: tables of them would cost kilobytes of a
// small stack, on paths already near its end.
struct YCbCrTables {
    double black[3] = {};
    double range[3] = {1, 1, 1};  // white - black
    double redScale = 0;          // 2 - 2 * LumaRed
    double blueScale = 0;         // 2 - 2 * LumaBlue
    double lumaRed = 0;
    double lumaGreen = 1;
    double lumaBlue = 0;
};

void PrepareYCbCr(const TiffYCbCr& ycbcr, YCbCrTables& tables);

// A value rounded to the nearest integer (halves up) and held to 0 to 255:
// of a positive v, floor(v + 1/2) = floor((floor(2v) + 1) / 2), and 2v is
// exact, so no sum rounds on the way.
inline uint8_t RgbLevel(double value)
{
    return value <= 0 ? 0 : value >= 255 ? 255 : static_cast<uint8_t>((static_cast<unsigned>(value * 2) + 1) / 2);
}

// A luma code's value Y, and a block's chroma codes' shares of red and
// blue: Cr * (2 - 2 * LumaRed), Cb * (2 - 2 * LumaBlue). The operations
// are the formulas', in their order, so that each value is the one they
// give to the last bit, however it then rounds.
inline double YCbCrLuma(const YCbCrTables& t, uint8_t y) { return (y - t.black[0]) * 255 / t.range[0]; }
inline double YCbCrRed(const YCbCrTables& t, uint8_t cr) { return (cr - t.black[2]) * 127 / t.range[2] * t.redScale; }
inline double YCbCrBlue(const YCbCrTables& t, uint8_t cb)
{
    return (cb - t.black[1]) * 127 / t.range[1] * t.blueScale;
}

// One pixel of luma code `y` in a block whose chroma gives `red` and
// `blue` (YCbCrRed and YCbCrBlue), as blue, green, red.
inline void YCbCrToBgr(const YCbCrTables& t, uint8_t y, double red, double blue, uint8_t* to)
{
    const double luma = YCbCrLuma(t, y);
    const double r = red + luma;
    const double b = blue + luma;
    to[0] = RgbLevel(b);
    to[1] = RgbLevel((luma - t.lumaBlue * b - t.lumaRed * r) / t.lumaGreen);
    to[2] = RgbLevel(r);
}

}  // namespace kestova
