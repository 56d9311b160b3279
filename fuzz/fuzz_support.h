// Shared by the two fuzz targets: the scratch files each input goes
// through, and the checks every outcome must pass. A check that fails
// aborts, which the fuzzer reports as a crash with the input that did it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// direction's format by KestovaConvert within kPixelLimit (otherwise
// Bmp2Tiff's or Tiff2Bmp's exactly), any other by the direction's export,
// which refuses it. A refusal must be a known negative result that leaves
// no destination; returns true, with the destination's bytes, when the
// conversion succeeded.
bool ConvertInput(Direction direction, const uint8_t* data, size_t size, std::vector<uint8_t>& dest);

// A TIFF the library wrote: its size is 3*W*H + 206 by its own directory.
void CheckWrittenTiff(const std::vector<uint8_t>& tiff);
// A BMP the library wrote: 54 + 3*W*H bytes, W and H from its headers.
void CheckWrittenBmp(const std::vector<uint8_t>& bmp);

}  // namespace fuzz_support
