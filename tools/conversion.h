// What a batch's planning needs before any conversion: the direction a
// source's first bytes choose, for the output's extension (the library
// chooses it again as it converts), and the words for a source it cannot
// read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kestovatiff_cli {

enum class Direction { BmpToTiff, TiffToBmp, Unknown };

// The direction for a file that starts with `magic` (`got` bytes of it).
Direction DirectionOf(const unsigned char* magic, ssize_t got);

// The reason to print for a source the host cannot read while planning a
// batch: the library's words for it, and the system's for `error`.
std::string SourceFailure(int error);

}  // namespace kestovatiff_cli
