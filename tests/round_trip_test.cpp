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

// Names that are not UTF-8 (Latin-1 here), given with each such byte as
// the lone surrogate U+DC80..U+DCFF: both directions reach the files whose
// names have those bytes.
TEST_F(RoundTripTest, NamesThatAreNotUtf8ReachTheirFiles)
{
    const Picture picture = MakePicture(5, 2);
    WriteFile(Path("caf\xE9.bmp"), BmpFile(picture));
    const std::u16string bmp = Path16("") + u"caf\xDCE9.bmp";
    const std::u16string tiff = Path16("") + u"\xDCFC" u"ber.tif";
    const std::u16string back = Path16("") + u"r\xDCE9sum\xDCE9.bmp";
    ASSERT_EQ(Bmp2Tiff(bmp.c_str(), tiff.c_str()), KESTOVATIFF_OK);
    ASSERT_EQ(Tiff2Bmp(tiff.c_str(), back.c_str()), KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("\xFC" "ber.tif")), ExpectedTiff(picture));
    EXPECT_EQ(ReadFile(Path("r\xE9sum\xE9.bmp")), BmpFile(picture));
    EXPECT_EQ(Names(), (std::vector<std::string>{"caf\xE9.bmp", "r\xE9sum\xE9.bmp", "\xFC" "ber.tif"}));
}

}  // namespace
}  // namespace testing_files
