// A private file for a conversion's intermediate bytes (the planes of a
// planar TIFF, decoded before they are interleaved), in the system's
// temporary folder: unnamed where the system allows, else removed as soon
// as it is made, so nothing outlives the call. It is read back as a source.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/source_file.h"
#include "status.h"

namespace kestova {

// DestinationUnwritable when no such file can be made (errno says why).
Status OpenScratchFile(SourceFile& file);

// Writes all `size` bytes at `offset`; the file's size grows to hold them.
Status WriteScratchFile(SourceFile& file, uint64_t offset, const uint8_t* data, size_t size);

// CloseSource closes it; it goes with it.

}  // namespace kestova
