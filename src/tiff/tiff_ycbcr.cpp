#include "tiff/tiff_ycbcr.h"

#include <initializer_list>

namespace kestova {
namespace {

// Value `index` of a field of fractions: a RATIONAL's numerator over its
// denominator, or an integer as it is (some writers store
// ReferenceBlackWhite's whole numbers so). NotSupported for a zero
// denominator.
Status Fraction(TiffValueReader& values, const TiffField& field, uint64_t index, double& value)
{
    uint64_t raw = 0;
    if (const Status status = values.Get(index, raw); status != Status::Ok) {
        return status;
    }
    if (field.type != kTiffRational) {
        value = static_cast<double>(raw);
        return Status::Ok;
    }
    const uint64_t denominator = raw & 0xFFFFFFFFu;
    if (denominator == 0) {
        return Status::NotSupported;
    }
    value = static_cast<double>(raw >> 32) / static_cast<double>(denominator);
    return Status::Ok;
}

}  // namespace

Status ReadTiffYCbCr(SourceFile& source, const TiffDirectory& d, TiffYCbCr& ycbcr)
{
    const TiffFormat& f = d.format;
    if (d.ycbcrSubSampling.present) {
        // Two values, across then down. The format asks for down no more
        // than across, but readers take 1 x 2, 1 x 4 and 2 x 4 as well,
        // and their data units are laid out alike.
        if (d.ycbcrSubSampling.count != 2) {
            return Status::NotSupported;
        }
        TiffValueReader values(source, d.ycbcrSubSampling, f);
        uint64_t across = 0;
        uint64_t down = 0;
        for (const Status status : {values.Get(0, across), values.Get(1, down)}) {
            if (status != Status::Ok) {
                return status;
            }
        }
        const auto allowed = [](uint64_t n) { return n == 1 || n == 2 || n == 4; };
        if (!allowed(across) || !allowed(down)) {
            return Status::NotSupported;
        }
        ycbcr.across = static_cast<uint32_t>(across);
        ycbcr.down = static_cast<uint32_t>(down);
    }
    if (d.ycbcrPositioning.present) {
        // 1 centred, 2 cosited: no other is defined.
        uint64_t positioning = 0;
        if (const Status status = ReadTiffScalar(source, d.ycbcrPositioning, f, positioning); status != Status::Ok) {
            return status;
        }
        if (positioning != 1 && positioning != 2) {
            return Status::NotSupported;
        }
    }
    if (d.ycbcrCoefficients.present) {
        if (d.ycbcrCoefficients.count != 3 || d.ycbcrCoefficients.type != kTiffRational) {
            return Status::NotSupported;  // fractions below 1: only a RATIONAL holds them
        }
        TiffValueReader values(source, d.ycbcrCoefficients, f);
        for (const Status status : {Fraction(values, d.ycbcrCoefficients, 0, ycbcr.lumaRed),
                                    Fraction(values, d.ycbcrCoefficients, 1, ycbcr.lumaGreen),
                                    Fraction(values, d.ycbcrCoefficients, 2, ycbcr.lumaBlue)}) {
            if (status != Status::Ok) {
                return status;
            }
        }
        if (ycbcr.lumaGreen == 0) {
            return Status::NotSupported;  // green is divided by it
        }
    }
    if (d.referenceBlackWhite.present) {
        // Black and white of Y, of Cb and of Cr.
        if (d.referenceBlackWhite.count != 6) {
            return Status::NotSupported;
        }
        TiffValueReader values(source, d.referenceBlackWhite, f);
        for (uint64_t i = 0; i < 3; ++i) {
            for (const Status status : {Fraction(values, d.referenceBlackWhite, 2 * i, ycbcr.black[i]),
                                        Fraction(values, d.referenceBlackWhite, 2 * i + 1, ycbcr.white[i])}) {
                if (status != Status::Ok) {
                    return status;
                }
            }
            if (ycbcr.black[i] == ycbcr.white[i]) {
                return Status::NotSupported;  // a range of nothing: each code is divided by it
            }
        }
    }
    return Status::Ok;
}

void PrepareYCbCr(const TiffYCbCr& ycbcr, YCbCrTables& t)
{
    // The order of the operations is the formulas', so that each value is
    // the one they give, to the last bit, however it rounds.
    const double redScale = 2 - 2 * ycbcr.lumaRed;
    const double blueScale = 2 - 2 * ycbcr.lumaBlue;
    for (int code = 0; code < 256; ++code) {
        const double c = code;
        t.luma[code] = (c - ycbcr.black[0]) * 255 / (ycbcr.white[0] - ycbcr.black[0]);
        t.blue[code] = (c - ycbcr.black[1]) * 127 / (ycbcr.white[1] - ycbcr.black[1]) * blueScale;
        t.red[code] = (c - ycbcr.black[2]) * 127 / (ycbcr.white[2] - ycbcr.black[2]) * redScale;
    }
    t.lumaRed = ycbcr.lumaRed;
    t.lumaGreen = ycbcr.lumaGreen;
    t.lumaBlue = ycbcr.lumaBlue;
}

}  // namespace kestova
