// KestovaConvert's options. BMPs with rows padded to 4 bytes, from every
// form of TIFF the library reads: every writer (rows copied as stored,
// planes interleaved, chunks decoded and placed) must give each row its
// padding, at its place. Without options, the two first exports' bytes;
// bad options refused; and the reason each refusal gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "bmp_forms.h"
#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

enum class BmpRows { Unpadded, Padded };

class PaddedBmpTest : public ScratchDir {
protected:
    int32_t Convert(const Bytes& tiff, BmpRows rows)
    {
        WriteFile(Path("in.tif"), tiff);
        KestovaOptions options = {sizeof options, rows == BmpRows::Padded ? KESTOVA_FLAG_PADDED_ROWS : 0u, 0, 0, 0, 0, 0};
        return KestovaConvert(Path16("in.tif").c_str(), Path16("out.bmp").c_str(), &options);
    }
};

TEST_F(PaddedBmpTest, EveryWriterPadsEveryRow)
{
    struct Form {
        const char* what;
        uint32_t compression;
        bool planar;
        uint32_t tileSide;
        uint32_t rowsPerStrip;
        uint32_t orientation;
    };
    const Form forms[] = {
        {"one strip, copied", 1, false, 0, 0, 1},
        {"strips of 2, copied", 1, false, 0, 2, 1},
        {"planes", 1, true, 0, 0, 1},
        {"coded planes", 8, true, 0, 2, 1},
        {"LZW strips, mirrored", 5, false, 0, 2, 2},
        {"Deflate, upside down", 8, false, 0, 0, 4},
        {"PackBits tiles, turned", 32773, false, 16, 0, 3},
        {"LZW strips, rows and columns exchanged", 5, false, 0, 2, 6},
        {"planes in tiles, rows and columns exchanged", 1, true, 16, 0, 8},
    };
    // Widths around the multiples of 4, one row past the decoded piece and
    // one past the output block.
    for (const uint32_t width : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 683u, 2729u, 21847u}) {
        for (const uint32_t height : {1u, 3u}) {
            const Picture picture = MakePicture(width, height, width);
            for (const Form& f : forms) {
                SCOPED_TRACE(testing::Message() << f.what << ", " << width << "x" << height);
                TiffForm form;
                form.compression = f.compression;
                form.planar = f.planar;
                form.tileSide = f.tileSide;
                form.rowsPerStrip = f.rowsPerStrip;
                form.changes = {{274, 3, {f.orientation}}};
                const Bytes tiff = TiffFile(picture, form);
                BmpForm padded;
                padded.padRows = true;
                const Picture shown = Shown(picture, f.orientation);
                ASSERT_EQ(Convert(tiff, BmpRows::Padded), KESTOVATIFF_OK);
                const Bytes bmp = ReadFile(Path("out.bmp"));
                EXPECT_EQ(bmp, BmpFile(shown, padded));
                ASSERT_EQ(Convert(tiff, BmpRows::Unpadded), KESTOVATIFF_OK);
                EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(shown));
                if (shown.width % 4 == 0) {
                    EXPECT_EQ(bmp, ReadFile(Path("out.bmp")));  // the two layouts agree
                }
            }
        }
    }
}

// A failed padded conversion leaves the destination as it was.
TEST_F(PaddedBmpTest, FailureLeavesTheDestination)
{
    WriteFile(Path("out.bmp"), {'o', 'l', 'd'});
    Bytes tiff = TiffFile(MakePicture(5, 3));
    tiff.resize(tiff.size() / 2);
    EXPECT_EQ(Convert(tiff, BmpRows::Padded), KESTOVATIFF_ERROR_FORMAT);
    EXPECT_EQ(ReadFile(Path("out.bmp")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.tif", "out.bmp"}));
}

// Without options KestovaConvert is Bmp2Tiff or Tiff2Bmp, byte for byte and
// result for result, whichever way the source's first bytes point.
TEST_F(PaddedBmpTest, NoOptionsAreTheTwoExports)
{
    const Picture picture = MakePicture(5, 3, 7);
    TiffForm lzw;
    lzw.compression = 5;
    Bytes cut = TiffFile(picture);
    cut.resize(cut.size() / 2);
    const std::pair<const char*, Bytes> sources[] = {
        {"bmp", BmpFile(picture)}, {"tiff", TiffFile(picture)}, {"lzw", TiffFile(picture, lzw)},
        {"cut", cut},              {"text", {'h', 'i', '!', '\n'}}, {"empty", {}},
    };
    for (const auto& [name, bytes] : sources) {
        SCOPED_TRACE(name);
        WriteFile(Path("in"), bytes);
        const bool bmp = bytes.size() >= 2 && bytes[0] == 'B';
        const int32_t expected = (bmp ? Bmp2Tiff : Tiff2Bmp)(Path16("in").c_str(), Path16("export").c_str());
        ASSERT_EQ(KestovaConvert(Path16("in").c_str(), Path16("convert").c_str(), nullptr), expected);
        if (expected == KESTOVATIFF_OK) {
            EXPECT_EQ(ReadFile(Path("convert")), ReadFile(Path("export")));
            std::remove(Path("convert").c_str());
            std::remove(Path("export").c_str());
        }
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"in"}));
}

