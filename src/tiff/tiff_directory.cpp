#include "tiff/tiff_directory.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"

namespace kestova {
namespace {

uint32_t TypeSize(uint16_t type)
{
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:  // BYTE, ASCII, SBYTE, UNDEFINED
        return 1;
    case 3:
    case 8:  // SHORT, SSHORT
        return 2;
    case 4:
    case 9:
    case 11:
    case 13:  // LONG, SLONG, FLOAT, IFD
        return 4;
    case 5:
    case 10:
    case 12:
    case 16:
    case 17:
    case 18:  // RATIONAL, SRATIONAL, DOUBLE, LONG8, SLONG8, IFD8
        return 8;
    default: return 0;
    }
}

enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometricInterpretation = 262,
    kFillOrder = 266,
    kStripOffsets = 273,
    kOrientation = 274,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kT4Options = 292,
    kT6Options = 293,
    kPredictor = 317,
    kColorMap = 320,
    kTileWidth = 322,
    kTileLength = 323,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kExtraSamples = 338,
    kSampleFormat = 339,
    kJpegTables = 347,
    kYCbCrCoefficients = 529,
    kYCbCrSubSampling = 530,
    kYCbCrPositioning = 531,
    kReferenceBlackWhite = 532,
};

TiffField* Slot(TiffDirectory& d, uint16_t tag)
{
    switch (tag) {
    case kImageWidth: return &d.imageWidth;
    case kImageLength: return &d.imageLength;
    case kBitsPerSample: return &d.bitsPerSample;
    case kCompression: return &d.compression;
    case kPhotometricInterpretation: return &d.photometric;
    case kFillOrder: return &d.fillOrder;
    case kStripOffsets: return &d.stripOffsets;
    case kOrientation: return &d.orientation;
    case kSamplesPerPixel: return &d.samplesPerPixel;
    case kRowsPerStrip: return &d.rowsPerStrip;
    case kStripByteCounts: return &d.stripByteCounts;
    case kPlanarConfiguration: return &d.planarConfiguration;
    case kT4Options: return &d.t4Options;
    case kT6Options: return &d.t6Options;
    case kPredictor: return &d.predictor;
    case kColorMap: return &d.colorMap;
    case kTileWidth: return &d.tileWidth;
    case kTileLength: return &d.tileLength;
    case kTileOffsets: return &d.tileOffsets;
    case kTileByteCounts: return &d.tileByteCounts;
    case kExtraSamples: return &d.extraSamples;
    case kSampleFormat: return &d.sampleFormat;
    case kJpegTables: return &d.jpegTables;
    case kYCbCrCoefficients: return &d.ycbcrCoefficients;
    case kYCbCrSubSampling: return &d.ycbcrSubSampling;
    case kYCbCrPositioning: return &d.ycbcrPositioning;
    case kReferenceBlackWhite: return &d.referenceBlackWhite;
    default: return nullptr;
    }
}

bool IsReadType(uint16_t type)
{
    return type == kTiffByte || type == kTiffShort || type == kTiffLong || type == kTiffLong8 || type == kTiffIfd8;
}

uint16_t Read16(const uint8_t* p, const TiffFormat& f) { return f.littleEndian ? ReadLe16(p) : ReadBe16(p); }
uint32_t Read32(const uint8_t* p, const TiffFormat& f) { return f.littleEndian ? ReadLe32(p) : ReadBe32(p); }

uint64_t Read64(const uint8_t* p, const TiffFormat& f)
{
    const uint64_t first = Read32(p, f);
    const uint64_t second = Read32(p + 4, f);
    return f.littleEndian ? first | (second << 32) : (first << 32) | second;
}

// The fields of fractions: their RATIONAL values are read; elsewhere a
// RATIONAL would be taken for a count or an offset.
bool TakesRationals(uint16_t tag) { return tag == kYCbCrCoefficients || tag == kReferenceBlackWhite; }

uint64_t ReadValue(const uint8_t* p, uint16_t type, const TiffFormat& f)
{
    if (type == kTiffRational) {
        return uint64_t{Read32(p, f)} << 32 | Read32(p + 4, f);  // numerator, denominator in either byte order
    }
    switch (TypeSize(type)) {
    case 1: return p[0];
    case 2: return Read16(p, f);
    case 4: return Read32(p, f);
    default: return Read64(p, f);
    }
}

}  // namespace

