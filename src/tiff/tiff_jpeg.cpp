#include "tiff/tiff_jpeg.h"

namespace kestova {
namespace {

constexpr uint16_t kTiffUndefined = 7;  // a field type: bytes

}  // namespace

Status ReadTiffJpeg(const SourceFile& source, const TiffDirectory& d, uint64_t samples, uint64_t bits,
                    uint64_t planar, uint64_t& photometric, TiffImage& image)
{
    if (!JpegAvailable()) {
        // Built without libjpeg (the Windows DLLs).
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_COMPRESSION, 7);
    }
    switch (photometric) {
    case 6: image.jpegColour = JpegColour::YCbCr; break;
    case 2: image.jpegColour = JpegColour::Rgb; break;
    case 1: image.jpegColour = JpegColour::Grey; break;
    default:  // CMYK, WhiteIsZero and the rest
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_COLOUR_SPACE, photometric);
    }
    // 8-bit samples only (12-bit JPEG is refused), all in one plane: a
    // plane a sample would be a stream a component.
    const uint64_t components = image.jpegColour == JpegColour::Grey ? 1 : 3;
    if (bits != 8) {
        return bits > 8 ? Refuse(source, Status::NotSupported, KESTOVA_REASON_SAMPLE_BITS, bits)
                        : Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 258);
    }
    if (samples != components || (planar != 1 && samples > 1)) {
        return samples != components ? Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_SAMPLES, samples)
                                     : Refuse(source, Status::NotSupported, KESTOVA_REASON_PLANAR, planar);
    }
    // The tables: a byte stream lying in the file. One short enough to lie
    // in the field itself (4 bytes, 8 in BigTIFF) holds no table.
    const TiffField& tables = d.jpegTables;
    const uint64_t inlineBytes = d.format.big ? 8 : 4;
    if (tables.present &&
        ((tables.type != kTiffByte && tables.type != kTiffUndefined) || tables.count <= inlineBytes ||
         tables.offset > source.size || source.size - tables.offset < tables.count)) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 347);
    }
    image.jpegTables = tables;
    image.reverseBits = false;
    image.predictor = false;
    if (photometric == 6) {
        photometric = 2;
    }
    return Status::Ok;
}

}  // namespace kestova
