#include "bmp_pixels.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "flatten.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KESTOVA_HAVE_SSSE3_PATH 1
#include <immintrin.h>
#endif

namespace kestova {
namespace {

unsigned LowestBit(uint32_t mask)
{
    unsigned shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// The nearest 8-bit value of each value a channel of `mask` can hold.
void ScaleTable(uint32_t mask, unsigned shift, uint8_t (&table)[256])
{
    const uint32_t most = mask >> shift;  // 2^n - 1, n at most 8
    for (uint32_t v = 0; v <= most; ++v) {
        table[v] = static_cast<uint8_t>((v * 255 + most / 2) / most);
    }
}

// A value of a channel wider than 8 bits reduced to 8 by the rule,
// round(value * 255 / most), most being 2^n - 1.
inline uint8_t Reduced(uint32_t value, uint64_t most)
{
    return static_cast<uint8_t>((value * uint64_t{255} + most / 2) / most);
}

// Channel c of pixel value v as 8 bits: by its table, or for a channel
// wider than 8 bits by the rule.
inline uint8_t Channel(const BmpPixelFormat& format, int c, uint32_t v)
{
    const uint32_t value = (v & format.masks[c]) >> format.shifts[c];
    return format.most[c] == 0 ? format.scaled[c][value] : Reduced(value, format.most[c]);
}

// The alpha of pixel value v as it is judged opaque, zero or in between:
// as stored where 8 bits or fewer, else reduced to 8 bits as the colours
// are (so that of 12 bits, 4087 to 4095 are all opaque, 255).
inline uint32_t Alpha(const BmpPixelFormat& format, uint32_t v)
{
    const uint32_t a = (v & format.masks[kAlpha]) >> format.shifts[kAlpha];
    return format.most[kAlpha] == 0 ? a : Reduced(a, format.most[kAlpha]);
}

// The opaque value of Alpha's scale.
inline uint32_t OpaqueAlpha(const BmpPixelFormat& format)
{
    return format.most[kAlpha] == 0 ? format.masks[kAlpha] >> format.shifts[kAlpha] : 255;
}

// Rows whose B, G, R are longer than their stride go last row first, each
// pixel last first; shorter ones first row first, first pixel first.
// Either way each pixel's stored bits are read before its three bytes are
// written, and no write lands on stored bits not yet read. `expand` is
// called as expand(to, from, width, backward) for each row and returns
// false to refuse.
template <typename ExpandRow>
bool ExpandRows(uint8_t* block, size_t count, size_t stride, size_t width, ExpandRow&& expand)
{
    const size_t out = 3 * width;
    if (out >= stride) {
        for (size_t i = count; i-- > 0;) {
            if (!expand(block + i * out, block + i * stride, width, true)) {
                return false;
            }
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            if (!expand(block + i * out, block + i * stride, width, false)) {
                return false;
            }
        }
    }
    return true;
}

// Palette indices of `bits` bits. Going backward, each pixel but the first
// is put down with one 4-byte store at 3k - 1: its first byte lands on the
// pixel before, which is written after it. The indices are checked once a
// row, by the largest met.
template <unsigned bits>
bool ExpandPaletteRow(const BmpPixelFormat& format, uint8_t* to, const uint8_t* from, size_t width, bool backward)
{
    auto index = [from](size_t k) -> unsigned {
        if (bits == 8) {
            return from[k];
        }
        const unsigned perByte = 8 / bits;
        const unsigned shift = (perByte - 1 - static_cast<unsigned>(k % perByte)) * bits;
        return static_cast<unsigned>(from[k / perByte] >> shift) & ((1u << bits) - 1);
    };
    unsigned largest = 0;
    auto put = [&](size_t k) {
        const unsigned i = index(k);
        largest = i > largest ? i : largest;
        std::memcpy(to + 3 * k, format.palette[i] + 1, 3);
    };
    if (backward && width > 0) {
        for (size_t k = width - 1; k > 0; --k) {
            const unsigned i = index(k);
            largest = i > largest ? i : largest;
            std::memcpy(to + 3 * k - 1, format.palette[i], 4);
        }
        put(0);
    } else {
        for (size_t k = 0; k < width; ++k) {
            put(k);
        }
    }
    return largest < format.colours;
}

// Whether the alpha seen so far is still all opaque or all zero.
bool AlphaHolds(AlphaSeen& alpha, bool opaque, bool clear)
{
    alpha.opaque = alpha.opaque || opaque;
    alpha.clear = alpha.clear || clear;
    return (opaque || clear) && !(alpha.opaque && alpha.clear);
}

// 16 and 32 bits, any masks: each channel cut out, scaled to 8 bits.
bool ExpandMaskedRows(const BmpPixelFormat& format, uint8_t* block, size_t count, size_t stride, size_t width,
                      AlphaSeen& alpha)
{
    const unsigned bytes = format.bitCount / 8;  // 2 or 4
    const uint32_t alphaMask = format.masks[kAlpha];
    const uint32_t opaque = OpaqueAlpha(format);
    if (bytes == 2 && alphaMask == 0 && !format.wide) {
        // The common 16-bit forms (5-5-5, 5-6-5): masks, shifts and tables
        // in locals, which the byte stores below cannot be taken to change.
        const uint32_t blueMask = format.masks[kBlue], greenMask = format.masks[kGreen], redMask = format.masks[kRed];
        const unsigned blueShift = format.shifts[kBlue], greenShift = format.shifts[kGreen],
                       redShift = format.shifts[kRed];
        const uint8_t* const blue = format.scaled[kBlue];
        const uint8_t* const green = format.scaled[kGreen];
        const uint8_t* const red = format.scaled[kRed];
        return ExpandRows(block, count, stride, width, [&](uint8_t* to, const uint8_t* from, size_t w, bool backward) {
            const auto put = [&](size_t k) {
                const uint32_t v = ReadLe16(from + 2 * k);
                const uint8_t b = blue[(v & blueMask) >> blueShift];
                const uint8_t g = green[(v & greenMask) >> greenShift];
                const uint8_t r = red[(v & redMask) >> redShift];
                to[3 * k] = b;
                to[3 * k + 1] = g;
                to[3 * k + 2] = r;
            };
            if (backward) {
                for (size_t k = w; k-- > 0;) {
                    put(k);
                }
            } else {
                for (size_t k = 0; k < w; ++k) {
                    put(k);
                }
            }
            return true;
        });
    }
    return ExpandRows(block, count, stride, width, [&](uint8_t* to, const uint8_t* from, size_t w, bool backward) {
        if (alpha.composite) {
            for (size_t n = 0; n < w; ++n) {
                const size_t k = backward ? w - 1 - n : n;
                const uint32_t v = bytes == 2 ? ReadLe16(from + 2 * k) : ReadLe32(from + 4 * k);
                const uint32_t a = Alpha(format, v);
                for (size_t channel = kRed; channel <= kBlue; ++channel) {  // to blue, green, red: 2 - channel
                    const uint32_t c = (v & format.masks[channel]) >> format.shifts[channel];
                    const uint32_t most = format.masks[channel] >> format.shifts[channel];
                    // Channel: a channel wider than 8 bits has no table.
                    to[3 * k + 2 - channel] = a == opaque
                        ? Channel(format, static_cast<int>(channel), v)
                        : Flattened(c, most == 0 ? 1 : most, a, opaque, format.background[2 - channel], false);
                }
            }
            return true;
        }
        bool allOpaque = true;
        bool allClear = true;
        for (size_t n = 0; n < w; ++n) {
            const size_t k = backward ? w - 1 - n : n;
            const uint32_t v = bytes == 2 ? ReadLe16(from + 2 * k) : ReadLe32(from + 4 * k);
            const uint32_t a = Alpha(format, v);
            allOpaque = allOpaque && a == opaque;
            allClear = allClear && a == 0;
            to[3 * k] = Channel(format, kBlue, v);
            to[3 * k + 1] = Channel(format, kGreen, v);
            to[3 * k + 2] = Channel(format, kRed, v);
        }
        return alphaMask == 0 || w == 0 || AlphaHolds(alpha, allOpaque, allClear);
    });
}

#if KESTOVA_HAVE_SSSE3_PATH
#define KESTOVA_SSSE3 __attribute__((target("ssse3")))

// 32 bits whose channels are whole bytes, forward (each row shrinks): one
// shuffle takes four pixels' blue, green and red out of 16 bytes; the 16
// stored hold 12 of them and 4 spare bytes, which land where the next
// pixels go. Alpha is gathered over the block: AND of every alpha byte
// (all 255: opaque), OR of them (all 0: clear).
KESTOVA_SSSE3 bool ExpandWholeBytesSsse3(const BmpPixelFormat& format, uint8_t* block, size_t count,
                                         size_t stride, size_t width, AlphaSeen& alpha)
{
    alignas(16) uint8_t pick[16];
    alignas(16) uint8_t alphaLanes[16] = {};
    for (size_t p = 0; p < 4; ++p) {
        const auto pixel = static_cast<int>(4 * p);
        pick[3 * p] = static_cast<uint8_t>(pixel + format.bytes[kBlue]);
        pick[3 * p + 1] = static_cast<uint8_t>(pixel + format.bytes[kGreen]);
        pick[3 * p + 2] = static_cast<uint8_t>(pixel + format.bytes[kRed]);
        if (format.bytes[kAlpha] >= 0) {
            alphaLanes[4 * p + static_cast<size_t>(format.bytes[kAlpha])] = 0xFF;
        }
    }
    for (int i = 12; i < 16; ++i) {
        pick[i] = 0x80;  // zero
    }
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(pick));
    const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(alphaLanes));
    __m128i all = _mm_set1_epi8(-1);
    __m128i any = _mm_setzero_si128();
    uint8_t tailAll = 0xFF;
    uint8_t tailAny = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* from = block + i * stride;
        uint8_t* to = block + i * 3 * width;
        size_t k = 0;
        for (; k + 4 <= width; k += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * k));
            all = _mm_and_si128(all, _mm_or_si128(v, _mm_andnot_si128(lanes, _mm_set1_epi8(-1))));
            any = _mm_or_si128(any, _mm_and_si128(v, lanes));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 3 * k), _mm_shuffle_epi8(v, shuffle));
        }
        for (; k < width; ++k) {
            const uint8_t* pixel = from + 4 * k;
            if (format.bytes[kAlpha] >= 0) {
                tailAll &= pixel[format.bytes[kAlpha]];
                tailAny |= pixel[format.bytes[kAlpha]];
            }
            const uint8_t bgr[3] = {pixel[format.bytes[kBlue]], pixel[format.bytes[kGreen]], pixel[format.bytes[kRed]]};
            std::memcpy(to + 3 * k, bgr, 3);
        }
    }
    if (format.bytes[kAlpha] < 0 || count * width == 0) {
        return true;
    }
    alignas(16) uint8_t andBytes[16];
    alignas(16) uint8_t orBytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(andBytes), all);
    _mm_store_si128(reinterpret_cast<__m128i*>(orBytes), any);
    uint8_t allAlpha = tailAll;
    uint8_t anyAlpha = tailAny;
    for (int i = 0; i < 16; ++i) {
        allAlpha &= andBytes[i];
        anyAlpha |= orBytes[i];
    }
    return AlphaHolds(alpha, allAlpha == 0xFF, anyAlpha == 0);
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

}  // namespace

