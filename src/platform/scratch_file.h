// A private file for a conversion's intermediate bytes (the planes of a
// planar TIFF, decoded before they are interleaved; a TIFF in Orientation
// 5 to 8, decoded before its rows and columns are exchanged), in the
// system's temporary folder: unnamed where the system allows, else removed
// as soon as it is made, so nothing outlives the call. It is read back as
// a source.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/output_file.h"
#include "platform/source_file.h"
#include "status.h"

namespace kestova {

// The errno of a conversion that failed for want of scratch space, not
// because of its destination (kestovatiff.h documents it): no temporary
// folder had room for the file, or the one taken filled up later.
constexpr int kNoScratchSpace = ENOSR;

// Makes the file, with room for `size` bytes: reserved where the file
// system can, else seen free. On POSIX systems in $TMPDIR, else (missing,
// not a folder, not writable, full) in /tmp, else beside `destination`. On Windows in
// the folder GetTempPath names. DestinationUnwritable when no folder
// serves, errno then kNoScratchSpace.
Status OpenScratchFile(SourceFile& file, uint64_t size, const OutputFile& destination);

// Writes all `size` bytes at `offset`; the file's size grows to hold them.
// errno kNoScratchSpace when the file system is full (EFBIG, the
// file-size limit, is kept).
Status WriteScratchFile(SourceFile& file, uint64_t offset, const uint8_t* data, size_t size);

// CloseSource closes it; it goes with it.

}  // namespace kestova