// Options a version does not know, or a struct smaller than the first, are
// refused before anything is touched.
TEST_F(PaddedBmpTest, BadOptionsAreRefused)
{
    WriteFile(Path("in.bmp"), BmpFile(MakePicture(3, 2)));
    const struct {
        uint32_t size;
        uint32_t flags;
        int32_t reason;
        uint64_t value;
        int64_t folder;
    } cases[] = {
        {0, 0, -7, 7, 0},
        {31, KESTOVA_FLAG_PADDED_ROWS, -7, 7, 0},
        {32, 0x40u, KESTOVA_REASON_OPTIONS_FLAGS, 0x40u, 0},
        {64, 0x80000001u, KESTOVA_REASON_OPTIONS_FLAGS, 0x80000000u, 0},
        // A folder in a struct too small to hold it, or not a descriptor.
        {KESTOVA_OPTIONS_SIZE_1, KESTOVA_FLAG_IN_FOLDER, KESTOVA_REASON_OPTIONS_FLAGS, KESTOVA_FLAG_IN_FOLDER, 0},
        {KESTOVA_OPTIONS_SIZE_2, KESTOVA_FLAG_IN_FOLDER, KESTOVA_REASON_DESTINATION_PATH, 0, -1},
        {KESTOVA_OPTIONS_SIZE_2, KESTOVA_FLAG_IN_FOLDER, KESTOVA_REASON_DESTINATION_PATH, 0, int64_t{1} << 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << ", " << c.flags);
        KestovaOptions options = {c.size, c.flags, 0, 0, -7, 7, c.folder};  // -7, 7: untouched
        EXPECT_EQ(KestovaConvert(Path16("in.bmp").c_str(), Path16("out.tif").c_str(), &options),
                  KESTOVATIFF_ERROR_ARGUMENT);
        EXPECT_EQ(options.reason, c.reason);
        EXPECT_EQ(options.reasonValue, c.value);
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp"}));
}

// Each refusal's reason and value, and none for a success; the flags
// change none of these.
TEST_F(PaddedBmpTest, ReasonsOfRefusals)
{
    auto patched = [](Bytes bytes, size_t at, uint32_t value, int size) {
        Bytes le;
        PutLe(le, value, size);
        std::copy(le.begin(), le.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        return bytes;
    };
    const Bytes bmp = BmpFile(MakePicture(3, 2));
    Bytes shortBmp = bmp;
    shortBmp.resize(60);
    // 8 bits, a palette of one entry, the pixel index 5.
    Bytes palette = patched(patched(patched(patched(bmp, 28, 8, 2), 46, 1, 4), 10, 58, 4), 2, 66, 4);
    palette.resize(66);
    std::fill(palette.begin() + 54, palette.end(), uint8_t{5});
    TiffForm jbig;
    jbig.changes = {{259, 3, {34661}}};
    PaletteBmp rle = MakePaletteBmp(6, 2, 8, 4);
    rle.compression = kBiRle8;
    Bytes rleCut = BmpFile(rle);  // biSizeImage names its whole stream
    const auto rleEnd = static_cast<uint32_t>(rleCut.size());
    rleCut.resize(rleEnd - 3);
    TiffForm palette16;
    palette16.changes = {{258, 3, {16}}, {262, 3, {3}}, {277, 3, {1}}};
    TiffForm predicted12;  // libtiff differences no samples packed across bytes
    predicted12.compression = 5;
    predicted12.predictor = true;
    predicted12.changes = {{258, 3, {12, 12, 12}}};
    TiffForm grey32;  // deeper than --reduce reads
    grey32.changes = {{258, 3, {32}}, {262, 3, {1}}, {277, 3, {1}}};
    TiffForm wide;
    wide.changes = {{256, 4, {0x80000000u}}};
    // LZW codes, 9 bits each: 256 (clear), then 300, which names no string yet.
    TiffForm lzw;
    lzw.compression = 5;
    lzw.chunks = {{0x80, 0x4B, 0x00}};
    const struct {
        const char* what;
        Bytes source;
        uint64_t maxPixels;
        int32_t result;
        int32_t reason;
        uint64_t value;
    } cases[] = {
        {"a BMP", bmp, 0, KESTOVATIFF_OK, KESTOVA_REASON_NONE, 0},
        {"a TIFF within the limit", TiffFile(MakePicture(3, 2)), 6, KESTOVATIFF_OK, KESTOVA_REASON_NONE, 0},
        {"text", {'t', 'e', 'x', 't'}, 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_UNKNOWN_FORMAT, 0},
        {"BMP compression 4", patched(bmp, 30, 4, 4), 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_BMP_COMPRESSION, 4},
        {"BMP of 7 bits", patched(bmp, 28, 7, 2), 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_BMP_BITS, 7},
        {"BMP of 2 planes", patched(bmp, 26, 2, 2), 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_BMP_PLANES, 2},
        {"BMP header of 41", patched(bmp, 14, 41, 4), 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_BMP_HEADER, 41},
        {"BMP cut short", shortBmp, 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_FILE_SHORT, 54 + 12 + 9},
        {"RLE8 cut short", rleCut, 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_FILE_SHORT, rleEnd},
        {"RLE8 stopping early, no biSizeImage", patched(rleCut, 34, 0, 4), 0, KESTOVATIFF_ERROR_FORMAT,
         KESTOVA_REASON_BMP_RUN_LENGTHS, 0},
        {"palette index 5 of 1", palette, 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_PALETTE_INDEX, 1},
        {"BMP 70000 wide", patched(bmp, 18, 70000, 4), 0, KESTOVATIFF_ERROR_TOO_LARGE,
         KESTOVA_REASON_SIDE_TOO_LARGE, 70000},
        {"BMP past the limit", bmp, 5, KESTOVATIFF_ERROR_TOO_LARGE, KESTOVA_REASON_PICTURE_LIMIT, 6},
        {"TIFF past the limit", TiffFile(MakePicture(3, 2)), 5, KESTOVATIFF_ERROR_TOO_LARGE,
         KESTOVA_REASON_PICTURE_LIMIT, 6},
        {"TIFF compression 34661", TiffFile(MakePicture(3, 2), jbig), 0, KESTOVATIFF_ERROR_FORMAT,
         KESTOVA_REASON_TIFF_COMPRESSION, 34661},
        {"TIFF of 16-bit palette indices", TiffFile(MakePicture(3, 2), palette16), 0, KESTOVATIFF_ERROR_FORMAT,
         KESTOVA_REASON_PALETTE_BITS, 16},
        {"TIFF of 32-bit grey", TiffFile(MakePicture(3, 2), grey32), 0, KESTOVATIFF_ERROR_FORMAT,
         KESTOVA_REASON_SAMPLE_BITS, 32},
        {"TIFF of 12 bits, Predictor 2", TiffFile(MakePicture(3, 2), predicted12), 0, KESTOVATIFF_ERROR_FORMAT,
         KESTOVA_REASON_PREDICTOR, 2},
        {"TIFF 2^31 wide", TiffFile(MakePicture(3, 2), wide), 0, KESTOVATIFF_ERROR_TOO_LARGE,
         KESTOVA_REASON_SIDE_TOO_LARGE, 0x80000000u},
        {"TIFF of damaged LZW", TiffFile(MakePicture(3, 2), lzw), 0, KESTOVATIFF_ERROR_FORMAT,
         KESTOVA_REASON_CODED_DATA, 5},
        {"TIFF cut in its header", {'I', 'I', 42, 0, 8}, 0, KESTOVATIFF_ERROR_FORMAT, KESTOVA_REASON_FILE_SHORT, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(Path("in"), c.source);
        KestovaOptions options = {sizeof options, KESTOVA_FLAG_REDUCE | KESTOVA_FLAG_FLATTEN, c.maxPixels, 0xFFFFFF,
                                  -7, 7, 0};
        EXPECT_EQ(KestovaConvert(Path16("in").c_str(), Path16("out").c_str(), &options), c.result);
        EXPECT_EQ(options.reason, c.reason) << KestovaReasonText(options.reason);
        EXPECT_EQ(options.reasonValue, c.value);
        EXPECT_EQ(Names().size(), c.result == KESTOVATIFF_OK ? 2u : 1u);  // nothing written on failure
        std::remove(Path("out").c_str());
    }
    // The system's refusals carry its errno.
    WriteFile(Path("in"), bmp);
    KestovaOptions options = {sizeof options, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(KestovaConvert(Path16("missing").c_str(), Path16("out").c_str(), &options), KESTOVATIFF_ERROR_SOURCE);
    EXPECT_EQ(options.reason, KESTOVA_REASON_SOURCE_UNREADABLE);
    EXPECT_EQ(options.reasonValue, uint64_t{ENOENT});
    EXPECT_EQ(KestovaConvert(Path16("in").c_str(), Path16("no/out").c_str(), &options),
              KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(options.reason, KESTOVA_REASON_DESTINATION);
    EXPECT_EQ(options.reasonValue, uint64_t{ENOENT});
    EXPECT_EQ(KestovaConvert(nullptr, Path16("out").c_str(), &options), KESTOVATIFF_ERROR_ARGUMENT);
    EXPECT_EQ(options.reason, KESTOVA_REASON_SOURCE_PATH);
    const char16_t lone[] = {u'x', 0xD800, 0};
    EXPECT_EQ(KestovaConvert(Path16("in").c_str(), lone, &options), KESTOVATIFF_ERROR_ARGUMENT);
    EXPECT_EQ(options.reason, KESTOVA_REASON_DESTINATION_PATH);
}

// Partly transparent TIFF pixels composited over the background against
// the formula, channel by channel: colour c and alpha a as fractions of
// their largest values give 255 (a c) + (1 - a) bg, or with associated
// alpha (c already multiplied) 255 c + (1 - a) bg, rounded to nearest.
// Without the flag the same files are refused.
TEST_F(PaddedBmpTest, FlattenedTransparencyFollowsTheFormula)
{
    const uint8_t background[3] = {0xCC, 0x66, 0x33};  // blue, green, red of 0x3366CC
    const struct {
        const char* what;
        uint32_t photometric, bits, extra;
        bool planar;
    } cases[] = {
        {"RGBA", 2, 8, 2, false},           {"RGBA associated", 2, 8, 1, false}, {"RGBA 4-bit", 2, 4, 2, false},
        {"RGBA 2-bit associated", 2, 2, 1, false}, {"RGBA in planes", 2, 8, 2, true},
        {"RGBA associated in planes", 2, 8, 1, true}, {"grey", 1, 8, 2, false},
        {"grey 4-bit associated", 1, 4, 1, false}, {"grey 1-bit", 1, 1, 2, false},
        {"white at zero, 2-bit", 0, 2, 2, false}, {"palette", 3, 8, 2, false},
        {"palette 4-bit associated", 3, 4, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t most = (1u << c.bits) - 1;
        const uint32_t channels = c.photometric == 2 ? 3 : 1;
        std::vector<uint32_t> alphas = {0, 1, most / 2, most / 2 + 1, most - 1, most};
        if (c.bits == 8) {
            alphas = {0, 1, 127, 128, 254, 255};
        }
        // Each alpha with three colours; the colour's 8-bit value per channel.
        std::vector<uint32_t> samples;
        std::vector<double> colour;  // a fraction of its largest value, blue, green, red
        std::vector<double> alpha;
        std::vector<uint32_t> map(3 * (most + 1));
        for (uint32_t i = 0; i <= most; ++i) {
            map[i] = (i * 53 & 255) * 257;
            map[most + 1 + i] = ((i * 101 + 7) & 255) * 257;
            map[2 * (most + 1) + i] = (255 - (i * 53 & 255)) * 257;
        }
        for (const uint32_t a : alphas) {
            for (uint32_t k = 0; k < 3; ++k) {
                uint32_t v[3];
                for (uint32_t ch = 0; ch < channels; ++ch) {
                    v[ch] = ((k * 37 + ch * 91 + a * 5 + 3) % (most + 1));
                    if (c.extra == 1 && c.photometric != 3) {
                        v[ch] = v[ch] * a / most;  // premultiplied
                    }
                    samples.push_back(v[ch]);
                }
                samples.push_back(a);
                for (uint32_t ch = 0; ch < 3; ++ch) {
                    if (c.photometric == 3) {
                        colour.push_back(map[(2 - ch) * (most + 1) + v[0]] / 257 / 255.0);
                    } else {
                        const uint32_t level = channels == 3 ? v[2 - ch] : v[0];
                        colour.push_back((c.photometric == 0 ? most - level : level) / double(most));
                    }
                }
                alpha.push_back(a / double(most));
            }
        }
        const auto pixels = static_cast<uint32_t>(alpha.size());
        TiffForm form;
        form.changes = {{258, 3, {c.bits}}, {262, 3, {c.photometric}}, {277, 3, {channels + 1}}, {338, 3, {c.extra}}};
        if (c.photometric == 3) {
            form.changes.push_back({320, 3, map});
        }
        form.planar = c.planar;
        if (c.planar) {
            form.chunks.assign(4, Bytes(pixels));
            for (size_t i = 0; i < samples.size(); ++i) {
                form.chunks[i % 4][i / 4] = static_cast<uint8_t>(samples[i]);
            }
        } else {
            Bytes row((samples.size() * c.bits + 7) / 8);
            for (size_t i = 0; i < samples.size(); ++i) {
                row[i * c.bits / 8] |= static_cast<uint8_t>(samples[i] << (8 - c.bits - i * c.bits % 8));
            }
            form.chunks = {row};
        }
        WriteFile(Path("in.tif"), TiffFile(Picture{pixels, 1, {}}, form));
        KestovaOptions options = {sizeof options, 0, 0, 0x3366CC, 0, 0, 0};
        EXPECT_EQ(KestovaConvert(Path16("in.tif").c_str(), Path16("out.bmp").c_str(), &options),
                  KESTOVATIFF_ERROR_FORMAT);
        EXPECT_EQ(options.reason, KESTOVA_REASON_TRANSPARENCY);
        EXPECT_EQ(Names().size(), 1u);
        options.flags = KESTOVA_FLAG_FLATTEN;
        ASSERT_EQ(KestovaConvert(Path16("in.tif").c_str(), Path16("out.bmp").c_str(), &options), KESTOVATIFF_OK);
        const Bytes bmp = ReadFile(Path("out.bmp"));
        const size_t at = bmp[10] | bmp[11] << 8;
        ASSERT_EQ(bmp.size(), at + 3 * pixels);
        for (size_t i = 0; i < 3 * pixels; ++i) {
            const double a = alpha[i / 3];
            const double over = c.extra == 1 ? 255 * colour[i] : 255 * a * colour[i];
            const double expected = std::min(255.0, std::floor(over + (1 - a) * background[i % 3] + 0.5));
            EXPECT_EQ(bmp[at + i], expected) << "pixel " << i / 3 << ", byte " << i % 3;
        }
        std::remove(Path("out.bmp").c_str());
    }
}

// BMP alpha (a BITMAPV3 header's mask) flattened by the same rule, straight
// alpha as BMPs store it; refused without the flag. Alpha all zero is a
// writer's "no alpha": the colours as they are, with the flag or without.
TEST_F(PaddedBmpTest, FlattenedBmpAlphaFollowsTheFormula)
{
    const uint8_t background[3] = {0x33, 0x66, 0xCC};  // red, green, blue of 0x3366CC
    const struct {
        const char* what;
        uint16_t bits;
        uint32_t masks[4];  // red, green, blue, alpha
        bool allClear;
    } cases[] = {
        {"32-bit, 8 bits a channel", 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, false},
        {"32-bit, alpha lowest", 32, {0xFF000000u, 0xFF0000, 0xFF00, 0xFF}, false},
        {"16-bit, 4-4-4-4", 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, false},
        {"16-bit, 5-5-5-1", 16, {0x7C00, 0x03E0, 0x001F, 0x8000}, false},
        {"32-bit, alpha all zero", 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, true},
        {"32-bit, 8-8-4 and 12-bit alpha", 32, {0xFF, 0xFF00, 0xF0000, 0xFFF00000u}, false},
        {"16-bit, 2-2-2 and 10-bit alpha", 16, {0xC000, 0x3000, 0x0C00, 0x03FF}, false},
        {"32-bit, 10-10-10-2", 32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u}, false},
        {"16-bit, 10-2-2-2", 16, {0xFFC0, 0x0030, 0x000C, 0x0003}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t most[4];
        unsigned shift[4];
        for (int i = 0; i < 4; ++i) {
            shift[i] = static_cast<unsigned>(__builtin_ctz(c.masks[i]));
            most[i] = c.masks[i] >> shift[i];
        }
        const uint32_t alphas[] = {0, 1, most[3] / 2, most[3] / 2 + 1, most[3] - 1, most[3]};
        Bytes pixels;
        std::vector<uint32_t> values;  // red, green, blue, alpha of each pixel
        for (const uint32_t a : alphas) {
            for (uint32_t k = 0; k < 3; ++k) {
                uint32_t v = 0;
                for (uint32_t ch = 0; ch < 4; ++ch) {
                    const uint32_t value = ch == 3 ? (c.allClear ? 0 : a) : (k * 37 + ch * 91 + a * 5 + 3) % (most[ch] + 1);
                    values.push_back(value);
                    v |= value << shift[ch];
                }
                PutLe(pixels, v, c.bits / 8);
            }
        }
        const auto width = static_cast<uint32_t>(values.size() / 4);
        Bytes bmp = {'B', 'M'};
        for (const uint32_t field : {70u + static_cast<uint32_t>(pixels.size()), 0u, 70u, 56u, width, 1u}) {
            PutLe(bmp, field, 4);
        }
        PutLe(bmp, 1, 2);
        PutLe(bmp, c.bits, 2);
        for (const uint32_t field : {3u, static_cast<uint32_t>(pixels.size()), 0u, 0u, 0u, 0u, c.masks[0], c.masks[1],
                                     c.masks[2], c.masks[3]}) {
            PutLe(bmp, field, 4);
        }
        bmp.insert(bmp.end(), pixels.begin(), pixels.end());
        WriteFile(Path("in.bmp"), bmp);
        // Channels wider than 8 bits are read with KESTOVA_FLAG_REDUCE;
        // alpha so wide is reduced to 8 bits as the colours are before it
        // is judged.
        const uint32_t reduce = *std::max_element(most, most + 4) > 255 ? KESTOVA_FLAG_REDUCE : 0;
        KestovaOptions options = {sizeof options, reduce, 0, 0x3366CC, 0, 0, 0};
        const int32_t refused = KestovaConvert(Path16("in.bmp").c_str(), Path16("out.tif").c_str(), &options);
        if (!c.allClear) {
            EXPECT_EQ(refused, KESTOVATIFF_ERROR_FORMAT);
            EXPECT_EQ(options.reason, KESTOVA_REASON_TRANSPARENCY);
        }
        std::remove(Path("out.tif").c_str());
        options.flags = reduce | KESTOVA_FLAG_FLATTEN;
        ASSERT_EQ(KestovaConvert(Path16("in.bmp").c_str(), Path16("out.tif").c_str(), &options), KESTOVATIFF_OK);
        const Bytes tiff = ReadFile(Path("out.tif"));
        ASSERT_GE(tiff.size(), 8 + 3 * size_t{width});
        for (size_t i = 0; i < 3 * size_t{width}; ++i) {
            const size_t ch = i % 3;
            double a = c.allClear ? 1 : values[i / 3 * 4 + 3] / double(most[3]);
            a = most[3] > 255 ? std::floor(a * 255 + 0.5) / 255 : a;
            const double colour = 255 * (values[i / 3 * 4 + ch] / double(most[ch]));
            EXPECT_EQ(tiff[8 + i], std::floor(a * colour + (1 - a) * background[ch] + 0.5))
                << "pixel " << i / 3 << ", channel " << ch;
        }
        std::remove(Path("out.tif").c_str());
    }
}

}  // namespace
}  // namespace testing_files