Status PrepareBmpPixels(SourceFile& source, const BmpInfo& info, BmpPixelFormat& format)
{
    format.bitCount = info.bitCount;
    if (info.bitCount <= 8) {
        // The entries that lie before the pixels; an index past them is
        // refused when it is met.
        const uint64_t room = (info.pixelOffset - info.paletteOffset) / info.paletteEntrySize;
        format.colours = room < info.paletteEntries ? static_cast<uint32_t>(room) : info.paletteEntries;
        uint8_t entries[256 * 4];
        const size_t bytes = size_t{format.colours} * info.paletteEntrySize;
        if (const Status status = ReadSource(source, info.paletteOffset, entries, bytes); status != Status::Ok) {
            return status;
        }
        for (uint32_t i = 0; i < format.colours; ++i) {
            std::memcpy(format.palette[i] + 1, entries + size_t{i} * info.paletteEntrySize, 3);
        }
        return Status::Ok;
    }
    format.flatten = FlattenBackground(source.notes, format.background);
    format.wholeBytes = info.bitCount == 32;
    for (int channel = kRed; channel <= kAlpha; ++channel) {
        const uint32_t mask = info.masks[channel];
        format.masks[channel] = mask;
        format.shifts[channel] = LowestBit(mask);
        if (mask >> format.shifts[channel] > 255) {
            format.most[channel] = mask >> format.shifts[channel];
            format.wide = true;
        } else if (channel != kAlpha) {
            ScaleTable(mask, format.shifts[channel], format.scaled[channel]);
        }
        const bool wholeByte = mask == 0xFFu << format.shifts[channel] && format.shifts[channel] % 8 == 0;
        format.bytes[channel] = mask == 0 ? -1 : static_cast<int>(format.shifts[channel] / 8);
        format.wholeBytes = format.wholeBytes && (wholeByte || (channel == kAlpha && mask == 0));
    }
    return Status::Ok;
}

