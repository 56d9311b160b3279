#include "tiff/tiff_pixels.h"

#include <cstring>

namespace kestova {
namespace {

// The n-bit sample of pixel k, n at most 8, most significant bits first.
inline unsigned Sample(const uint8_t* row, size_t k, unsigned bits)
{
    if (bits == 8) {
        return row[k];
    }
    const size_t bit = k * bits;
    return static_cast<unsigned>(row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

// Pixel `at` (its first sample's number) composited over the background.
void FlattenPixel(const TiffPixelFormat& format, uint8_t* pixel, const uint8_t* from, size_t at)
{
    const unsigned bits = format.bits;
    const unsigned most = (1u << bits) - 1;
    const unsigned a = Sample(from, at + format.samples - 1, bits);
    unsigned bgr[3] = {};
    unsigned colourMost = most;
    switch (format.colour) {
    case TiffColour::Rgb:
        for (unsigned i = 0; i < 3; ++i) {
            bgr[i] = Sample(from, at + 2 - i, bits);
        }
        break;
    case TiffColour::Palette:
        for (unsigned i = 0; i < 3; ++i) {
            bgr[i] = format.palette[Sample(from, at, bits)][i];
        }
        colourMost = 255;
        break;
    case TiffColour::WhiteIsZero:
    case TiffColour::BlackIsZero:
    case TiffColour::YCbCr: {  // never YCbCr: it has no alpha
        const unsigned v = Sample(from, at, bits);
        bgr[0] = bgr[1] = bgr[2] = format.colour == TiffColour::WhiteIsZero ? most - v : v;
        break;
    }
    }
    for (unsigned i = 0; i < 3; ++i) {
        pixel[i] = Flattened(bgr[i], colourMost, a, most, format.background[i], format.associated);
    }
}

// Any pixel of one sample past its colour's, or of RGB samples of fewer
// than 8 bits: sample by sample.
bool SamplesToBgr(const TiffPixelFormat& format, uint8_t* __restrict to, const uint8_t* __restrict from, size_t first,
                  size_t pixels)
{
    const unsigned bits = format.bits;
    const unsigned opaque = (1u << bits) - 1;
    const size_t samples = format.samples;
    for (size_t k = 0; k < pixels; ++k) {
        const size_t at = (first + k) * samples;
        uint8_t* pixel = to + 3 * k;
        if (format.alpha && Sample(from, at + samples - 1, bits) != opaque) {
            if (!format.flatten) {
                return false;
            }
            FlattenPixel(format, pixel, from, at);
            continue;
        }
        switch (format.colour) {
        case TiffColour::Rgb:
            pixel[0] = format.grey[Sample(from, at + 2, bits)];
            pixel[1] = format.grey[Sample(from, at + 1, bits)];
            pixel[2] = format.grey[Sample(from, at, bits)];
            break;
        case TiffColour::Palette: std::memcpy(pixel, format.palette[Sample(from, at, bits)], 3); break;
        case TiffColour::WhiteIsZero:
        case TiffColour::BlackIsZero: std::memset(pixel, format.grey[Sample(from, at, bits)], 3); break;
        case TiffColour::YCbCr: return false;  // never here: 8-bit, three samples (TiffToBgr)
        }
    }
    return true;
}

}  // namespace

Status PrepareTiffPixels(SourceFile& source, const TiffImage& image, TiffPixelFormat& format)
{
    format.colour = image.colour;
    format.bits = PixelBits(image);
    format.samples = image.samples;
    format.alpha = image.alpha;
    format.associated = image.associated;
    format.flatten = FlattenBackground(source.notes, format.background);
    const uint32_t most = (1u << format.bits) - 1;
    for (uint32_t v = 0; v <= most; ++v) {
        const uint32_t level = image.colour == TiffColour::WhiteIsZero ? most - v : v;
        format.grey[v] = static_cast<uint8_t>((level * 255 + most / 2) / most);
    }
    if (image.colour == TiffColour::YCbCr) {
        PrepareYCbCr(image.ycbcr, format.ycbcr);
    }
    if (image.colour != TiffColour::Palette) {
        return Status::Ok;
    }
    // ColorMap: all the reds, then the greens, then the blues, 16 bits each,
    // of which the high byte is kept. Some writers store 8-bit values
    // instead: a map whose every value is below 256 is taken as one of
    // those (a true 16-bit map that dark would be all but black).
    TiffValueReader map(source, image.colorMap, image.format);
    const uint64_t entries = uint64_t{most} + 1;
    unsigned shift = 0;
    for (uint64_t i = 0; i < 3 * entries && shift == 0; ++i) {
        uint64_t value = 0;
        if (const Status status = map.Get(i, value); status != Status::Ok) {
            return status;
        }
        shift = value > 255 ? 8 : 0;
    }
    for (uint64_t channel = 0; channel < 3; ++channel) {
        for (uint64_t i = 0; i < entries; ++i) {
            uint64_t value = 0;
            if (const Status status = map.Get(channel * entries + i, value); status != Status::Ok) {
                return status;
            }
            format.palette[i][2 - channel] = static_cast<uint8_t>(value >> shift);
        }
    }
    return Status::Ok;
}

void Undifference(uint8_t* row, size_t bytes, uint32_t samples, uint8_t (&carry)[4])
{
    // Each sample's running sum kept in a register: summing through memory
    // would wait on the store of the pixel before at every byte.
    uint8_t sum[4] = {carry[0], carry[1], carry[2], carry[3]};
    size_t i = 0;
    if (samples == 3) {
        for (; i + 3 <= bytes; i += 3) {
            row[i] = sum[0] = static_cast<uint8_t>(sum[0] + row[i]);
            row[i + 1] = sum[1] = static_cast<uint8_t>(sum[1] + row[i + 1]);
            row[i + 2] = sum[2] = static_cast<uint8_t>(sum[2] + row[i + 2]);
        }
    } else if (samples == 4) {
        for (; i + 4 <= bytes; i += 4) {
            row[i] = sum[0] = static_cast<uint8_t>(sum[0] + row[i]);
            row[i + 1] = sum[1] = static_cast<uint8_t>(sum[1] + row[i + 1]);
            row[i + 2] = sum[2] = static_cast<uint8_t>(sum[2] + row[i + 2]);
            row[i + 3] = sum[3] = static_cast<uint8_t>(sum[3] + row[i + 3]);
        }
    } else if (samples == 1) {
        for (; i < bytes; ++i) {
            row[i] = sum[0] = static_cast<uint8_t>(sum[0] + row[i]);
        }
    }
    for (; i < bytes && i < samples; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + carry[i]);
    }
    for (; i < bytes; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + row[i - samples]);
    }
    // The piece's last pixel, for the next piece (a piece holds whole pixels).
    if (bytes >= samples) {
        std::memcpy(carry, row + bytes - samples, samples);
    }
}

bool TiffToBgr(const TiffPixelFormat& format, uint8_t* __restrict to, const uint8_t* __restrict from, size_t first,
               size_t pixels)
{
    const unsigned bits = format.bits;
    const bool sampleWise = format.colour == TiffColour::Rgb     ? bits != 8
                            : format.colour == TiffColour::YCbCr ? false  // always 8-bit, three samples
                                                                 : format.samples != 1;
    if (sampleWise) {
        return SamplesToBgr(format, to, from, first, pixels);
    }
    switch (format.colour) {
    case TiffColour::Rgb:
        if (format.samples == 3) {
            from += 3 * first;
            for (size_t k = 0; k < pixels; ++k) {
                to[3 * k] = from[3 * k + 2];
                to[3 * k + 1] = from[3 * k + 1];
                to[3 * k + 2] = from[3 * k];
            }
            return true;
        }
        from += 4 * first;
        for (size_t k = 0; k < pixels; ++k) {
            const uint8_t* pixel = from + 4 * k;
            if (format.alpha && pixel[3] != 255) {
                if (!format.flatten) {
                    return false;
                }
                FlattenPixel(format, to + 3 * k, from, 4 * k);
                continue;
            }
            to[3 * k] = pixel[2];
            to[3 * k + 1] = pixel[1];
            to[3 * k + 2] = pixel[0];
        }
        return true;
    case TiffColour::Palette:
        // Each pixel but the last with one 4-byte store, whose spare last
        // byte lands where the next pixel goes.
        for (size_t k = 0; k + 1 < pixels; ++k) {
            std::memcpy(to + 3 * k, format.palette[Sample(from, first + k, bits)], 4);
        }
        if (pixels > 0) {
            std::memcpy(to + 3 * (pixels - 1), format.palette[Sample(from, first + pixels - 1, bits)], 3);
        }
        return true;
    case TiffColour::YCbCr:
        from += 3 * first;
        for (size_t k = 0; k < pixels; ++k) {
            const uint8_t* pixel = from + 3 * k;
            YCbCrToBgr(format.ycbcr, pixel[0], YCbCrRed(format.ycbcr, pixel[2]), YCbCrBlue(format.ycbcr, pixel[1]),
                       to + 3 * k);
        }
        return true;
    case TiffColour::WhiteIsZero:
    case TiffColour::BlackIsZero:
        for (size_t k = 0; k < pixels; ++k) {
            const uint8_t level = format.grey[Sample(from, first + k, bits)];
            to[3 * k] = level;
            to[3 * k + 1] = level;
            to[3 * k + 2] = level;
        }
        return true;
    }
    return false;
}

}  // namespace kestova
