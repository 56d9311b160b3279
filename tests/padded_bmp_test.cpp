// BMPs with rows padded to 4 bytes, from every form of TIFF the library
// reads: every writer (rows copied as stored, planes interleaved, chunks
// decoded and placed) must give each row its padding, at its place.

#include <gtest/gtest.h>

#include "test_files.h"
#include "tiff_to_bmp.h"

namespace testing_files {
namespace {

using kestova::BmpRows;

class PaddedBmpTest : public ScratchDir {
protected:
    int32_t Convert(const Bytes& tiff, BmpRows rows)
    {
        WriteFile(Path("in.tif"), tiff);
        return static_cast<int32_t>(
            kestova::ConvertTiffToBmp(Path16("in.tif").c_str(), Path16("out.bmp").c_str(), rows));
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

}  // namespace
}  // namespace testing_files
