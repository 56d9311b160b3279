// Reads the image file directory of a TIFF source: the picture's sides and
// where its strips lie. Only uncompressed 8-bit RGB, interleaved, top-left
// orientation is read; every offset and count is checked against the file's
// size before anything is written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "row_copy.h"
#include "platform/source_file.h"
#include "status.h"

namespace kestova {

// A directory entry's values: held in the entry itself when they fit in
// its 4-byte value field, else at `offset`.
struct TiffField {
    bool present = false;
    uint16_t type = 0;
    uint32_t count = 0;
    uint8_t inlineValue[4] = {};
    uint32_t offset = 0;
};

struct TiffPicture {
    bool littleEndian = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rowsPerStrip = 0;
    uint32_t strips = 0;
    TiffField stripOffsets;
    TiffField stripByteCounts;  // may be absent: each strip holds its rows
};

// Checks the header, the directory and every strip. NotSupported for a file
// this library does not read, TooLarge for a picture whose BMP would pass
// 4 GiB - 1 bytes.
Status ReadTiffPicture(SourceFile& source, TiffPicture& picture);

// Reads the SHORT or LONG values of a field in any order, a block at a
// time, so a table of many strips costs few reads.
class TiffValueReader {
public:
    TiffValueReader(SourceFile& source, const TiffField& field, bool littleEndian)
        : source_(source), field_(field), littleEndian_(littleEndian)
    {
    }
    TiffValueReader(const TiffValueReader&) = delete;
    TiffValueReader& operator=(const TiffValueReader&) = delete;

    // `index` is below the field's count; its type is SHORT or LONG.
    Status Get(uint32_t index, uint32_t& value);

private:
    static constexpr size_t kBlockSize = 4096;  // a multiple of both value sizes

    SourceFile& source_;
    const TiffField& field_;
    bool littleEndian_;
    uint64_t blockStart_ = 0;
    size_t blockLength_ = 0;
    uint8_t block_[kBlockSize];
};

// The rows of strip `strip`, top row first.
Status TiffStripRows(const TiffPicture& picture, TiffValueReader& offsets, uint32_t strip, RowRun& rows);

}  // namespace kestova
