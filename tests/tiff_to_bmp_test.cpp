// Tiff2Bmp on the library's TIFF layout, and what it refuses.

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

class Tiff2BmpTest : public ScratchDir {
protected:
    int32_t Convert(const Bytes& tiff)
    {
        WriteFile(Path("in.tif"), tiff);
        return Tiff2Bmp(Path16("in.tif").c_str(), Path16("out.bmp").c_str());
    }
};

TEST_F(Tiff2BmpTest, OnePixelGivesThe57ByteBmp)
{
    ASSERT_EQ(Convert(ExpectedTiff({1, 1, {0x11, 0x22, 0x33}})), KESTOVATIFF_OK);
    const Bytes bmp = ReadFile(Path("out.bmp"));
    ASSERT_EQ(bmp.size(), 57u);
    EXPECT_EQ(bmp[2], 57);   // bfSize
    EXPECT_EQ(bmp[18], 1);   // biWidth
    EXPECT_EQ(bmp[22], 1);   // biHeight
    EXPECT_EQ(bmp[34], 3);   // biSizeImage
    EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{0x33, 0x22, 0x11}));
}

TEST_F(Tiff2BmpTest, BottomRowIsStoredFirst)
{
    const Picture picture = MakePicture(4, 2);
    const Bytes tiff = ExpectedTiff(picture);
    ASSERT_EQ(Convert(tiff), KESTOVATIFF_OK);
    const Bytes bmp = ReadFile(Path("out.bmp"));
    ASSERT_EQ(bmp.size(), 54u + 24u);
    // The first BMP row comes from source offset 20, the second from 8.
    for (int i = 0; i < 12; ++i) {
        const int pixel = i / 3 * 3;
        const int channel = 2 - i % 3;
        EXPECT_EQ(bmp[54 + i], tiff[20 + pixel + channel]);
        EXPECT_EQ(bmp[66 + i], tiff[8 + pixel + channel]);
    }
}

TEST_F(Tiff2BmpTest, SizesGiveTheLibrarysBmpLayout)
{
    const std::pair<uint32_t, uint32_t> sizes[] = {{0, 0}, {5, 0}, {0, 5}, {1, 1},  {666, 2},
                                                   {667, 3}, {30000, 3}, {65535, 1}, {3, 20000}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const Picture picture = MakePicture(width, height, height);
        ASSERT_EQ(Convert(ExpectedTiff(picture)), KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(picture));
    }
}

// Damage to the library's own layout; each must be refused before the
// destination is touched.
TEST_F(Tiff2BmpTest, DamagedFilesAreRefused)
{
    const Bytes good = ExpectedTiff(MakePicture(3, 2));  // 18 pixel bytes
    const size_t dir = 8 + 18;
    auto damaged = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    auto bigHeader = [](uint32_t width, uint32_t height) {
        Bytes b = ExpectedTiff({0, 0, {}});
        b[8 + 10] = static_cast<uint8_t>(width >> 8);
        b[8 + 11] = static_cast<uint8_t>(width);
        b[8 + 22] = static_cast<uint8_t>(height >> 8);
        b[8 + 23] = static_cast<uint8_t>(height);
        return b;
    };
    struct Case {
        const char* name;
        Bytes file;
        int32_t expected;
    };
    const Case cases[] = {
        {"empty", {}, KESTOVATIFF_ERROR_FORMAT},
        {"205 bytes", Bytes(good.begin(), good.begin() + 205), KESTOVATIFF_ERROR_FORMAT},
        {"a BMP", BmpFile(MakePicture(3, 2)), KESTOVATIFF_ERROR_FORMAT},
        {"not MM", damaged(0, {'X', 'X'}), KESTOVATIFF_ERROR_FORMAT},
        {"version 43", damaged(3, {43}), KESTOVATIFF_ERROR_FORMAT},
        {"directory past the end", damaged(4, {0, 1}), KESTOVATIFF_ERROR_FORMAT},
        {"no entries", damaged(dir, {0, 0}), KESTOVATIFF_ERROR_FORMAT},
        {"entries past the end", damaged(dir, {0, 17}), KESTOVATIFF_ERROR_FORMAT},
        {"rows wider than the strip", damaged(dir + 10, {0, 4}), KESTOVATIFF_ERROR_FORMAT},
        {"strip past the end", damaged(dir + 2 + 5 * 12 + 8, {0, 0, 0, 0xD0}), KESTOVATIFF_ERROR_FORMAT},
        {"cut short", Bytes(good.begin(), good.end() - 1), KESTOVATIFF_ERROR_FORMAT},
        // A BMP of 65535 x 65535 would pass 4 GiB: refused from the header.
        {"65535x65535 claimed", bigHeader(65535, 65535), KESTOVATIFF_ERROR_TOO_LARGE},
        {"65535x21846 claimed", bigHeader(65535, 21846), KESTOVATIFF_ERROR_TOO_LARGE},
        {"65535x21845 claimed", bigHeader(65535, 21845), KESTOVATIFF_ERROR_FORMAT},
    };
    const Bytes precious = {'k', 'e', 'e', 'p'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("out.bmp"), precious);
        EXPECT_EQ(Convert(c.file), c.expected);
        EXPECT_EQ(ReadFile(Path("out.bmp")), precious);
        EXPECT_EQ(Names(), (std::vector<std::string>{"in.tif", "out.bmp"}));
    }
}

