#include "bmp_forms.h"

#include <algorithm>

namespace testing_files {
namespace {

uint32_t Shift(uint32_t mask) { return mask == 0 ? 0 : static_cast<uint32_t>(__builtin_ctz(mask)); }
uint32_t Largest(uint32_t mask) { return mask >> Shift(mask); }
uint8_t Byte(uint32_t value) { return static_cast<uint8_t>(value); }

// Pixels of one row, as runs (count, value) and absolute runs of 3 to 255.
void EncodeSegment(const Bytes& v, bool four, const RleOptions& options, Bytes& out)
{
    auto runAt = [&](size_t i) {  // the same index, or for RLE4 the same two alternating
        size_t k = 1;
        while (i + k < v.size() && k < options.longestRun && v[i + k] == v[four ? i + k % 2 : i]) {
            ++k;
        }
        return k;
    };
    auto pack = [&](size_t i, size_t end) { return four ? Byte(v[i] << 4 | (i + 1 < end ? v[i + 1] : 0)) : v[i]; };
    for (size_t i = 0; i < v.size();) {
        const size_t run = runAt(i);
        size_t j = i;
        while (options.absolute && j < v.size() && j - i < 255 && runAt(j) < 3) {
            ++j;
        }
        if (j - i < 3) {
            out.insert(out.end(), {Byte(run), pack(i, i + run)});
            i += run;
            continue;
        }
        out.insert(out.end(), {0, Byte(j - i)});
        const size_t begin = out.size();
        for (size_t p = i; p < j; p += four ? 2 : 1) {
            out.push_back(pack(p, j));
        }
        out.resize(out.size() + (out.size() - begin) % 2, 0);  // to an even number of bytes
        i = j;
    }
}

Bytes RleEncode(const PaletteBmp& form)
{
    const uint32_t width = form.width, height = form.height;
    auto at = [&](uint32_t x, uint32_t r) { return size_t{height - 1 - r} * width + x; };  // r: stored row
    auto skipped = [&](uint32_t x, uint32_t r) { return !form.rle.skipped.empty() && form.rle.skipped[at(x, r)]; };
    Bytes out;
    auto delta = [&](uint32_t dx, uint32_t dy) {
        for (; dx > 0 || dy > 0; dx -= std::min(dx, 255u), dy -= std::min(dy, 255u)) {
            out.insert(out.end(), {0, 2, Byte(std::min(dx, 255u)), Byte(std::min(dy, 255u))});
        }
    };
    uint32_t x = 0, r = 0;  // where the decoder stands
    for (uint32_t row = 0; row < height; ++row) {
        for (uint32_t start = 0, end; start < width; start = end) {
            for (end = start; end < width && !skipped(end, row); ++end) {
            }
            if (end == start) {
                ++end;
                continue;
            }
            if (row == r || (x < width && start >= x)) {
                delta(start - x, row - r);
            } else {
                out.insert(out.end(), {0, 0});  // end of line
                delta(start, row - r - 1);
            }
            const auto first = form.indices.begin() + static_cast<std::ptrdiff_t>(at(start, row));
            EncodeSegment(Bytes(first, first + (end - start)), form.compression == kBiRle4, form.rle, out);
            x = end;
            r = row;
        }
    }
    if (form.rle.lineEndAfterLastRow) {
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});  // end of picture
    return out;
}

BmpHeader HeaderFor(uint32_t infoSize, uint32_t width, uint32_t height, bool topDown, uint16_t bits,
                    uint32_t compression, const Bytes& pixels)
{
    BmpHeader header;
    header.infoSize = infoSize;
    header.width = width;
    header.height = topDown ? -static_cast<int32_t>(height) : static_cast<int32_t>(height);
    header.bits = bits;
    header.compression = compression;
    header.sizeImage = static_cast<uint32_t>(pixels.size());
    return header;
}

}  // namespace

Bytes BmpWithHeader(const BmpHeader& header, const Bytes& extra, const Bytes& pixels)
{
    const auto offset = static_cast<uint32_t>(14 + header.infoSize + extra.size());
    Bytes file = {'B', 'M'};
    PutLe(file, offset + static_cast<uint32_t>(pixels.size()), 4);
    PutLe(file, 0, 4);
    PutLe(file, offset, 4);
    PutLe(file, header.infoSize, 4);
    const int side = header.infoSize == 12 ? 2 : 4;
    PutLe(file, header.width, side);
    PutLe(file, static_cast<uint32_t>(header.height), side);
    PutLe(file, header.planes, 2);
    PutLe(file, header.bits, 2);
    if (header.infoSize >= 40) {
        for (uint32_t value : {header.compression, header.sizeImage, 2835u, 2835u, header.clrUsed, 0u}) {
            PutLe(file, value, 4);  // ... resolutions, biClrUsed, biClrImportant
        }
    }
    if (header.infoSize >= 52 && header.infoSize != 64) {  // 64: the old variant's own fields
        for (size_t i = 0; i < (header.infoSize >= 56 ? 4u : 3u); ++i) {
            PutLe(file, header.masks[i], 4);
        }
    }
    if (header.infoSize >= 108) {
        PutLe(file, 0x73524742, 4);  // 'sRGB'
    }
    file.resize(14 + header.infoSize, 0);
    file.insert(file.end(), extra.begin(), extra.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

PaletteBmp MakePaletteBmp(uint32_t width, uint32_t height, uint16_t bits, uint32_t entries, uint32_t seed)
{
    PaletteBmp form;
    form.width = width;
    form.height = height;
    form.bits = bits;
    const uint32_t count = entries != 0 ? entries : 1u << bits;
    form.clrUsed = count < (1u << bits) ? count : 0;
    for (uint32_t i = 0; i < count; ++i) {  // i * 97 gives every byte once
        form.palette.push_back(((i * 97 + seed) & 0xFF) << 16 | ((i * 59 + 101) & 0xFF) << 8 | (255 - i));
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            form.indices.push_back(Byte(((x / 6) % 2 == 0 ? x / 6 + y : x * 5 + y * 3 + seed) % count));
        }
    }
    return form;
}

std::vector<bool> SkipPattern(uint32_t width, uint32_t height)
{
    std::vector<bool> skipped;
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t r = height - 1 - y;  // stored row
        for (uint32_t x = 0; x < width; ++x) {
            skipped.push_back((r == 0 && x >= width / 3 && x < width / 3 + (width + 3) / 4)  // delta along
                              || (r % 3 == 1 && x >= width / 4)  // end of line, or delta up when...
                              || (r % 4 == 2 && x < width / 2)   // ...the next row starts further on
                              || r == 3 || (r == height - 1 && height > 1 && x >= 2 * width / 3));
        }
    }
    return skipped;
}