Status BmpAlphaInUse(SourceFile& source, OutputStream& out, const RowRun& rows, const BmpPixelFormat& format,
                     bool& inUse)
{
    const uint32_t alphaMask = format.masks[kAlpha];
    const unsigned bytes = format.bitCount / 8;
    inUse = false;
    if (format.bitCount <= 8 || alphaMask == 0) {
        return Status::Ok;
    }
    const size_t piece = OutputStream::kBlockSize / 4 * 4;  // whole pixels of 2 or 4 bytes
    uint8_t* room = out.Room(piece);
    for (uint64_t row = 0; row < rows.rows && !inUse; ++row) {
        for (uint64_t done = 0; done < rows.rowBytes && !inUse; done += piece) {
            const auto size = static_cast<size_t>(std::min<uint64_t>(piece, rows.rowBytes - done));
            if (const Status status = ReadSource(source, rows.offset + row * rows.stride + done, room, size);
                status != Status::Ok) {
                return status;
            }
            for (size_t at = 0; at + bytes <= size && !inUse; at += bytes) {
                inUse = Alpha(format, bytes == 2 ? ReadLe16(room + at) : ReadLe32(room + at)) != 0;
            }
        }
    }
    return Status::Ok;
}

Status ExpandBmpRows(const BmpPixelFormat& format, uint8_t* block, size_t count, size_t stride, size_t width,
                     AlphaSeen& alpha)
{
    bool done = true;
    switch (format.bitCount) {
    case 1:
        done = ExpandRows(block, count, stride, width, [&](uint8_t* to, const uint8_t* from, size_t w, bool back) {
            return ExpandPaletteRow<1>(format, to, from, w, back);
        });
        break;
    case 4:
        done = ExpandRows(block, count, stride, width, [&](uint8_t* to, const uint8_t* from, size_t w, bool back) {
            return ExpandPaletteRow<4>(format, to, from, w, back);
        });
        break;
    case 8:
        done = ExpandRows(block, count, stride, width, [&](uint8_t* to, const uint8_t* from, size_t w, bool back) {
            return ExpandPaletteRow<8>(format, to, from, w, back);
        });
        break;
    default:
#if KESTOVA_HAVE_SSSE3_PATH
        if (format.wholeBytes && HasSsse3() && !alpha.composite) {
            done = ExpandWholeBytesSsse3(format, block, count, stride, width, alpha);
            break;
        }
#endif
        done = ExpandMaskedRows(format, block, count, stride, width, alpha);
        break;
    }
    return done ? Status::Ok : Status::NotSupported;
}

}  // namespace kestova
