#include "tiff_reader.h"

#include "bmp/bmp_layout.h"
#include "byte_order.h"
#include "picture_limits.h"

namespace kestova {
namespace {

// Field types (TIFF 6.0 section 2, plus the 8-byte types of BigTIFF).
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;

uint32_t TypeSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7:  // BYTE, ASCII, SBYTE, UNDEFINED
        return 1;
    case 3: case 8:                  // SHORT, SSHORT
        return 2;
    case 4: case 9: case 11: case 13:  // LONG, SLONG, FLOAT, IFD
        return 4;
    case 5: case 10: case 12: case 16: case 17: case 18:  // RATIONAL, DOUBLE, 8-byte
        return 8;
    default:
        return 0;
    }
}

// The tags read; all others are skipped.
enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometricInterpretation = 262,
    kStripOffsets = 273,
    kOrientation = 274,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kSampleFormat = 339,
};

struct Directory {
    TiffField imageWidth, imageLength, bitsPerSample, compression, photometric, stripOffsets,
        orientation, samplesPerPixel, rowsPerStrip, stripByteCounts, planarConfiguration, sampleFormat;

    TiffField* Slot(uint16_t tag)
    {
        switch (tag) {
        case kImageWidth: return &imageWidth;
        case kImageLength: return &imageLength;
        case kBitsPerSample: return &bitsPerSample;
        case kCompression: return &compression;
        case kPhotometricInterpretation: return &photometric;
        case kStripOffsets: return &stripOffsets;
        case kOrientation: return &orientation;
        case kSamplesPerPixel: return &samplesPerPixel;
        case kRowsPerStrip: return &rowsPerStrip;
        case kStripByteCounts: return &stripByteCounts;
        case kPlanarConfiguration: return &planarConfiguration;
        case kSampleFormat: return &sampleFormat;
        default: return nullptr;
        }
    }
};

uint16_t Read16(const uint8_t* p, bool littleEndian) { return littleEndian ? ReadLe16(p) : ReadBe16(p); }
uint32_t Read32(const uint8_t* p, bool littleEndian) { return littleEndian ? ReadLe32(p) : ReadBe32(p); }

bool IsShortOrLong(const TiffField& field) { return field.type == kShort || field.type == kLong; }

// Reads the directory's entries for the tags above. Each field the
// conversion uses is a SHORT or LONG array lying wholly inside the file.
Status ReadDirectory(SourceFile& source, bool littleEndian, uint64_t at, Directory& directory)
{
    const uint64_t size = source.size;
    uint8_t countBytes[2];
    if (at > size || size - at < 2) {
        return Status::NotSupported;
    }
    if (const Status status = ReadSource(source, at, countBytes, 2); status != Status::Ok) {
        return status;
    }
    const uint32_t entries = Read16(countBytes, littleEndian);
    if (entries == 0 || size - at - 2 < uint64_t{12} * entries) {
        return Status::NotSupported;
    }
    constexpr uint32_t kEntriesPerRead = 64;
    uint8_t block[12 * kEntriesPerRead];
    for (uint32_t first = 0; first < entries; first += kEntriesPerRead) {
        const uint32_t count = entries - first < kEntriesPerRead ? entries - first : kEntriesPerRead;
        if (const Status status = ReadSource(source, at + 2 + uint64_t{12} * first, block, 12 * size_t{count});
            status != Status::Ok) {
            return status;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = block + 12 * size_t{i};
            TiffField* field = directory.Slot(Read16(entry, littleEndian));
            if (field == nullptr) {
                continue;
            }
            field->present = true;
            field->type = Read16(entry + 2, littleEndian);
            field->count = Read32(entry + 4, littleEndian);
            for (int k = 0; k < 4; ++k) {
                field->inlineValue[k] = entry[8 + k];
            }
            field->offset = Read32(entry + 8, littleEndian);
            const uint64_t bytes = uint64_t{TypeSize(field->type)} * field->count;
            if (!IsShortOrLong(*field) || field->count == 0 || (bytes > 4 && field->offset + bytes > size)) {
                return Status::NotSupported;
            }
        }
    }
    return Status::Ok;
}

