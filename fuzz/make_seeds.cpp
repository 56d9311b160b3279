// Writes the fuzzers' seed corpora: small pictures of odd sizes in the forms
// each direction reads, and the damaged files the tests refuse.
// Usage: make_seeds BMP_DIR TIFF_DIR

#include <cstdio>
#include <string>
#include <tuple>

#include "bmp_forms.h"
#include "test_files.h"

using namespace testing_files;

namespace {

int g_count = 0;

void Seed(const std::string& dir, const Bytes& bytes)
{
    WriteFile(dir + "/seed-" + std::to_string(++g_count), bytes);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds BMP_DIR TIFF_DIR\n");
        return 2;
    }
    const std::string bmpDir = argv[1];
    const std::string tiffDir = argv[2];
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {2, 3}, {3, 2}, {5, 7}, {0, 0}, {0, 5}, {7, 0}, {13, 1}};
    for (const auto& [width, height] : sizes) {
        const Picture picture = MakePicture(width, height, width * 31 + height);
        Seed(bmpDir, BmpFile(picture));
        for (uint32_t infoSize : {40u, 124u}) {
            BmpForm form;
            form.infoSize = infoSize;
            form.padRows = true;
            form.topDown = infoSize == 124;
            form.gap = infoSize == 124 ? 8 : 0;
            Seed(bmpDir, BmpFile(picture, form));
        }
        Seed(tiffDir, ExpectedTiff(picture));
        if (width > 0 && height > 0) {
            TiffForm form;
            form.littleEndian = true;
            form.rowsPerStrip = 2;
            form.shortStripFields = true;
            Seed(tiffDir, TiffFile(picture, form));
            form.stripByteCounts = false;
            form.littleEndian = false;
            form.changes = {{282, 5, {72, 1}}, {305, 2, {'x', 0}}};
            Seed(tiffDir, TiffFile(picture, form));
        }
    }
    // Palette, run-length and bit-field forms, in every header.
    for (const auto& [width, height] : {std::pair{1u, 1u}, {3u, 2u}, {5u, 3u}, {9u, 5u}}) {
        for (uint16_t bits : {1, 4, 8}) {
            for (uint32_t infoSize : {12u, 16u, 40u, 64u, 124u}) {
                PaletteBmp form = MakePaletteBmp(width, height, bits, bits == 1 ? 0 : 5, width);
                form.infoSize = infoSize;
                form.topDown = infoSize == 16 || infoSize == 124;
                Seed(bmpDir, BmpFile(form));
                if (bits > 1 && infoSize >= 40) {
                    form.topDown = false;
                    form.compression = bits == 8 ? kBiRle8 : kBiRle4;
                    form.rle.skipped = infoSize == 40 ? std::vector<bool>() : SkipPattern(width, height);
                    Seed(bmpDir, BmpFile(form));
                }
            }
        }
        const std::tuple<uint16_t, uint32_t, Masks, uint32_t> directs[] = {
            {16, kBiRgb, {}, 40}, {16, kBiBitfields, {0xF800, 0x07E0, 0x001F, 0}, 52}, {24, kBiRgb, {}, 12},
            {32, kBiRgb, {}, 64}, {32, kBiAlphaBitfields, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 40},
            {32, kBiBitfields, {0xFF00, 0xFF0000, 0xFF000000, 0x7F}, 124}};
        for (const auto& [bits, compression, masks, infoSize] : directs) {
            DirectBmp form = MakeDirectBmp(width, height, bits, compression, masks, height);
            form.infoSize = infoSize;
            form.topDown = infoSize == 124;
            Seed(bmpDir, BmpFile(form));
        }
    }
    // Damaged and refused forms, as the tests have them.
    Bytes bmp = BmpFile(MakePicture(3, 3));
    bmp[28] = 8;  // 8 bits per pixel
    Seed(bmpDir, bmp);
    bmp = BmpFile(MakePicture(3, 3));
    bmp.resize(bmp.size() - 5);  // cut in the rows
    Seed(bmpDir, bmp);
    Bytes tiff = ExpectedTiff(MakePicture(3, 2));
    tiff.pop_back();  // arrays cut short
    Seed(tiffDir, tiff);
    TiffForm lzw;
    lzw.changes = {{259, 3, {5}}};
    Seed(tiffDir, TiffFile(MakePicture(4, 4), lzw));
    std::printf("wrote %d seeds\n", g_count);
    return 0;
}
