// Names for temporary files beside a destination: ".NAME.RRRRRRRRRRRRRRRR.tmp",
// hidden, recognisably the destination's, and unpredictable: the sixteen
// hex digits come from the operating system's random source, so the name
// says nothing about the process that made it.
#pragma once

#include <cstddef>

namespace kestova {

// The part of the destination's name kept in the temporary name, in bytes;
// the whole stays well under the 255 bytes a name may have.
constexpr size_t kMaxTempBaseBytes = 200;

// Writes a fresh name for `finalName` (one path component) into `out`,
// which holds at least 256 bytes. A long name is cut at a character
// boundary. False, with errno set, when no random bytes can be had.
bool MakeTempName(const char* finalName, char* out, size_t outSize);

}  // namespace kestova
