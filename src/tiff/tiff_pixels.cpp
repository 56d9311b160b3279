#include "tiff/tiff_pixels.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pixel_swap.h"

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
#if defined(__SSE2__)
    // 16 bytes at a time: the running sums within them by adding the bytes
    // shifted by one, two (and four) pixels, then the last pixel before
    // them, repeated. Three samples a pixel step 15 bytes, the 16th left
    // for the next step.
    const auto vector = [](const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    if (samples == 3 && bytes >= 16) {
        const uint8_t s0 = sum[0], s1 = sum[1], s2 = sum[2];
        __m128i before = _mm_setr_epi8(static_cast<char>(s0), static_cast<char>(s1), static_cast<char>(s2),
                                       static_cast<char>(s0), static_cast<char>(s1), static_cast<char>(s2),
                                       static_cast<char>(s0), static_cast<char>(s1), static_cast<char>(s2),
                                       static_cast<char>(s0), static_cast<char>(s1), static_cast<char>(s2),
                                       static_cast<char>(s0), static_cast<char>(s1), static_cast<char>(s2), 0);
        const __m128i firstThree = _mm_srli_si128(_mm_set1_epi8(-1), 13);
        // The sums within the 16 bytes, and their last pixel repeated apart
        // from `before`: one addition to it a step, not a chain of them.
        const auto sums = [&](__m128i differences) {
            __m128i x = _mm_add_epi8(differences, _mm_slli_si128(differences, 3));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 6));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 12));
            __m128i last = _mm_and_si128(_mm_srli_si128(x, 12), firstThree);
            last = _mm_add_epi8(last, _mm_slli_si128(last, 3));
            last = _mm_add_epi8(last, _mm_slli_si128(last, 6));
            last = _mm_add_epi8(last, _mm_slli_si128(last, 12));
            x = _mm_add_epi8(x, before);
            before = _mm_add_epi8(before, last);
            return x;
        };
        // Each step's bytes are loaded before the step before stores over
        // its 16th: a load that overlaps a store still in flight waits.
        __m128i differences = vector(row);
        for (; i + 31 <= bytes; i += 15) {
            const __m128i next = vector(row + i + 15);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), sums(differences));
            differences = next;
        }
        const __m128i firstFifteen = _mm_srli_si128(_mm_set1_epi8(-1), 1);
        const __m128i x = sums(differences);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i),
                         _mm_or_si128(_mm_and_si128(firstFifteen, x), _mm_andnot_si128(firstFifteen, differences)));
        i += 15;
        std::memcpy(sum, row + i - 3, 3);
    } else if (samples == 4 && bytes >= 16) {
        uint32_t pixel;
        std::memcpy(&pixel, sum, 4);
        __m128i before = _mm_set1_epi32(static_cast<int>(pixel));
        for (; i + 16 <= bytes; i += 16) {
            __m128i x = vector(row + i);
            x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(x, before));
            before = _mm_add_epi8(before, _mm_shuffle_epi32(x, 0xFF));
        }
        std::memcpy(sum, row + i - 4, 4);
    }
#endif
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
            // Copied, then swapped where it lies, by the vector pass the BMP
            // to TIFF direction uses, rather than a byte at a time.
            std::memcpy(to, from + 3 * first, 3 * pixels);
            SwapPixels(to, 3 * pixels);
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
