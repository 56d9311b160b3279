#include "tiff/tiff_jpeg.h"

namespace kestova {
namespace {

constexpr uint16_t kTiffUndefined = 7;  // a field type: bytes

}  // namespace

Status ReadTiffJpeg(const SourceFile& source, const TiffDirectory& d, uint64_t samples, uint64_t bits,
                    uint64_t planar, uint64_t& photometric, TiffImage& image)
{
    if (!JpegAvailable()) {
        return Status::NotSupported;  // built without libjpeg (the Windows DLLs)
    }
    switch (photometric) {
    case 6: image.jpegColour = JpegColour::YCbCr; break;
    case 2: image.jpegColour = JpegColour::Rgb; break;
    case 1: image.jpegColour = JpegColour::Grey; break;
    default: return Status::NotSupported;  // CMYK, WhiteIsZero and the rest
    }
    // 8-bit samples only (12-bit JPEG is refused), all in one plane: a
    // plane a sample would be a stream a component.
    const uint64_t components = image.jpegColour == JpegColour::Grey ? 1 : 3;
    if (bits != 8 || samples != components || (planar != 1 && samples > 1)) {
        return Status::NotSupported;
    }
    // The tables: a byte stream lying in the file. One short enough to lie
    // in the field itself (4 bytes, 8 in BigTIFF) holds no table.
    const TiffField& tables = d.jpegTables;
    const uint64_t inlineBytes = d.format.big ? 8 : 4;
    if (tables.present &&
        ((tables.type != kTiffByte && tables.type != kTiffUndefined) || tables.count <= inlineBytes ||
         tables.offset > source.size || source.size - tables.offset < tables.count)) {
        return Status::NotSupported;
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
