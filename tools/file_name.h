// File names as the host gets them (bytes) and as the library takes them
// (UTF-16).
#pragma once

#include <string>

namespace kestovatiff_cli {

// A file name's bytes as UTF-16. UTF-8 sequences become their characters;
// each byte 0x80..0xFF that is not part of one becomes the lone surrogate
// U+DC80..U+DCFF, which the library turns back into that byte, so every
// name reaches the file it names.
std::u16string FileNameToUtf16(const std::string& name);

}  // namespace kestovatiff_cli