// Checks that a field is absent (when `absent` is allowed) or that each of
// its values, of which there are 1 or `samples`, equals `expected`.
Status CheckValues(SourceFile& source, const TiffField& field, bool littleEndian, uint32_t samples,
                   uint32_t expected, bool mayBeAbsent)
{
    if (!field.present) {
        return mayBeAbsent ? Status::Ok : Status::NotSupported;
    }
    if (field.count != 1 && field.count != samples) {
        return Status::NotSupported;
    }
    TiffValueReader values(source, field, littleEndian);
    for (uint32_t i = 0; i < field.count; ++i) {
        uint32_t value = 0;
        if (const Status status = values.Get(i, value); status != Status::Ok) {
            return status;
        }
        if (value != expected) {
            return Status::NotSupported;
        }
    }
    return Status::Ok;
}

Status ReadScalar(SourceFile& source, const TiffField& field, bool littleEndian, uint32_t& value)
{
    if (!field.present || field.count != 1) {
        return Status::NotSupported;
    }
    TiffValueReader values(source, field, littleEndian);
    return values.Get(0, value);
}

// Every strip lies inside the file and, where StripByteCounts is given,
// holds at least the bytes of its rows.
Status CheckStrips(SourceFile& source, const TiffPicture& picture)
{
    TiffValueReader offsets(source, picture.stripOffsets, picture.littleEndian);
    TiffValueReader counts(source, picture.stripByteCounts, picture.littleEndian);
    for (uint32_t strip = 0; strip < picture.strips; ++strip) {
        RowRun rows;
        if (const Status status = TiffStripRows(picture, offsets, strip, rows); status != Status::Ok) {
            return status;
        }
        const uint64_t bytes = rows.rowBytes * rows.rows;
        if (rows.offset > source.size || source.size - rows.offset < bytes) {
            return Status::NotSupported;
        }
        if (picture.stripByteCounts.present) {
            uint32_t count = 0;
            if (const Status status = counts.Get(strip, count); status != Status::Ok) {
                return status;
            }
            if (count < bytes) {
                return Status::NotSupported;
            }
        }
    }
    return Status::Ok;
}

}  // namespace

Status TiffValueReader::Get(uint32_t index, uint32_t& value)
{
    const uint32_t size = field_.type == kShort ? 2 : 4;
    const uint64_t at = uint64_t{index} * size;
    const uint8_t* bytes;
    if (uint64_t{field_.count} * size <= 4) {
        bytes = field_.inlineValue + at;
    } else {
        const uint64_t position = field_.offset + at;
        if (blockLength_ == 0 || position < blockStart_ || position + size > blockStart_ + blockLength_) {
            const uint64_t end = field_.offset + uint64_t{field_.count} * size;
            blockStart_ = field_.offset + at / kBlockSize * kBlockSize;
            blockLength_ = static_cast<size_t>(end - blockStart_ < kBlockSize ? end - blockStart_ : kBlockSize);
            if (const Status status = ReadSource(source_, blockStart_, block_, blockLength_); status != Status::Ok) {
                blockLength_ = 0;
                return status;
            }
        }
        bytes = block_ + (position - blockStart_);
    }
    value = size == 2 ? Read16(bytes, littleEndian_) : Read32(bytes, littleEndian_);
    return Status::Ok;
}

Status TiffStripRows(const TiffPicture& picture, TiffValueReader& offsets, uint32_t strip, RowRun& rows)
{
    uint32_t offset = 0;
    if (const Status status = offsets.Get(strip, offset); status != Status::Ok) {
        return status;
    }
    const uint64_t firstRow = uint64_t{strip} * picture.rowsPerStrip;
    const uint64_t left = picture.height - firstRow;
    rows.offset = offset;
    rows.rowBytes = RowBytes(picture.width);
    rows.stride = rows.rowBytes;
    rows.rows = left < picture.rowsPerStrip ? left : picture.rowsPerStrip;
    return Status::Ok;
}

