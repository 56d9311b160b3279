// The first image file directory of a TIFF, classic or BigTIFF, with the
// fields the library reads. The header:
//
//   classic   "II" or "MM", 42, the directory's offset (4 bytes)
//   BigTIFF   "II" or "MM", 43, 8 (offset size), 0, the offset (8 bytes)
//
// A directory is an entry count (2 bytes; BigTIFF 8), then entries of tag
// (2), type (2), count (4; BigTIFF 8) and a value field (4; BigTIFF 8) that
// holds the values when they fit, else their offset. Entries may come in
// any order; tags not read are passed over, and so is every entry of a tag
// after its first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/source_file.h"
#include "status.h"

namespace kestova {

// Field types read for values: BYTE, SHORT, LONG, and BigTIFF's LONG8 and
// IFD8 (offsets); RATIONAL for the YCbCr fields only, each value read as
// numerator << 32 | denominator.
enum TiffType : uint16_t {
    kTiffByte = 1,
    kTiffShort = 3,
    kTiffLong = 4,
    kTiffRational = 5,
    kTiffLong8 = 16,
    kTiffIfd8 = 18
};

struct TiffField {
    bool present = false;
    uint16_t type = 0;
    uint64_t count = 0;
    uint8_t inlineValue[8] = {};
    uint64_t offset = 0;  // where the values are, when they are not inline
};

struct TiffFormat {
    bool littleEndian = false;
    bool big = false;  // BigTIFF
};

struct TiffDirectory {
    TiffFormat format;
    TiffField imageWidth, imageLength, bitsPerSample, compression, photometric, fillOrder, stripOffsets, orientation,
        samplesPerPixel, rowsPerStrip, stripByteCounts, planarConfiguration, predictor, colorMap, tileWidth, tileLength,
        tileOffsets, tileByteCounts, extraSamples, sampleFormat, jpegTables;
    TiffField t4Options, t6Options;  // the fax codings' options
    TiffField ycbcrCoefficients, ycbcrSubSampling, ycbcrPositioning, referenceBlackWhite;
};

// Reads the header and the first directory. NotSupported for a file that
// is not a TIFF, or whose fields the library reads are not BYTE, SHORT,
// LONG, LONG8 or IFD8 arrays lying wholly inside the file.
Status ReadTiffDirectory(SourceFile& source, TiffDirectory& directory);

// Reads a field's values in any order, a block at a time, so a table of
// many strips costs few reads, and each value after the first of its block
// costs a look-up.
class TiffValueReader {
public:
    TiffValueReader(SourceFile& source, const TiffField& field, const TiffFormat& format)
        : source_(source), field_(field), format_(format)
    {
    }
    TiffValueReader(const TiffValueReader&) = delete;
    TiffValueReader& operator=(const TiffValueReader&) = delete;

    // `index` is below the field's count.
    Status Get(uint64_t index, uint64_t& value)
    {
        if (index - first_ < count_) {
            value = values_[index - first_];
            return Status::Ok;
        }
        return Load(index, value);
    }

    // The block of values holding `index`: values[0, count) are those of
    // indices [first, first + count). Blocks start at multiples of their
    // size, so readers of two fields of one count share their bounds.
    Status Block(uint64_t index, const uint64_t*& values, uint64_t& first, uint64_t& count)
    {
        uint64_t value = 0;
        if (const Status status = Get(index, value); status != Status::Ok) {
            return status;
        }
        values = values_;
        first = first_;
        count = count_;
        return Status::Ok;
    }

private:
    static constexpr size_t kBlockValues = 512;

    Status Load(uint64_t index, uint64_t& value);

    SourceFile& source_;
    const TiffField& field_;
    TiffFormat format_;
    uint64_t first_ = 0;  // values [first_, first_ + count_) are in values_
    uint64_t count_ = 0;
    uint64_t values_[kBlockValues];
};

// The one value of a field with one value (or, `anyOf`, the first of
// several that must all be equal, as BitsPerSample's are). NotSupported
// for an absent field or values that differ.
Status ReadTiffScalar(SourceFile& source, const TiffField& field, const TiffFormat& format, uint64_t& value,
                      bool anyOf = false);

}  // namespace kestova
