// Tiff2Bmp on the library's TIFF layout, and what it refuses.

#include <cerrno>

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