Status ReadTiffPicture(SourceFile& source, TiffPicture& picture)
{
    uint8_t header[8];
    if (source.size < sizeof header) {
        return Status::NotSupported;
    }
    if (const Status status = ReadSource(source, 0, header, sizeof header); status != Status::Ok) {
        return status;
    }
    // "II" little-endian or "MM" big-endian, then 42 in that order.
    if (header[0] != header[1] || (header[0] != 'I' && header[0] != 'M')) {
        return Status::NotSupported;
    }
    const bool little = header[0] == 'I';
    if (Read16(header + 2, little) != 42) {
        return Status::NotSupported;
    }
    Directory directory;
    if (const Status status = ReadDirectory(source, little, Read32(header + 4, little), directory);
        status != Status::Ok) {
        return status;
    }

    uint32_t width = 0;
    uint32_t height = 0;
    if (const Status status = ReadScalar(source, directory.imageWidth, little, width); status != Status::Ok) {
        return status;
    }
    if (const Status status = ReadScalar(source, directory.imageLength, little, height); status != Status::Ok) {
        return status;
    }
    // What is read: 8-bit RGB, three samples interleaved, unsigned, not
    // compressed, rows from the top left. Absent tags take TIFF's defaults.
    const struct {
        const TiffField& field;
        uint32_t samples;
        uint32_t expected;
        bool mayBeAbsent;
    } checks[] = {
        {directory.compression, 1, 1, true},
        {directory.photometric, 1, 2, false},
        {directory.samplesPerPixel, 1, 3, false},
        {directory.bitsPerSample, 3, 8, false},
        {directory.planarConfiguration, 1, 1, true},
        {directory.orientation, 1, 1, true},
        {directory.sampleFormat, 3, 1, true},
    };
    for (const auto& check : checks) {
        if (const Status status =
                CheckValues(source, check.field, little, check.samples, check.expected, check.mayBeAbsent);
            status != Status::Ok) {
            return status;
        }
    }
    // The BMP's headers hold the sides as signed 32-bit and its size in 32.
    if (PixelBytes(width, height) + kBmpHeadersSize > kMaxFileSize || width > INT32_MAX || height > INT32_MAX) {
        return Status::TooLarge;
    }
    // Uncompressed pixels are all in the file. Strips that overlap could
    // otherwise make a small file claim gigabytes of output.
    if (PixelBytes(width, height) > source.size) {
        return Status::NotSupported;
    }

    // RowsPerStrip absent (or larger than the picture): one strip.
    uint32_t rowsPerStrip = height;
    if (directory.rowsPerStrip.present) {
        if (const Status status = ReadScalar(source, directory.rowsPerStrip, little, rowsPerStrip);
            status != Status::Ok) {
            return status;
        }
        if (rowsPerStrip > height) {
            rowsPerStrip = height;
        }
    }
    picture.littleEndian = little;
    picture.width = width;
    picture.height = height;
    picture.rowsPerStrip = rowsPerStrip;
    picture.strips = 0;
    picture.stripOffsets = directory.stripOffsets;
    picture.stripByteCounts = directory.stripByteCounts;
    if (height == 0) {
        return Status::Ok;
    }
    if (rowsPerStrip == 0) {
        return Status::NotSupported;
    }
    picture.strips = static_cast<uint32_t>((uint64_t{height} + rowsPerStrip - 1) / rowsPerStrip);
    if (!picture.stripOffsets.present || picture.stripOffsets.count < picture.strips ||
        (picture.stripByteCounts.present && picture.stripByteCounts.count < picture.strips)) {
        return Status::NotSupported;
    }
    return CheckStrips(source, picture);
}

}  // namespace kestova
