// Bmp2Tiff against TIFFs built from the layout's table.

#include <cstring>

#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

class Bmp2TiffTest : public ScratchDir {
protected:
    // Converts the BMP bytes and returns the TIFF's bytes.
    Bytes Convert(const Bytes& bmp)
    {
        WriteFile(Path("in.bmp"), bmp);
        EXPECT_EQ(Bmp2Tiff(Path16("in.bmp").c_str(), Path16("out.tif").c_str()), KESTOVATIFF_OK);
        return ReadFile(Path("out.tif"));
    }
};

TEST_F(Bmp2TiffTest, OnePixelGivesThe209ByteFile)
{
    // One pixel stored blue 33, green 22, red 11.
    Bytes bmp = BmpFile(MakePicture(1, 1));
    bmp[54] = 0x33;
    bmp[55] = 0x22;
    bmp[56] = 0x11;
    const Bytes tiff = Convert(bmp);
    ASSERT_EQ(tiff.size(), 209u);
    const Bytes head = {0x4D, 0x4D, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x0B, 0x11, 0x22, 0x33};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), tiff.begin()));
    Picture picture{1, 1, {0x11, 0x22, 0x33}};
    EXPECT_EQ(tiff, ExpectedTiff(picture));
}

TEST_F(Bmp2TiffTest, RowsComeTopFirstFromTheLastStoredRow)
{
    const Picture picture = MakePicture(4, 2);
    const Bytes bmp = BmpFile(picture);
    const Bytes tiff = Convert(bmp);
    ASSERT_EQ(tiff.size(), 230u);
    // The first 12 pixel bytes come from the second stored row (offset 66),
    // the next 12 from the first (offset 54), each pixel reversed.
    for (int i = 0; i < 4; ++i) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(tiff[8 + 3 * i + c], bmp[66 + 3 * i + 2 - c]);
            EXPECT_EQ(tiff[20 + 3 * i + c], bmp[54 + 3 * i + 2 - c]);
        }
    }
    EXPECT_EQ(tiff, ExpectedTiff(picture));
}

TEST_F(Bmp2TiffTest, EmptyPicturesKeepTheirDeclaredSides)
{
    // H = 0: 206 bytes, directory at 8. W = 0, H = 5: no pixel bytes, but
    // ImageLength and RowsPerStrip say 5.
    for (const auto& [width, height] : {std::pair{0u, 0u}, {7u, 0u}, {0u, 5u}}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const Picture picture{width, height, {}};
        const Bytes tiff = Convert(BmpFile(picture));
        EXPECT_EQ(tiff.size(), 206u);
        EXPECT_EQ(tiff, ExpectedTiff(picture));
    }
}

// Sizes around the old 2000-byte row buffer (666 pixels), around the
// library's 64 KiB read block, and the widest and tallest sides the TIFF
// can describe.
TEST_F(Bmp2TiffTest, EveryWidthAndHeightConvertsExactly)
{
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {2, 3},     {3, 2},      {5, 1},      {665, 2},   {666, 3},     {667, 2},  {700, 1},
        {21845, 2}, {21846, 2},  {21847, 3},  {30000, 5}, {65535, 2},   {1, 300},  {1, 65535},
        {7, 9000},  {2000, 40},  {4096, 17},
    };
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const Picture picture = MakePicture(width, height, width);
        EXPECT_EQ(Convert(BmpFile(picture)), ExpectedTiff(picture));
    }
}

TEST_F(Bmp2TiffTest, TopDownSourceGivesTheSameTiffAsBottomUp)
{
    for (const auto& [width, height] : {std::pair{1u, 1u}, {3u, 5u}, {700u, 4u}, {30000u, 3u}}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const Picture picture = MakePicture(width, height, 9);
        BmpForm form;
        form.topDown = true;
        EXPECT_EQ(Convert(BmpFile(picture, form)), ExpectedTiff(picture));
    }
}

TEST_F(Bmp2TiffTest, FieldsTheConversionDoesNotUseAreIgnored)
{
    const Picture picture = MakePicture(3, 2);
    BmpForm padded;  // the library's own unpadded rows are read only from files of exactly their length
    padded.padRows = true;
    Bytes bmp = BmpFile(picture, padded);
    std::memset(bmp.data() + 2, 0xEE, 8);   // bfSize, reserved
    std::memset(bmp.data() + 34, 0xEE, 20); // biSizeImage .. biClrImportant
    bmp.push_back(0x99);                    // trailing bytes
    EXPECT_EQ(Convert(bmp), ExpectedTiff(picture));
}

}  // namespace
}  // namespace testing_files
