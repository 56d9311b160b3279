// The one TIFF layout the library writes: big-endian ("MM"), one image,
// uncompressed 8-bit RGB in a single strip right after the 8-byte header,
// then the image file directory (14 entries), then four 6-byte value arrays.
// With P = 3*W*H pixel bytes:
//
//   offset     size  contents
//        0        8  "MM", 42, directory offset P + 8
//        8        P  pixel rows, top row first, each pixel red, green, blue
//    P + 8      174  directory: entry count 14, 14 entries of 12 bytes,
//                    next-directory offset 0
//    P + 182      6  BitsPerSample values   8, 8, 8
//    P + 188      6  MinSampleValue values  0, 0, 0
//    P + 194      6  MaxSampleValue values  255, 255, 255
//    P + 200      6  SampleFormat values    1, 1, 1
//    P + 206         end of file
//
// The directory may start at an odd offset; it is written where the pixels
// end, without the word alignment TIFF readers usually tolerate missing.
#pragma once

#include <cstdint>

#include "output_stream.h"

namespace kestova {

constexpr uint64_t kTiffPixelOffset = 8;
constexpr uint64_t kTiffDirectorySize = 2 + uint64_t{14} * 12 + 4;
constexpr uint64_t kTiffValueArraysSize = 24;  // four arrays of three SHORTs
// Bytes of the layout besides the pixels: header, directory, value arrays.
constexpr uint64_t kTiffLayoutOverhead = kTiffPixelOffset + kTiffDirectorySize + kTiffValueArraysSize;
static_assert(kTiffLayoutOverhead == 206, "header 8 + directory 174 + arrays 24");

// Writes the bytes that `hexText` spells, two hexadecimal digits a byte,
// most significant digit first; either case. A final lone digit is written
// as a byte of its own value. The layout's constant runs are kept in this
// form so that each reads as the bytes it writes.
void WriteHexBytes(OutputStream& stream, const char* hexText);

// The 8-byte header; the directory follows the pixelBytes of pixel data.
void WriteTiffHeader(OutputStream& stream, uint32_t pixelBytes);

// The directory and its value arrays, written after the pixel data.
void WriteTiffDirectory(OutputStream& stream, uint32_t width, uint32_t height, uint32_t pixelBytes);

}  // namespace kestova
