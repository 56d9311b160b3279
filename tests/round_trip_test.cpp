// The headline property: BMP -> TIFF -> BMP -> TIFF reproduces both files
// byte for byte, over a sample of the whole size range.

#include <set>

#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

class RoundTripTest : public ScratchDir {
protected:
    void ExpectRoundTrip(uint32_t width, uint32_t height)
    {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const Picture picture = MakePicture(width, height, width ^ height);
        const Bytes bmp = BmpFile(picture);
        WriteFile(Path("a.bmp"), bmp);
        ASSERT_EQ(Bmp2Tiff(Path16("a.bmp").c_str(), Path16("a.tif").c_str()), KESTOVATIFF_OK);
        ASSERT_EQ(Tiff2Bmp(Path16("a.tif").c_str(), Path16("b.bmp").c_str()), KESTOVATIFF_OK);
        ASSERT_EQ(Bmp2Tiff(Path16("b.bmp").c_str(), Path16("b.tif").c_str()), KESTOVATIFF_OK);
        const Bytes tiff = ReadFile(Path("a.tif"));
        EXPECT_EQ(tiff, ExpectedTiff(picture));
        EXPECT_EQ(ReadFile(Path("b.bmp")), bmp);
        EXPECT_EQ(ReadFile(Path("b.tif")), tiff);
    }
};

TEST_F(RoundTripTest, EveryWidthUpTo700)
{
    for (uint32_t width = 0; width <= 700; ++width) {
        ExpectRoundTrip(width, width % 4);  // heights 0 to 3
    }
}

TEST_F(RoundTripTest, PowersOfTwoAndTheirNeighboursOnEitherSide)
{
    std::set<uint32_t> sides = {65535};
    for (uint32_t power = 1; power <= 65536; power *= 2) {
        for (uint32_t side : {power - 1, power, power + 1}) {
            if (side <= 65535) {
                sides.insert(side);
            }
        }
    }
    for (uint32_t side : sides) {
        for (uint32_t other : {1u, 2u, 3u}) {
            ExpectRoundTrip(side, other);
            ExpectRoundTrip(other, side);
        }
    }
}

}  // namespace
}  // namespace testing_files
