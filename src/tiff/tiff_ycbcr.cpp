#include "tiff/tiff_ycbcr.h"

namespace kestova {
namespace {

// Value `index` of a field of a few values, each read on its own (a
// reader's block held from value to value would save nothing).
Status ValueAt(SourceFile& source, const TiffField& field, const TiffFormat& format, uint64_t index,
               uint64_t& value)
{
    TiffValueReader values(source, field, format);
    return values.Get(index, value);
}

// Value `index` of a field of fractions: a RATIONAL's numerator over its
// denominator, or an integer as it is (some writers store
// ReferenceBlackWhite's whole numbers so). NotSupported for a zero
// denominator.
Status Fraction(SourceFile& source, const TiffField& field, const TiffFormat& format, uint64_t index, double& value)
{
    uint64_t raw = 0;
    if (const Status status = ValueAt(source, field, format, index, raw); status != Status::Ok) {
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
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 530);
        }
        uint64_t across = 0;
        uint64_t down = 0;
        if (const Status status = ValueAt(source, d.ycbcrSubSampling, f, 0, across); status != Status::Ok) {
            return status;
        }
        if (const Status status = ValueAt(source, d.ycbcrSubSampling, f, 1, down); status != Status::Ok) {
            return status;
        }
        const auto allowed = [](uint64_t n) { return n == 1 || n == 2 || n == 4; };
        if (!allowed(across) || !allowed(down)) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 530);
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
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 531);
        }
    }
    if (d.ycbcrCoefficients.present) {
        if (d.ycbcrCoefficients.count != 3 || d.ycbcrCoefficients.type != kTiffRational) {
            // Fractions below 1: only a RATIONAL holds them.
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 529);
        }
        double* const lumas[3] = {&ycbcr.lumaRed, &ycbcr.lumaGreen, &ycbcr.lumaBlue};
        for (uint64_t i = 0; i < 3; ++i) {
            if (const Status status = Fraction(source, d.ycbcrCoefficients, f, i, *lumas[i]); status != Status::Ok) {
                return status;
            }
        }
        if (ycbcr.lumaGreen == 0) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 529);  // green is divided by it
        }
    }
    if (d.referenceBlackWhite.present) {
        // Black and white of Y, of Cb and of Cr.
        if (d.referenceBlackWhite.count != 6) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 532);
        }
        for (uint64_t i = 0; i < 3; ++i) {
            if (const Status status = Fraction(source, d.referenceBlackWhite, f, 2 * i, ycbcr.black[i]);
                status != Status::Ok) {
                return status;
            }
            if (const Status status = Fraction(source, d.referenceBlackWhite, f, 2 * i + 1, ycbcr.white[i]);
                status != Status::Ok) {
                return status;
            }
            if (ycbcr.black[i] == ycbcr.white[i]) {
                // A range of nothing: each code is divided by it.
                return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 532);
            }
        }
    }
    return Status::Ok;
}

void PrepareYCbCr(const TiffYCbCr& ycbcr, YCbCrTables& t)
{
    for (int i = 0; i < 3; ++i) {
        t.black[i] = ycbcr.black[i];
        t.range[i] = ycbcr.white[i] - ycbcr.black[i];
    }
    t.redScale = 2 - 2 * ycbcr.lumaRed;
    t.blueScale = 2 - 2 * ycbcr.lumaBlue;
    t.lumaRed = ycbcr.lumaRed;
    t.lumaGreen = ycbcr.lumaGreen;
    t.lumaBlue = ycbcr.lumaBlue;
}

}  // namespace kestova
