// Shared by the two fuzz targets: the scratch files each input goes
// through, and the checks every outcome must pass. A check that fails
// aborts, which the fuzzer reports as a crash with the input that did it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kestovatiff.h"

namespace fuzz_support {

struct Scratch {
    std::string folder, source, dest, again, last;
    std::u16string source16, dest16, again16, last16;
};

// Files in a folder of this process's own on a memory file system, made on
// first use, removed when the process ends (and, after a crash or a
// timeout, by the next target to start). The library's own scratch files
// go there too.
const Scratch& Files();

void WriteBytes(const std::string& path, const uint8_t* data, size_t size);
bool ReadBytes(const std::string& path, std::vector<uint8_t>& bytes);  // false: no such file
void Remove(const Scratch& files);

[[noreturn]] void Fail(const char* what, long long detail = 0);

inline uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
inline uint32_t Be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
inline uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>((p[0] << 8) | p[1]); }

// Pictures above 4 megapixels are refused as too large, through the
// options' limit (KestovaOptions::maxPixels, CallNotes::maxPixels): a few
// bytes may declare gigabytes, which would spend the fuzzer's time on
// writing them.
constexpr uint64_t kPixelLimit = uint64_t{1} << 22;

// The input's hash, its bits mixed: every mutation draws anew whether and
// where writes fail, and the options it is converted with.
uint64_t InputHash(const uint8_t* data, size_t size);

// The options an input is converted with, from its hash's bits 8 to 34
// (bits 0 to 7 draw the file-size limit): each of KESTOVA_FLAG_PADDED_ROWS,
// KESTOVA_FLAG_REDUCE and KESTOVA_FLAG_FLATTEN half the time, any
// background, maxPixels kPixelLimit. None of them changes whether a source
// is well formed, only how some are read (deep samples, alpha) or the
// BMP's row layout; the library writes 8-bit, opaque pictures, which they
// leave as they are.
KestovaOptions DrawnOptions(uint64_t hash);

// The direction a target converts its inputs in.
enum class Direction { BmpToTiff, TiffToBmp };

// Half the inputs, as their hash falls, are converted with room to write;
// the others under a file-size limit, from none to gigabytes, past which
// every write fails with EFBIG. With room, the result must be success or a refusal of the source;
// under the limit it must be success within the limit, -5, or the very
// refusal the source gets with room: a -3 for a source that converts with
// room is a write failure reported as the source's fault.
//
// Writes the source and converts it to `dest`: a source of the
// direction's format by KestovaConvert with the options its hash draws
// (DrawnOptions, returned in `options`), any other by the direction's
// export, which refuses it. A refusal must be a known negative result that
// leaves no destination; returns true, with the destination's bytes, when
// the conversion succeeded.
bool ConvertInput(Direction direction, const uint8_t* data, size_t size, std::vector<uint8_t>& dest,
                  KestovaOptions& options);

// A TIFF the library wrote: its size is 3*W*H + 206 by its own directory.
void CheckWrittenTiff(const std::vector<uint8_t>& tiff);
// A BMP the library wrote: 54 + R*H bytes, W and H from its headers, R
// 3*W, or that padded to a multiple of 4 with `padded` rows.
void CheckWrittenBmp(const std::vector<uint8_t>& bmp, bool padded = false);

}  // namespace fuzz_support
