// TIFFs in Orientation 5 to 8 store the picture with its rows and columns
// exchanged: each stored row is a column of the picture as shown, so the
// BMP is as wide as the TIFF is tall, and as tall as it is wide.
//
//   Orientation   stored row 0 is the   stored column 0 is the
//   5             left side             top
//   6             right side            top
//   7             right side            bottom
//   8             left side             bottom
//
// A compressed chunk is read only forward, and every stored row reaches
// every BMP row, so the BMP is made in two passes in the library's fixed
// memory: the writers of Orientation 1 to 4 first make a BMP of the stored
// picture, turned the way that leaves a plain exchange of rows and columns,
// in a private scratch file (every layout and coding as for any other
// picture, each decoded once); that is then read back a block at a time,
// each block turned in memory and its rows written at their places.
#pragma once

#include <cstdint>

#include "output_stream.h"
#include "platform/source_file.h"
#include "status.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_pixels.h"

namespace kestova {

inline bool TiffTransposed(const TiffImage& image) { return image.orientation >= 5; }

// The sides of the BMP shown.
inline uint32_t BmpWidthOf(const TiffImage& image) { return TiffTransposed(image) ? image.height : image.width; }
inline uint32_t BmpHeightOf(const TiffImage& image) { return TiffTransposed(image) ? image.width : image.height; }

// A picture in Orientation 5 to 8, any layout, after the BMP's headers
// (written or buffered). Needs positioned output, and `format` prepared
// for a picture of one plane.
Status WriteTiffTransposed(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format,
                           OutputStream& out);

}  // namespace kestova
