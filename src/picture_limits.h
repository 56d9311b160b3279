// Size limits shared by both directions. All size arithmetic on values taken
// from a file is done in 64 bits: 3 * 65535 * 65535 does not fit in 32.
#pragma once

#include <cstdint>

namespace kestova {

// Both formats as written here store a side in 16 bits (the TIFF's SHORT
// ImageWidth and ImageLength) and a file size or offset in 32 bits.
constexpr uint64_t kMaxSide = 65535;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;

// The most pixels a picture may have: no further limit than the sides and
// sizes above, but where the caller sets one (CallNotes::maxPixels).
constexpr uint64_t kMaxPixels = kMaxSide * kMaxSide;

constexpr uint64_t kBytesPerPixel = 3;

constexpr uint64_t RowBytes(uint64_t width) { return kBytesPerPixel * width; }

constexpr uint64_t PixelBytes(uint64_t width, uint64_t height) { return RowBytes(width) * height; }

}  // namespace kestova