Bytes BmpFile(const PaletteBmp& form)
{
    Bytes palette;
    for (uint32_t colour : form.palette) {
        palette.insert(palette.end(), {Byte(colour), Byte(colour >> 8), Byte(colour >> 16)});
        if (form.infoSize != 12) {
            palette.push_back(0);
        }
    }
    Bytes pixels = form.pixelData;
    const bool packed = pixels.empty() && form.compression == kBiRgb;
    if (pixels.empty() && !packed) {
        pixels = RleEncode(form);
    }
    for (uint32_t s = 0; packed && s < form.height; ++s) {
        const uint32_t y = form.topDown ? s : form.height - 1 - s;
        Bytes row((form.width * form.bits + 31) / 32 * 4, 0xFF);  // bits past the last pixel set
        for (uint32_t x = 0; x < form.width; ++x) {
            const uint32_t bit = x * form.bits, shift = 8 - form.bits - bit % 8;
            row[bit / 8] = Byte((row[bit / 8] & ~(((1u << form.bits) - 1) << shift)) |
                                uint32_t{form.indices[size_t{y} * form.width + x]} << shift);
        }
        pixels.insert(pixels.end(), row.begin(), row.end());
    }
    BmpHeader header =
        HeaderFor(form.infoSize, form.width, form.height, form.topDown, form.bits, form.compression, pixels);
    header.clrUsed = form.clrUsed;
    return BmpWithHeader(header, palette, pixels);
}

Picture Decoded(const PaletteBmp& form)
{
    Picture picture{form.width, form.height, {}};
    for (size_t i = 0; i < form.indices.size(); ++i) {
        const bool skipped = form.compression != kBiRgb && !form.rle.skipped.empty() && form.rle.skipped[i];
        const uint32_t colour = form.palette.at(skipped ? 0 : form.indices[i]);
        picture.rgb.insert(picture.rgb.end(), {Byte(colour >> 16), Byte(colour >> 8), Byte(colour)});
    }
    return picture;
}

DirectBmp MakeDirectBmp(uint32_t width, uint32_t height, uint16_t bits, uint32_t compression, Masks masks,
                        uint32_t seed)
{
    DirectBmp form;
    form.width = width;
    form.height = height;
    form.bits = bits;
    form.compression = compression;
    form.masks = compression != kBiRgb ? masks
                 : bits == 16         ? Masks{0x7C00, 0x03E0, 0x001F, 0}
                                      : Masks{0xFF0000, 0x00FF00, 0x0000FF, 0};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            Masks v{0, 0, 0, Largest(form.masks[3])};
            for (uint32_t c = 0; c < 3; ++c) {
                v[c] = (x * 7 + y * 31 + c * 85 + seed + (x >> 8) * 3) % (Largest(form.masks[c]) + 1);
            }
            form.values.push_back(v);
        }
    }
    return form;
}

Bytes BmpFile(const DirectBmp& form)
{
    const uint32_t bytes = form.bits / 8u;
    const uint32_t covered = form.masks[0] | form.masks[1] | form.masks[2] | form.masks[3];
    Bytes pixels;
    for (uint32_t s = 0; s < form.height; ++s) {
        const uint32_t y = form.topDown ? s : form.height - 1 - s;
        for (uint32_t x = 0; x < form.width; ++x) {
            uint32_t pixel = form.junk ? ~covered : 0;
            for (size_t c = 0; c < 4; ++c) {
                pixel |= form.values[size_t{y} * form.width + x][c] << Shift(form.masks[c]);
            }
            PutLe(pixels, pixel, static_cast<int>(bytes));
        }
        pixels.resize((pixels.size() + 3) / 4 * 4, 0xFF);  // every row's start is a multiple of 4
    }
    BmpHeader header =
        HeaderFor(form.infoSize, form.width, form.height, form.topDown, form.bits, form.compression, pixels);
    Bytes extra;
    if (form.compression != kBiRgb) {
        header.masks = form.masks;  // in headers of 52 bytes and more, else after the header
        for (size_t c = 0; form.infoSize == 40 && c < (form.compression == kBiAlphaBitfields ? 4u : 3u); ++c) {
            PutLe(extra, form.masks[c], 4);
        }
    }
    return BmpWithHeader(header, extra, pixels);
}

Picture Decoded(const DirectBmp& form)
{
    Picture picture{form.width, form.height, {}};
    for (const Masks& v : form.values) {
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t largest = Largest(form.masks[c]);
            picture.rgb.push_back(Byte((v[c] * 255 + largest / 2) / largest));
        }
    }
    return picture;
}

}  // namespace testing_files
