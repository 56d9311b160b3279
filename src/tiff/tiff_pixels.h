// How a TIFF's decoded samples become blue, green and red, the BMP's order:
//
//   grey n bits, v       round(v * 255 / (2^n - 1)), the same in all three;
//                        with white at zero, of 2^n - 1 - v
//   palette, index i     ColorMap's red, green and blue of i, each 16-bit
//                        value's high byte (writers store an 8-bit c as
//                        c * 257 or c * 256: the high byte gives c back);
//                        where every value of the map is below 256, the
//                        values themselves (a writer's 8-bit map)
//   RGB                  as it is, the bytes turned; samples of fewer
//                        bits each scaled as grey's
//   any + alpha          the same, if alpha is 2^n - 1 (opaque); else
//                        refused (the BMP has no alpha, and dropping it
//                        would change the picture), or where the caller
//                        asks, composited over its colour (Flattened)
//   any + another sample the same, the sample ignored
//   YCbCr                as tiff_ycbcr.h says (here unsubsampled; data
//                        units of subsampled chroma in tiff_ycbcr_rows)
//
// Predictor 2 is undone first, on the decoded samples.
#pragma once

#include <cstddef>
#include <cstdint>

#include "flatten.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_ycbcr.h"

namespace kestova {

struct TiffPixelFormat {
    TiffColour colour = TiffColour::Rgb;
    uint32_t bits = 8;
    uint32_t samples = 3;
    bool alpha = false;           // the last sample
    bool associated = false;      // alpha already multiplies the colour
    bool flatten = false;         // composite partly transparent pixels over `background`
    uint8_t background[3] = {};   // blue, green, red
    uint8_t grey[256] = {};       // a grey sample's 8-bit value
    uint8_t palette[256][4] = {}; // blue, green, red, and a spare byte
    YCbCrTables ycbcr;
};

// Reads the ColorMap, or works out the grey values.
Status PrepareTiffPixels(SourceFile& source, const TiffImage& image, TiffPixelFormat& format);

// Undoes horizontal differencing on `bytes` bytes of a row of 8-bit
// samples, `samples` a pixel. `carry` holds the last pixel of the row's
// bytes before these (zeros at the row's start) and is left holding this
// piece's last.
void Undifference(uint8_t* row, size_t bytes, uint32_t samples, uint8_t (&carry)[4]);

// Turns `pixels` decoded pixels, from pixel `first` of the samples packed
// at `from` as stored, into blue, green, red at `to`, elsewhere. False for
// alpha that is not opaque.
bool TiffToBgr(const TiffPixelFormat& format, uint8_t* __restrict to, const uint8_t* __restrict from, size_t first,
               size_t pixels);

}  // namespace kestova