#if KESTOVATIFF_WITH_JPEG
// JPEG streams libjpeg finds damaged (its warnings too: it would fill the
// rest with grey), or that disagree with the TIFF, are refused with nothing
// written; the errors met in the middle of a strip leave nothing behind
// (the sanitizers' leak check).
TEST_F(Tiff2BmpTest, DamagedJpegIsRefused)
{
    using tiff_encoders::JpegOptions;
    const Picture picture = MakePicture(37, 23, 5);
    JpegOptions abbreviated;
    abbreviated.abbreviated = true;
    // Strips of 8 rows (the last 7), each coded as `options` say, of
    // `rows[i]` rows and `width` wide where given.
    auto strips = [&](JpegOptions options, uint32_t width = 37, std::vector<uint32_t> rows = {8, 8, 7}) {
        std::vector<Bytes> streams;
        for (size_t i = 0; i < rows.size(); ++i) {
            streams.push_back(tiff_encoders::Jpeg(&picture.rgb[i * 8 * 37 * 3], width, rows[i], options));
        }
        return streams;
    };
    auto file = [&](std::vector<Bytes> chunks, std::vector<TiffEntry> changes = {}, JpegOptions options = {}) {
        TiffForm form;
        form.compression = 7;
        form.rowsPerStrip = 8;
        form.jpeg = options;
        form.chunks = std::move(chunks);
        form.changes = std::move(changes);
        return TiffFile(picture, form);
    };
    auto patched = [](std::vector<Bytes> chunks, size_t chunk, size_t at, Bytes bytes) {
        std::copy(bytes.begin(), bytes.end(), chunks[chunk].begin() + static_cast<std::ptrdiff_t>(at));
        return chunks;
    };
    std::vector<Bytes> good = strips(abbreviated);
    const size_t middle = good[1].size() / 2;
    std::vector<Bytes> cut = good;
    cut[1].resize(middle);
    // Where the frame header's precision byte lies: after FF C0 and its length.
    std::vector<Bytes> whole = strips({});
    const uint8_t frameMarker[] = {0xFF, 0xC0};
    const auto sof = static_cast<size_t>(
        std::search(whole[1].begin(), whole[1].end(), std::begin(frameMarker), std::end(frameMarker)) -
        whole[1].begin());
    JpegOptions progressive;
    progressive.progressive = true;
    JpegOptions componentScans;
    componentScans.componentScans = true;
    JpegOptions grey = abbreviated;
    grey.components = 1;
    const Bytes badCode = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00};
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"a strip cut short", file(cut, {}, abbreviated)},
        {"an end of image amid a strip", file(patched(good, 1, middle, {0xFF, 0xD9}), {}, abbreviated)},
        // Ones (FF stuffed with 00) make a code no table has: a warning.
        {"a bad Huffman code amid a strip", file(patched(good, 1, middle, badCode), {}, abbreviated)},

        {"a restart marker amid a strip", file(patched(good, 1, middle, {0xFF, 0xD3}), {}, abbreviated)},
        {"no tables", file(good, {{347, 7, {}}}, abbreviated)},
        {"tables cut short", file(good, {{347, 7, {0xFF, 0xD8, 0xFF, 0xDB, 0, 0x43}}}, abbreviated)},
        {"12-bit samples", file(patched(whole, 1, sof + 4, {12}))},
        {"progressive", file(strips(progressive), {}, progressive)},
        {"a scan a component", file(strips(componentScans), {}, componentScans)},
        {"a frame narrower than the strip", file(strips(abbreviated, 36), {}, abbreviated)},
        {"a frame shorter than the strip", file(strips(abbreviated, 37, {8, 7, 7}), {}, abbreviated)},
        {"a frame taller than the strip", file(strips(abbreviated, 37, {9, 8, 7}), {}, abbreviated)},
        {"a last frame shorter than the strip", file(strips(abbreviated, 37, {8, 8, 6}), {}, abbreviated)},
        {"colour streams called grey", file(good, {{258, 3, {8}}, {262, 3, {1}}, {277, 3, {1}}}, abbreviated)},
        {"grey streams called YCbCr", file(strips(grey), {{258, 3, {8, 8, 8}}, {262, 3, {6}}, {277, 3, {3}}}, grey)},
        {"one plane a sample", file(good, {{284, 3, {2}}}, abbreviated)},
        {"old-style JPEG", file(good, {{259, 3, {6}}}, abbreviated)},
        {"WhiteIsZero", file(strips(grey), {{262, 3, {0}}}, grey)},
    };
    ASSERT_EQ(Convert(file(good, {}, abbreviated)), KESTOVATIFF_OK);  // undamaged, they convert
    const Bytes precious = {'k', 'e', 'e', 'p'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("out.bmp"), precious);
        EXPECT_EQ(Convert(c.file), KESTOVATIFF_ERROR_FORMAT);
        EXPECT_EQ(ReadFile(Path("out.bmp")), precious);
        EXPECT_EQ(Names(), (std::vector<std::string>{"in.tif", "out.bmp"}));
    }
    // Tables padded with comments to 3 MB, read again before each of 23
    // one-row strips: past the 64 MiB they may cost together.
    const Bytes tables = tiff_encoders::JpegTables(abbreviated);
    Bytes padded(tables.begin(), tables.begin() + 2);  // SOI
    for (int i = 0; i < 48; ++i) {
        padded.insert(padded.end(), {0xFF, 0xFE, 0xFF, 0xFF});  // COM, 65533 bytes
        padded.resize(padded.size() + 65533);
    }
    padded.insert(padded.end(), tables.begin() + 2, tables.end());
    TiffForm rows;
    rows.compression = 7;
    rows.rowsPerStrip = 1;
    rows.jpeg = abbreviated;
    ASSERT_EQ(Convert(TiffFile(picture, rows)), KESTOVATIFF_OK);
    rows.changes = {{347, 7, std::vector<uint32_t>(padded.begin(), padded.end())}};
    WriteFile(Path("out.bmp"), precious);
    EXPECT_EQ(Convert(TiffFile(picture, rows)), KESTOVATIFF_ERROR_FORMAT);
    EXPECT_EQ(ReadFile(Path("out.bmp")), precious);
}
#endif

TEST_F(Tiff2BmpTest, BadPathsAreRefused)
{
    WriteFile(Path("in.tif"), ExpectedTiff(MakePicture(2, 2)));
    EXPECT_EQ(Tiff2Bmp(nullptr, Path16("out.bmp").c_str()), KESTOVATIFF_ERROR_ARGUMENT);
    EXPECT_EQ(Tiff2Bmp(Path16("in.tif").c_str(), nullptr), KESTOVATIFF_ERROR_ARGUMENT);
    errno = 0;
    EXPECT_EQ(Tiff2Bmp(Path16("none.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_ERROR_SOURCE);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(Tiff2Bmp(Path16("in.tif").c_str(), Path16("no/dir.bmp").c_str()),
              KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Names(), std::vector<std::string>{"in.tif"});
}

}  // namespace
}  // namespace testing_files
