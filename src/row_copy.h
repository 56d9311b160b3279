// Moves pixel rows from the source to the output, exchanging the byte order
// of every pixel on the way. Both formats store whole rows one after another;
// they differ in which row comes first, so rows are taken either in the
// order they are stored or in reverse.
#pragma once

#include <cstdint>

#include "output_stream.h"
#include "platform/source_file.h"
#include "status.h"

namespace kestova {

// Rows stored one after another in the source.
struct RowRun {
    uint64_t offset = 0;    // file offset of the first stored row
    uint64_t stride = 0;    // distance from one stored row to the next, >= rowBytes
    uint64_t rowBytes = 0;  // 3 * width
    uint64_t rows = 0;
};

enum class RowOrder { AsStored, Reversed };

// The caller has checked that the whole run lies inside the source.
Status CopyPixelRows(SourceFile& source, OutputStream& out, const RowRun& run, RowOrder order);

}  // namespace kestova
