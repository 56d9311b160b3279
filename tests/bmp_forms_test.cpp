// Bmp2Tiff over the BMP forms beyond 24 bits (palettes, run lengths, bit
// fields, the old headers), padding and top-down, each against the TIFF of
// the picture the format's tables decode it to. Refusals leave an existing
// destination as it was and make none where there was none.

#include <cstdio>
#include <tuple>

#include "bmp_forms.h"
#include "kestovatiff.h"

namespace testing_files {
namespace {

// Widths giving every padding and partial byte; 1000 gives runs and deltas
// longer than a byte can say.
std::vector<std::pair<uint32_t, uint32_t>> Sizes()
{
    std::vector<std::pair<uint32_t, uint32_t>> sizes = {{1000, 3}};
    for (uint32_t width : {1u, 2u, 3u, 5u, 7u, 9u, 17u, 33u}) {
        sizes.insert(sizes.end(), {{width, 1}, {width, 5}});
    }
    return sizes;
}
constexpr Masks k565 = {0xF800, 0x07E0, 0x001F, 0};
constexpr Masks k888 = {0xFF0000, 0x00FF00, 0x0000FF, 0};
constexpr Masks k8888 = {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000};

class BmpFormsTest : public ScratchDir {
protected:
    int32_t Convert(const Bytes& bmp)
    {
        WriteFile(Path("in.bmp"), bmp);
        return Bmp2Tiff(Path16("in.bmp").c_str(), Path16("out.tif").c_str());
    }
    void ExpectConverts(const Bytes& bmp, const Picture& picture)
    {
        ASSERT_EQ(Convert(bmp), KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(picture));
    }
    void ExpectRefused(const Bytes& bmp, int32_t expected = KESTOVATIFF_ERROR_FORMAT)
    {
        const Bytes precious = {'k', 'e', 'e', 'p'};
        WriteFile(Path("out.tif"), precious);
        EXPECT_EQ(Convert(bmp), expected);
        EXPECT_EQ(ReadFile(Path("out.tif")), precious);
        std::remove(Path("out.tif").c_str());
        EXPECT_EQ(Convert(bmp), expected);
        EXPECT_EQ(Names(), std::vector<std::string>{"in.bmp"});
    }
};

enum Coding { kPlain, kRunsOnly, kSkips, kShortRuns };

PaletteBmp PaletteForm(uint32_t width, uint32_t height, uint16_t bits, uint32_t compression, uint32_t infoSize,
                       uint32_t entries = 0, bool topDown = false, Coding coding = kPlain)
{
    PaletteBmp form = MakePaletteBmp(width, height, bits, entries, width + height);
    form.compression = compression;
    form.infoSize = infoSize;
    form.topDown = topDown;
    form.rle.absolute = coding != kRunsOnly;
    if (coding == kSkips) {
        form.rle.skipped = SkipPattern(width, height);
    }
    form.rle.longestRun = coding == kShortRuns ? 3 : 255;
    form.rle.lineEndAfterLastRow = coding == kShortRuns;
    return form;
}

DirectBmp DirectForm(uint32_t width, uint32_t height, uint16_t bits, uint32_t compression, Masks masks,
                     uint32_t infoSize, bool topDown = false, bool junk = false)
{
    DirectBmp form = MakeDirectBmp(width, height, bits, compression, masks, width * 3 + height);
    form.infoSize = infoSize;
    form.topDown = topDown;
    form.junk = junk;
    return form;
}

TEST_F(BmpFormsTest, PaletteForms)
{
    struct Form {
        const char* name;
        uint16_t bits;
        uint32_t compression, infoSize, entries;  // entries 0: 2^bits
        bool clrUsedZero, topDown;                // biClrUsed 0: the entries before the pixels count
        Coding coding;
    };
    const Form forms[] = {
        {"1 bit, 12-byte header", 1, kBiRgb, 12, 0, false, false, kPlain},
        {"1 bit, 16-byte header, top-down", 1, kBiRgb, 16, 0, false, true, kPlain},
        {"4 bits, 5 entries, biClrUsed 0", 4, kBiRgb, 40, 5, true, false, kPlain},
        {"4 bits, 64-byte header, top-down", 4, kBiRgb, 64, 0, false, true, kPlain},
        {"8 bits", 8, kBiRgb, 40, 0, false, false, kPlain},
        {"8 bits, 12-byte header, 200 entries", 8, kBiRgb, 12, 200, false, false, kPlain},
        {"8 bits, 17 entries, biClrUsed 0", 8, kBiRgb, 40, 17, true, false, kPlain},
        {"8 bits, 124-byte header, top-down", 8, kBiRgb, 124, 0, false, true, kPlain},
        {"RLE8", 8, kBiRle8, 40, 0, false, false, kPlain},
        {"RLE8, runs only", 8, kBiRle8, 40, 0, false, false, kRunsOnly},
        {"RLE8, deltas and early ends", 8, kBiRle8, 40, 0, false, false, kSkips},
        {"RLE8, short runs, 124-byte header", 8, kBiRle8, 124, 0, false, false, kShortRuns},
        {"RLE8, deltas, 64-byte header, 20 entries", 8, kBiRle8, 64, 20, false, false, kSkips},
        {"RLE4", 4, kBiRle4, 40, 0, false, false, kPlain},
        {"RLE4, runs only", 4, kBiRle4, 40, 0, false, false, kRunsOnly},
        {"RLE4, deltas and early ends, 108-byte header", 4, kBiRle4, 108, 0, false, false, kSkips},
        {"RLE4, short runs, 64-byte header, 9 entries", 4, kBiRle4, 64, 9, false, false, kShortRuns},
    };
    for (const Form& f : forms) {
        for (const auto& [width, height] : Sizes()) {
            SCOPED_TRACE(testing::Message() << f.name << ", " << width << "x" << height);
            PaletteBmp form =
                PaletteForm(width, height, f.bits, f.compression, f.infoSize, f.entries, f.topDown, f.coding);
            form.clrUsed = f.clrUsedZero ? 0 : form.clrUsed;
            ExpectConverts(BmpFile(form), Decoded(form));
        }
    }
}

TEST_F(BmpFormsTest, BitFieldForms)
{
    struct Form {
        const char* name;
        uint16_t bits;
        uint32_t compression;
        Masks masks;  // for BI_RGB, implied
        uint32_t infoSize;
        bool topDown, junk;  // junk: every bit no mask covers set
    };
    const Form forms[] = {
        {"16 bits 5-5-5", 16, kBiRgb, {}, 40, false, true},
        {"16 bits 5-6-5 after the header", 16, kBiBitfields, k565, 40, false, false},
        {"16 bits 5-6-5, 52-byte header, top-down", 16, kBiBitfields, k565, 52, true, false},
        {"16 bits 5-5-5-1, 56-byte header", 16, kBiBitfields, {0x7C00, 0x03E0, 0x001F, 0x8000}, 56, false, false},
        {"16 bits 4-4-4-4, 124-byte header", 16, kBiBitfields, {0x0F00, 0x00F0, 0x000F, 0xF000}, 124, false, false},
        {"16 bits, red 3 low, blue 6 high", 16, kBiBitfields, {0x0007, 0x03F8, 0xFC00, 0}, 40, false, false},
        {"16 bits, one bit each", 16, kBiBitfields, {0x0100, 0x0010, 0x0001, 0}, 40, false, true},
        {"24 bits, 12-byte header", 24, kBiRgb, {}, 12, false, false},
        {"24 bits, 16-byte header, top-down", 24, kBiRgb, {}, 16, true, false},
        {"24 bits, 64-byte header, top-down", 24, kBiRgb, {}, 64, true, false},
        {"32 bits", 32, kBiRgb, {}, 40, false, true},
        {"32 bits, 64-byte header, top-down", 32, kBiRgb, {}, 64, true, true},
        {"32 bits 8-8-8 after the header", 32, kBiBitfields, k888, 40, false, true},
        {"32 bits 8-8-8 reversed, 52-byte header", 32, kBiBitfields, {0xFF, 0xFF00, 0xFF0000, 0}, 52, true, false},
        {"32 bits 3-6-8, 108-byte header", 32, kBiBitfields, {0xE0000000, 0x03F00000, 0xFF0, 0}, 108, false, true},
        {"32 bits, alpha bit fields after the header", 32, kBiAlphaBitfields, k8888, 40, false, false},
        {"32 bits, alpha, 124-byte header, top-down", 32, kBiBitfields, k8888, 124, true, false},
        {"32 bits, 2-bit alpha low, 56-byte header", 32, kBiBitfields, {0xFF000000, 0xFF0000, 0xFF00, 3}, 56, false,
         true},
    };
    for (const Form& f : forms) {
        for (const auto& [width, height] : Sizes()) {
            SCOPED_TRACE(testing::Message() << f.name << ", " << width << "x" << height);
            const DirectBmp form = DirectForm(width, height, f.bits, f.compression, f.masks, f.infoSize, f.topDown, f.junk);
            ExpectConverts(BmpFile(form), Decoded(form));
        }
    }
}

// The rounding worked by hand, which checks Decoded too.
TEST_F(BmpFormsTest, ChannelsScaleToEightBitsRounded)
{
    DirectBmp form = MakeDirectBmp(4, 1, 16, kBiBitfields, k565);
    form.values = {{0, 0, 0, 0}, {3, 1, 31, 0}, {16, 32, 15, 0}, {31, 63, 1, 0}};
    const Picture picture565{4, 1, {0, 0, 0, 25, 4, 255, 132, 130, 123, 255, 255, 8}};
    EXPECT_EQ(Decoded(form).rgb, picture565.rgb);
    ExpectConverts(BmpFile(form), picture565);

    form = MakeDirectBmp(2, 1, 32, kBiBitfields, {0xE0000000, 0x00010000, 0x0000007F, 0});  // 3, 1, 7 bits
    form.values = {{5, 1, 100, 0}, {2, 0, 1, 0}};
    const Picture picture317{2, 1, {182, 255, 201, 73, 0, 2}};
    EXPECT_EQ(Decoded(form).rgb, picture317.rgb);
    ExpectConverts(BmpFile(form), picture317);
}

// Channels wider than 8 bits: with KESTOVA_FLAG_REDUCE each value v of n
// bits becomes round(v * 255 / (2^n - 1)); without it they are refused
// with their reason and the widest channel's bits. Alpha so wide is
// reduced the same way before it is judged opaque.
TEST_F(BmpFormsTest, WideChannelsReduceOnRequest)
{
    const std::tuple<Masks, uint32_t, uint16_t> forms[] = {
        {{0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, 56, 32},  // 10-10-10-2
        {{0x000003FF, 0x000FFC00, 0x3FF00000, 0}, 40, 32},           // the same, blue high, no alpha
        {{0xFFE00000, 0x001FFC00, 0x000003FF, 0}, 108, 32},          // 11-11-10
        {{0xFFFF0000, 0x0000FF00, 0x000000F0, 0}, 52, 32},           // 16-8-4
        {{0xFFC0, 0x0038, 0x0007, 0}, 40, 16},                       // 10-3-3 in 16 bits
        {{0xFF, 0xFF00, 0xF0000, 0xFFF00000}, 124, 32},              // 8-8-4, alpha of 12 bits
    };
    for (const auto& [masks, infoSize, bits] : forms) {
        SCOPED_TRACE(testing::Message() << std::hex << masks[0] << " " << masks[1] << " " << masks[2]);
        DirectBmp form = DirectForm(700, 3, bits, kBiBitfields, masks, infoSize);
        form.values[1] = {0, 0, 0, form.values[1][3]};
        form.values[2] = {masks[0] >> __builtin_ctz(masks[0]), 1, 2, form.values[2][3]};
        // Alpha reduced as the colours are: of 12 bits, 4087 is opaque (255).
        form.values[3][3] = masks[3] == 0xFFF00000 ? 4087 : form.values[3][3];
        WriteFile(Path("in.bmp"), BmpFile(form));
        for (const uint32_t flags : {0u, KESTOVA_FLAG_REDUCE}) {
            KestovaOptions options = {sizeof options, flags, 0, 0, 0, 0, 0};
            const int32_t result = KestovaConvert(Path16("in.bmp").c_str(), Path16("out.tif").c_str(), &options);
            if (flags == 0) {
                EXPECT_EQ(result, KESTOVATIFF_ERROR_FORMAT);
                EXPECT_EQ(options.reason, KESTOVA_REASON_DEEP_SAMPLES);
                EXPECT_EQ(options.reasonValue, static_cast<uint64_t>(
                                                   std::max(__builtin_popcount(masks[0]), __builtin_popcount(masks[3]))));
                EXPECT_EQ(Names(), std::vector<std::string>{"in.bmp"});
                continue;
            }
            ASSERT_EQ(result, KESTOVATIFF_OK);
            EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(Decoded(form)));
        }
        std::remove(Path("out.tif").c_str());
    }
}

// Larger than the library's blocks.
TEST_F(BmpFormsTest, LargePicturesOfEachFamily)
{
    for (const PaletteBmp& form : {PaletteForm(2000, 300, 1, kBiRgb, 40), PaletteForm(2000, 300, 8, kBiRgb, 124, 0, true),
                                   PaletteForm(2000, 300, 8, kBiRle8, 40, 0, false, kSkips),
                                   PaletteForm(2001, 300, 4, kBiRle4, 40)}) {
        SCOPED_TRACE(testing::Message() << form.bits << " bits, compression " << form.compression);
        ExpectConverts(BmpFile(form), Decoded(form));
    }
    for (const DirectBmp& form : {DirectForm(2000, 300, 16, kBiBitfields, k565, 40),
                                  DirectForm(2001, 300, 24, kBiRgb, {}, 64, true),
                                  DirectForm(2000, 300, 32, kBiBitfields, k8888, 124, true)}) {
        SCOPED_TRACE(testing::Message() << form.bits << " bits, compression " << form.compression);
        ExpectConverts(BmpFile(form), Decoded(form));
    }
}

TEST_F(BmpFormsTest, AlphaMustBeOpaqueEverywhereOrZeroEverywhere)
{
    struct Pattern {
        const char* name;
        uint32_t (*alpha)(size_t i, size_t count, size_t width, uint32_t opaque);
        bool converts;
    };
    const Pattern patterns[] = {
        {"all opaque", [](size_t, size_t, size_t, uint32_t o) { return o; }, true},
        {"all zero", [](size_t, size_t, size_t, uint32_t) { return 0u; }, true},
        {"the first zero", [](size_t i, size_t, size_t, uint32_t o) { return i == 0 ? 0 : o; }, false},
        {"the last zero", [](size_t i, size_t n, size_t, uint32_t o) { return i + 1 == n ? 0 : o; }, false},
        {"the last one step less", [](size_t i, size_t n, size_t, uint32_t o) { return i + 1 == n ? o - 1 : o; }, false},
        {"zero, the last 1", [](size_t i, size_t n, size_t, uint32_t) { return i + 1 == n ? 1u : 0u; }, false},
        {"the top rows zero, the rest opaque",  // each row alike, the picture not
         [](size_t i, size_t n, size_t w, uint32_t o) { return i < n / w / 2 * w ? 0 : o; }, false},
    };
    for (DirectBmp form : {DirectForm(7, 3, 16, kBiBitfields, {0x7C00, 0x03E0, 0x001F, 0x8000}, 56),
                           DirectForm(7, 3, 32, kBiAlphaBitfields, k8888, 40),
                           DirectForm(700, 40, 32, kBiBitfields, {0xFF00, 0xFF0000, 0xFF000000, 0xFF}, 124, true)}) {
        for (const Pattern& pattern : patterns) {
            SCOPED_TRACE(testing::Message() << form.bits << " bits, " << form.width << " wide: " << pattern.name);
            for (size_t i = 0; i < form.values.size(); ++i) {
                form.values[i][3] =
                    pattern.alpha(i, form.values.size(), form.width, form.masks[3] >> __builtin_ctz(form.masks[3]));
            }
            if (pattern.converts) {
                ExpectConverts(BmpFile(form), Decoded(form));
            } else {
                ExpectRefused(BmpFile(form));
            }
        }
    }
}

void SetLe(Bytes& bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// 24 bits: rows are padded, as the format says, except in the library's own
// layout (40-byte header, pixels at 54, the file ending with 3*W*|H| bytes
// of them), which is read unpadded unless biSizeImage names the padded size.
TEST_F(BmpFormsTest, PaddedOrUnpaddedRows)
{
    enum Size { kUnpadded, kPadded, kZero, kOther };
    struct Case {
        const char* name;
        uint32_t width, height;
        bool padded;
        Size sizeImage;
        int change;  // bytes added at the end (negative: cut)
        bool converts;
        uint32_t infoSize = 40, gap = 0;
    };
    const Case cases[] = {
        {"unpadded 1x4", 1, 4, false, kUnpadded, 0, true},
        {"unpadded 4x3, the sizes alike", 4, 3, false, kUnpadded, 0, true},
        {"unpadded 5x2 one byte short", 5, 2, false, kUnpadded, -1, false},
        {"unpadded 5x3 with a byte after: padded, short", 5, 3, false, kUnpadded, 1, false},
        {"unpadded 5x2, the size padded: short", 5, 2, false, kPadded, 0, false},
        {"unpadded 5x2 after a 124-byte header: padded, short", 5, 2, false, kUnpadded, 0, false, 124},
        {"unpadded 5x2 after a gap: padded, short", 5, 2, false, kUnpadded, 0, false, 40, 4},
        {"padded 5x2 with 5 bytes after", 5, 2, true, kPadded, 5, true},
        {"padded 5x2, the size 3*W*H", 5, 2, true, kUnpadded, 0, true},
        {"padded 1x4, the size 3*W*H, the last padding missing", 1, 4, true, kUnpadded, -1, true},
        {"padded 7x13, the size 3*W*H, 3 bytes after", 7, 13, true, kUnpadded, 3, true},
        {"padded 1x4 cut 2 bytes into its last row", 1, 4, true, kPadded, -2, false},
        {"padded 1x4 cut 1 byte into its last row", 1, 4, true, kPadded, -3, false},
        {"padded 5x2 cut to the unpadded length", 5, 2, true, kPadded, -2, false},
        {"no size: padded, the last padding missing", 3, 3, true, kZero, -3, true},
        {"no size: unpadded", 3, 3, false, kZero, 0, true},
        {"no size: shorter than unpadded", 3, 3, false, kZero, -1, false},
        {"another size: padded", 5, 2, true, kOther, 0, true},
        {"another size: unpadded", 5, 2, false, kOther, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture picture = MakePicture(c.width, c.height, c.width);
        BmpForm form;
        form.padRows = c.padded;
        form.infoSize = c.infoSize;
        form.gap = c.gap;
        Bytes bmp = BmpFile(picture, form);
        const uint32_t unpadded = 3 * c.width * c.height, padded = (3 * c.width + 3) / 4 * 4 * c.height;
        const uint32_t sizes[] = {unpadded, padded, 0, unpadded + 1};
        SetLe(bmp, 34, sizes[c.sizeImage]);
        bmp.resize(bmp.size() + static_cast<size_t>(c.change), 0x77);
        if (c.converts) {
            ExpectConverts(bmp, picture);
        } else {
            ExpectRefused(bmp);
        }
    }
}

// Streams written by hand, as the format's table reads them.
TEST_F(BmpFormsTest, RunLengthStreamsByHand)
{
    struct Case {
        const char* name;
        uint32_t width, height, compression;
        Bytes stream;
        Bytes indices;  // top row first; empty: refused
        bool topDown = false;
    };
    const Case cases[] = {
        {"runs, an absolute run", 4, 2, kBiRle8, {3, 1, 1, 2, 0, 0, 0, 4, 0, 1, 2, 3, 0, 1}, {0, 1, 2, 3, 1, 1, 1, 2}},
        {"absolute run of 3, padded", 4, 2, kBiRle8, {0, 3, 3, 2, 1, 0, 1, 3, 0, 0, 4, 2, 0, 1}, {2, 2, 2, 2, 3, 2, 1, 3}},
        {"delta right and up", 4, 2, kBiRle8, {1, 3, 0, 2, 2, 1, 1, 2, 0, 1}, {0, 0, 0, 2, 3, 0, 0, 0}},
        {"early end of line and of picture", 4, 2, kBiRle8, {2, 3, 0, 0, 1, 1, 0, 1}, {1, 0, 0, 0, 3, 3, 0, 0}},
        {"end of line after the last row", 4, 2, kBiRle8, {4, 1, 0, 0, 4, 2, 0, 0, 0, 1}, {2, 2, 2, 2, 1, 1, 1, 1}},
        {"RLE4 runs alternate nibbles", 5, 2, kBiRle4, {5, 0x12, 0, 0, 3, 0x30, 2, 0x21, 0, 1},
         {3, 0, 3, 2, 1, 1, 2, 1, 2, 1}},
        {"RLE4 absolute run of 5, padded", 5, 2, kBiRle4, {0, 5, 0x12, 0x30, 0x10, 0, 0, 0, 5, 0x33, 0, 1},
         {3, 3, 3, 3, 3, 1, 2, 3, 0, 1}},
        {"RLE4 absolute run of 3", 5, 1, kBiRle4, {0, 3, 0x21, 0x30, 2, 0x11, 0, 1}, {2, 1, 3, 1, 1}},
        // Pixels coded outside the picture are dropped, as other readers
        // drop them (some writers code a row's padding as pixels).
        {"run past the row's end", 4, 2, kBiRle8, {5, 1, 0, 1}, {0, 0, 0, 0, 1, 1, 1, 1}},
        {"second run past the row's end", 4, 2, kBiRle8, {3, 1, 2, 1, 0, 1}, {0, 0, 0, 0, 1, 1, 1, 1}},
        {"absolute run past the row's end", 4, 2, kBiRle8, {0, 5, 1, 1, 1, 1, 1, 0, 0, 1}, {0, 0, 0, 0, 1, 1, 1, 1}},
        {"RLE4 run past the row's end", 5, 2, kBiRle4, {6, 0x11, 0, 1}, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}},
        {"RLE4 absolute run past the row's end", 5, 2, kBiRle4, {0, 6, 0x11, 0x11, 0x11, 0, 0, 1},
         {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}},
        {"delta past the right edge", 4, 2, kBiRle8, {1, 2, 0, 2, 5, 0, 0, 1}, {0, 0, 0, 0, 2, 0, 0, 0}},
        {"delta past the top ends the picture", 4, 2, kBiRle8, {1, 2, 0, 2, 0, 3, 4, 3, 0, 1}, {0, 0, 0, 0, 2, 0, 0, 0}},
        {"pixels after the last row", 4, 2, kBiRle8, {4, 1, 0, 0, 4, 2, 0, 0, 1, 3, 0, 1}, {2, 2, 2, 2, 1, 1, 1, 1}},
        // The end-of-picture code may be missing once the picture is whole.
        {"no end of picture", 4, 2, kBiRle8, {4, 1, 0, 0, 4, 2}, {2, 2, 2, 2, 1, 1, 1, 1}},
        {"no end of picture after an end of line", 4, 2, kBiRle8, {4, 1, 0, 0, 4, 2, 0, 0}, {2, 2, 2, 2, 1, 1, 1, 1}},
        {"data ending inside the picture", 4, 2, kBiRle8, {4, 1, 0, 0, 3, 2}, {}},
        {"cut inside an escape", 4, 2, kBiRle8, {4, 1, 0}, {}},
        {"cut inside a delta", 4, 2, kBiRle8, {4, 1, 0, 2, 1}, {}},
        {"cut inside an absolute run", 4, 2, kBiRle8, {0, 4, 1, 2}, {}},
        {"index past the entries in a run", 4, 2, kBiRle8, {4, 4, 0, 0, 4, 1, 0, 1}, {}},
        {"index past the entries in an absolute run", 4, 2, kBiRle8, {0, 4, 0, 1, 2, 4, 0, 0, 4, 1, 0, 1}, {}},
        {"RLE4 index past the entries", 5, 1, kBiRle4, {5, 0x14, 0, 1}, {}},
        {"top-down", 4, 2, kBiRle8, {4, 1, 0, 0, 4, 2, 0, 1}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteBmp form;
        form.width = c.width;
        form.height = c.height;
        form.bits = c.compression == kBiRle8 ? 8 : 4;
        form.compression = c.compression;
        form.palette = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
        form.clrUsed = 4;
        form.topDown = c.topDown;
        form.pixelData = c.stream;
        form.indices = c.indices;
        if (c.indices.empty()) {
            ExpectRefused(BmpFile(form));
        } else {
            ExpectConverts(BmpFile(form), Decoded(form));
        }
    }
}

// A 2-pixel-wide header and `after` it.
Bytes HeaderOnly(uint32_t infoSize, uint16_t bits, uint32_t compression, Bytes after = Bytes(64, 0x11),
                 int32_t height = 2)
{
    BmpHeader header;
    header.infoSize = infoSize;
    header.width = 2;
    header.height = height;
    header.bits = bits;
    header.compression = compression;
    return BmpWithHeader(header, {}, after);
}

TEST_F(BmpFormsTest, FormsNotReadAreRefused)
{
    auto withIndex = [](PaletteBmp form, size_t at, uint8_t index) {
        form.indices.at(at) = index;
        Bytes bmp = BmpFile(form);
        bmp.resize(bmp.size() + 1100, 0);  // room past the pixels for every entry 8 bits could name
        return bmp;
    };
    auto withMasks = [](uint16_t bits, Masks masks, uint32_t infoSize = 40) {
        const uint32_t compression = masks[3] != 0 && infoSize == 40 ? kBiAlphaBitfields : kBiBitfields;
        return BmpFile(DirectForm(3, 2, bits, compression, masks, infoSize));
    };
    auto cut = [](Bytes bmp, size_t size) {
        bmp.resize(size);
        return bmp;
    };
    PaletteBmp unnamed = MakePaletteBmp(5, 3, 8, 4);
    unnamed.clrUsed = 0;
    PaletteBmp oldHeader = MakePaletteBmp(3, 3, 8, 2);
    oldHeader.infoSize = 12;
    Bytes masksAfter = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};  // 8-8-8, as a 40-byte header has them
    masksAfter.resize(28, 0x11);
    const Bytes bmp8 = BmpFile(MakePaletteBmp(4, 3, 8)), bmp1 = BmpFile(MakePaletteBmp(33, 2, 1));
    const Bytes bmp16 = BmpFile(DirectForm(3, 2, 16, kBiRgb, {}, 40));
    struct Case {
        std::string name;
        Bytes bmp;
        int32_t expected = KESTOVATIFF_ERROR_FORMAT;
    };
    std::vector<Case> cases = {
        {"index 4 of 4 entries", withIndex(MakePaletteBmp(5, 3, 8, 4), 7, 4)},
        {"index 4 of the 4 entries before the pixels, biClrUsed 0", withIndex(unnamed, 14, 4)},
        {"4 bits, index 5 of 5 entries", withIndex(MakePaletteBmp(5, 3, 4, 5), 14, 5)},
        {"1 bit, a 1 with one entry", withIndex(MakePaletteBmp(9, 2, 1, 1), 3, 1)},
        {"12-byte header, index 2 of 2 entries", withIndex(oldHeader, 4, 2)},
        {"RLE8, a run of index 4 of 4", withIndex(PaletteForm(6, 2, 8, kBiRle8, 40, 4), 0, 4)},
        {"RLE8, index 4 of 4 in an absolute run", withIndex(PaletteForm(12, 1, 8, kBiRle8, 40, 4), 8, 4)},
        {"RLE4, index 3 of 3", withIndex(PaletteForm(7, 2, 4, kBiRle4, 40, 3), 3, 3)},
        {"RLE8 top-down", BmpFile(PaletteForm(6, 2, 8, kBiRle8, 40, 4, true))},
        {"RLE8 with 4 bits", BmpFile(PaletteForm(4, 2, 4, kBiRle8, 40))},
        {"RLE4 with 8 bits", BmpFile(PaletteForm(4, 2, 8, kBiRle4, 40, 16))},
        {"RLE4 with 1 bit", HeaderOnly(40, 1, kBiRle4)},
        {"bit fields with 8 bits", HeaderOnly(40, 8, kBiBitfields)},
        {"64-byte header, Huffman", HeaderOnly(64, 1, 3)},
        {"64-byte header, RLE24", HeaderOnly(64, 24, 4)},
        {"64-byte header, compression 3 and 32 bits", [&] {
             Bytes bmp = HeaderOnly(64, 32, 3, masksAfter);
             SetLe(bmp, 10, 14 + 64 + 12);  // pixels after the masks
             return bmp;
         }()},
        {"mask of 9 bits", withMasks(32, {0x7FC00000, 0xFF00, 0xFF, 0})},
        {"mask not contiguous", withMasks(16, {0xF001, 0x07E0, 0x001E, 0})},
        {"red mask zero", withMasks(16, {0, 0x07E0, 0x001F, 0})},
        {"masks overlapping", withMasks(16, {0xF800, 0x0FE0, 0x001F, 0})},
        {"mask past 16 bits", withMasks(16, {0x1F0000, 0x07E0, 0x001F, 0})},
        {"alpha mask on red", withMasks(32, {0xFF0000, 0xFF00, 0xFF, 0xFF0000})},
        {"alpha mask not contiguous", withMasks(32, {0xFF0000, 0xFF00, 0xFF, 0x81000000}, 124)},
        {"cut in the palette", cut(BmpFile(MakePaletteBmp(2, 2, 8)), 200)},
        {"8 bits, a byte short", cut(bmp8, bmp8.size() - 1)},
        {"1 bit, cut in the last row", cut(bmp1, bmp1.size() - 4)},
        {"16 bits, cut in the last row", cut(bmp16, bmp16.size() - 3)},
        {"1 bit, width 65536", BmpFile(MakePaletteBmp(65536, 1, 1)), KESTOVATIFF_ERROR_TOO_LARGE},
        {"RLE8, height 70000", HeaderOnly(40, 8, kBiRle8, {0, 1}, 70000), KESTOVATIFF_ERROR_TOO_LARGE},
    };
    for (uint32_t compression : {5u, 11u, 12u, 13u}) {  // PNG, CMYK, CMYK RLE8, CMYK RLE4 (JPEG: failure_test)
        cases.push_back({"compression " + std::to_string(compression), HeaderOnly(40, 24, compression)});
    }
    for (uint16_t bits : {0, 3, 48, 64}) {
        cases.push_back({std::to_string(bits) + " bits", HeaderOnly(40, bits, kBiRgb)});
    }
    for (uint32_t infoSize : {0u, 41u, 100u, 128u}) {
        cases.push_back({"info header of " + std::to_string(infoSize) + " bytes", HeaderOnly(infoSize, 24, kBiRgb)});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRefused(c.bmp, c.expected);
    }
}

}  // namespace
}  // namespace testing_files
