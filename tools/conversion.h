// What the host's single conversion and its batches share: the direction a
// source's first bytes choose, file names for the library, and the words
// for a failure.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kestovatiff_cli {

enum class Direction { BmpToTiff, TiffToBmp, Unknown };

// The direction for a file that starts with `magic` (`got` bytes of it).
Direction DirectionOf(const unsigned char* magic, ssize_t got);

// The reason to print for a failed call: the library's text for `result`,
// and the system's for `error` where the failure was the system's.
std::string ResultReason(int32_t result, int error);

}  // namespace kestovatiff_cli