Status ReadTiffDirectory(SourceFile& source, TiffDirectory& d)
{
    const uint64_t size = source.size;
    uint8_t header[16];
    if (size < 8) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, 8);
    }
    const size_t headerLength = size < sizeof header ? static_cast<size_t>(size) : sizeof header;
    if (const Status status = ReadSource(source, 0, header, headerLength); status != Status::Ok) {
        return status;
    }
    // "II" little-endian or "MM" big-endian, then 42 (classic) or 43 (BigTIFF).
    if (header[0] != header[1] || (header[0] != 'I' && header[0] != 'M')) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_UNKNOWN_FORMAT);
    }
    TiffFormat& f = d.format;
    f.littleEndian = header[0] == 'I';
    const uint16_t version = Read16(header + 2, f);
    uint64_t at;
    if (version == 42) {
        at = Read32(header + 4, f);
    } else if (version == 43 && headerLength == 16 && Read16(header + 4, f) == 8 && Read16(header + 6, f) == 0) {
        f.big = true;
        at = Read64(header + 8, f);
    } else {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 0);  // the header
    }

    const size_t countSize = f.big ? 8 : 2;
    const uint64_t entrySize = f.big ? 20 : 12;
    const uint64_t fieldSize = f.big ? 8 : 4;
    uint8_t countBytes[8];
    if (at > size || size - at < countSize) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_FILE_SHORT,
                      at > UINT64_MAX - countSize ? UINT64_MAX : at + countSize);
    }
    if (const Status status = ReadSource(source, at, countBytes, countSize); status != Status::Ok) {
        return status;
    }
    const uint64_t entries = f.big ? Read64(countBytes, f) : Read16(countBytes, f);
    if (entries == 0) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 0);  // a directory of nothing
    }
    if ((size - at - countSize) / entrySize < entries) {
        const uint64_t room = (UINT64_MAX - at - countSize) / entrySize;
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_FILE_SHORT,
                      entries > room ? UINT64_MAX : at + countSize + entries * entrySize);
    }
    constexpr uint64_t kEntriesPerRead = 64;
    uint8_t block[20 * kEntriesPerRead];
    for (uint64_t first = 0; first < entries; first += kEntriesPerRead) {
        const uint64_t count = entries - first < kEntriesPerRead ? entries - first : kEntriesPerRead;
        if (const Status status =
                ReadSource(source, at + countSize + entrySize * first, block, static_cast<size_t>(entrySize * count));
            status != Status::Ok) {
            return status;
        }
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* entry = block + entrySize * i;
            const uint16_t tag = Read16(entry, f);
            TiffField* field = Slot(d, tag);
            if (field == nullptr || field->present) {
                continue;  // not read, or a tag seen before: its first entry counts, as other readers take it
            }
            field->present = true;
            field->type = Read16(entry + 2, f);
            field->count = f.big ? Read64(entry + 4, f) : Read32(entry + 4, f);
            const uint8_t* value = entry + (f.big ? 12 : 8);
            for (uint64_t k = 0; k < fieldSize; ++k) {
                field->inlineValue[k] = value[k];
            }
            field->offset = f.big ? Read64(value, f) : Read32(value, f);
            if (field == &d.jpegTables) {
                continue;  // a byte stream, checked where JPEG is read (tiff_jpeg.cpp) and ignored elsewhere
            }
            if ((!IsReadType(field->type) && !(field->type == kTiffRational && TakesRationals(tag))) ||
                field->count == 0) {
                return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, tag);
            }
            const uint64_t typeSize = TypeSize(field->type);
            if (field->count > size / typeSize) {
                // More values than the file has bytes.
                return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, tag);
            }
            const uint64_t bytes = typeSize * field->count;
            if (bytes > fieldSize && (field->offset > size || size - field->offset < bytes)) {
                return Refuse(source, Status::NotSupported, KESTOVA_REASON_FILE_SHORT,
                              field->offset > UINT64_MAX - bytes ? UINT64_MAX : field->offset + bytes);
            }
        }
    }
    return Status::Ok;
}

// Reads the aligned block of values holding `index`, stored bytes into the
// block's memory, and widens them in place from the last: value i's 8
// bytes cover only stored values i and after, already widened.
Status TiffValueReader::Load(uint64_t index, uint64_t& value)
{
    const uint32_t size = TypeSize(field_.type);
    const uint64_t first = index / kBlockValues * kBlockValues;
    const auto count = static_cast<size_t>(std::min<uint64_t>(kBlockValues, field_.count - first));
    auto* bytes = reinterpret_cast<uint8_t*>(values_);
    count_ = 0;
    if (field_.count * size <= (format_.big ? 8u : 4u)) {
        std::memcpy(bytes, field_.inlineValue + first * size, count * size);
    } else if (const Status status = ReadSource(source_, field_.offset + first * size, bytes, count * size);
               status != Status::Ok) {
        return status;
    }
    // One loop a value size and byte order, so that each is a tight one.
    const bool little = format_.littleEndian;
    switch (size) {
    case 1:
        for (size_t i = count; i-- > 0;)
            values_[i] = bytes[i];
        break;
    case 2:
        for (size_t i = count; i-- > 0;)
            values_[i] = little ? ReadLe16(bytes + 2 * i) : ReadBe16(bytes + 2 * i);
        break;
    case 4:
        for (size_t i = count; i-- > 0;)
            values_[i] = little ? ReadLe32(bytes + 4 * i) : ReadBe32(bytes + 4 * i);
        break;
    default:
        for (size_t i = count; i-- > 0;)
            values_[i] = ReadValue(bytes + 8 * i, field_.type, format_);
        break;
    }
    first_ = first;
    count_ = count;
    value = values_[index - first];
    return Status::Ok;
}

Status ReadTiffScalar(SourceFile& source, const TiffField& field, const TiffFormat& format, uint64_t& value, bool anyOf)
{
    if (!field.present || (field.count != 1 && !anyOf)) {
        return Status::NotSupported;
    }
    TiffValueReader values(source, field, format);
    if (const Status status = values.Get(0, value); status != Status::Ok) {
        return status;
    }
    for (uint64_t i = 1; i < field.count; ++i) {
        uint64_t other = 0;
        if (const Status status = values.Get(i, other); status != Status::Ok) {
            return status;
        }
        if (other != value) {
            return Status::NotSupported;
        }
    }
    return Status::Ok;
}

}  // namespace kestova
