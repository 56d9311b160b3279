// BMP and TIFF files as other software writes them: the forms read convert
// to the right picture, the forms not read are refused with -3.

#include <cstdio>
#include <ctime>
#include <string>

#include "kestovatiff.h"
#include "test_files.h"
#include "tiff_encoders.h"

namespace testing_files {
namespace {

class ForeignFilesTest : public ScratchDir {
protected:
    int32_t BmpToTiff(const Bytes& bmp)
    {
        WriteFile(Path("in.bmp"), bmp);
        return Bmp2Tiff(Path16("in.bmp").c_str(), Path16("out.tif").c_str());
    }
    int32_t TiffToBmp(const Bytes& tiff)
    {
        WriteFile(Path("in.tif"), tiff);
        return Tiff2Bmp(Path16("in.tif").c_str(), Path16("out.bmp").c_str());
    }
};

TEST_F(ForeignFilesTest, BmpVariantsConvertToTheSameTiff)
{
    // Widths whose rows need 0, 1, 2 and 3 bytes of padding.
    for (uint32_t width : {4u, 1u, 2u, 3u, 5u, 667u}) {
        for (uint32_t infoSize : {16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
            for (int variant = infoSize == 40 ? 0 : 1; variant < 6; ++variant) {  // 0: the library's own rows
                BmpForm form;
                form.infoSize = infoSize;
                form.padRows = variant != 0;
                form.padLastRow = variant != 2;
                form.topDown = variant == 3 || variant == 5;
                form.gap = variant >= 4 ? 1024 : 0;  // e.g. a palette nobody uses
                SCOPED_TRACE(testing::Message() << width << " wide, header " << infoSize << ", variant "
                                                << variant);
                const Picture picture = MakePicture(width, 3, variant);
                ASSERT_EQ(BmpToTiff(BmpFile(picture, form)), KESTOVATIFF_OK);
                EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(picture));
            }
        }
    }
}

TEST_F(ForeignFilesTest, BmpPixelOffsetMustLieAfterTheHeadersAndInTheFile)
{
    const Picture picture = MakePicture(3, 2);
    for (uint32_t bfOffBits : {0u, 53u, 100000u}) {
        Bytes bmp = BmpFile(picture);
        for (int i = 0; i < 4; ++i) {
            bmp[10 + static_cast<size_t>(i)] = static_cast<uint8_t>(bfOffBits >> (8 * i));
        }
        EXPECT_EQ(BmpToTiff(bmp), KESTOVATIFF_ERROR_FORMAT) << bfOffBits;
    }
    // The 64-byte header of the other old variant reads as the 40-byte one,
    // but its compressions 3 (Huffman) and 4 (RLE24) are not read.
    BmpForm form;
    form.infoSize = 64;
    for (uint32_t compression : {3u, 4u}) {
        Bytes bmp = BmpFile(picture, form);
        bmp[30] = static_cast<uint8_t>(compression);
        EXPECT_EQ(BmpToTiff(bmp), KESTOVATIFF_ERROR_FORMAT) << compression;
        EXPECT_FALSE(FileExists(Path("out.tif")));
    }
}

TEST_F(ForeignFilesTest, TiffForms)
{
    const TiffEntry kResolution = {282, 5, {72, 1}};     // XResolution, RATIONAL
    const TiffEntry kSoftware = {305, 2, {'p', 'e', 'e', 'r', 0}};  // ASCII
    for (const auto& [width, height] : {std::pair{5u, 7u}, {1u, 1u}, {70000u, 2u}}) {
        for (bool little : {false, true}) {
            for (uint32_t rowsPerStrip : {0u, 1u, 2u, 3u, 7u, 100u}) {
                for (int variant = 0; variant < 3; ++variant) {
                    TiffForm form;
                    form.littleEndian = little;
                    form.rowsPerStrip = rowsPerStrip;
                    form.shortStripFields = variant == 1 && width < 1000;
                    form.stripByteCounts = variant != 2;
                    form.changes = {kResolution, kSoftware, {274, 3, {1}}};
                    if (variant == 2 && width < 65536) {
                        form.changes.push_back({256, 3, {width}});   // sides as SHORT
                        form.changes.push_back({339, 3, {1, 1, 1}});  // SampleFormat
                        form.changes.push_back({259, 3, {}});         // Compression absent
                    }
                    SCOPED_TRACE(testing::Message() << width << "x" << height << (little ? " II" : " MM")
                                                    << " rows/strip " << rowsPerStrip << " variant " << variant);
                    const Picture picture = MakePicture(width, height, rowsPerStrip);
                    ASSERT_EQ(TiffToBmp(TiffFile(picture, form)), KESTOVATIFF_OK);
                    EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(picture));
                }
            }
        }
    }
}

// Pixels 3 GiB into a (sparse) file: read at offsets that need 64 bits on
// 32-bit targets, where size_t and long are 32 bits.
TEST_F(ForeignFilesTest, PixelsPast2GiBAreFound)
{
    constexpr uint32_t kFar = 0xC0000000u;
    const Picture picture = MakePicture(1, 2, 5);
    auto placeFar = [&](const std::string& path, Bytes head, const Bytes& pixels) {
        WriteFile(path, head);
        std::FILE* stream = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(fseeko(stream, off_t{kFar}, SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(pixels.data(), 1, pixels.size(), stream), pixels.size());
        ASSERT_EQ(std::fclose(stream), 0);
    };

    BmpForm padded;  // rows 3*W apart only where the file ends with them
    padded.padRows = true;
    Bytes bmp = BmpFile(picture, padded);
    const Bytes bmpPixels(bmp.begin() + 54, bmp.end());
    bmp.resize(54);
    for (int i = 0; i < 4; ++i) {
        bmp[10 + static_cast<size_t>(i)] = static_cast<uint8_t>(kFar >> (8 * i));  // bfOffBits
    }
    placeFar(Path("far.bmp"), bmp, bmpPixels);
    ASSERT_EQ(Bmp2Tiff(Path16("far.bmp").c_str(), Path16("out.tif").c_str()), KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(picture));

    TiffForm form;
    form.changes = {{273, 4, {kFar}}};
    Bytes tiff = TiffFile(picture, form);  // its own strip stays, unused
    placeFar(Path("far.tif"), tiff, picture.rgb);
    ASSERT_EQ(Tiff2Bmp(Path16("far.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(picture));
}

// Every coding, plane layout and chunk shape, turned each of four ways; the
// sides fill neither a tile nor the last strip.
TEST_F(ForeignFilesTest, CodedTiledPlanarAndTurnedTiffs)
{
    const Picture picture = MakePicture(37, 23, 9);
    for (const uint32_t compression : {1u, 5u, 8u, 32773u}) {
        for (const bool predictor : {false, true}) {
            for (const bool planar : {false, true}) {
                for (const uint32_t tileSide : {0u, 16u, 64u}) {  // 64: one tile, taller than the picture
                    for (uint32_t orientation = 1; orientation <= 4; ++orientation) {
                        TiffForm form;
                        form.compression = compression;
                        // Without LZW or Deflate the field is there but means
                        // nothing, as libtiff reads it: the samples are as stored.
                        form.predictor = predictor && (compression == 5 || compression == 8);
                        if (predictor && !form.predictor) {
                            form.changes.push_back({317, 3, {2}});
                        }
                        form.planar = planar;
                        form.tileSide = tileSide;
                        form.rowsPerStrip = orientation % 2 == 0 ? 5 : 0;
                        form.littleEndian = orientation <= 2;
                        form.changes.push_back({274, 3, {orientation}});
                        SCOPED_TRACE(testing::Message() << "compression " << compression << " predictor " << predictor
                                                        << " planar " << planar << " tiles " << tileSide
                                                        << " orientation " << orientation);
                        ASSERT_EQ(TiffToBmp(TiffFile(picture, form)), KESTOVATIFF_OK);
                        EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(Shown(picture, orientation)));
                    }
                }
            }
        }
    }
}

// Rows wider than the piece decoded at a time (2728 RGB pixels), mirrored
// or coded: each piece must be taken from its own start. Coded tiles too
// large to be gathered in a band go out a tile row at a time.
TEST_F(ForeignFilesTest, RowsWiderThanADecodedPiece)
{
    const Picture picture = MakePicture(2729, 4, 4);
    for (const uint32_t compression : {1u, 8u}) {
        for (const uint32_t tileSide : compression == 1 ? std::vector<uint32_t>{0} : std::vector<uint32_t>{0, 2048}) {
            const uint32_t orientation = compression == 1 || tileSide != 0 ? 2 : 1;
            SCOPED_TRACE(testing::Message() << "compression " << compression << " tiles " << tileSide);
            TiffForm form;
            form.compression = compression;
            form.tileSide = tileSide;
            form.changes = {{274, 3, {orientation}}};
            ASSERT_EQ(TiffToBmp(TiffFile(picture, form)), KESTOVATIFF_OK);
            EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(Shown(picture, orientation)));
        }
    }
}

TEST_F(ForeignFilesTest, TiffFormsNotReadAreRefused)
{
    struct Case {
        std::string name;
        std::vector<TiffEntry> changes;
        int32_t expected = KESTOVATIFF_ERROR_FORMAT;
    };
    std::vector<Case> cases = {
        {"16 bits per sample", {{258, 3, {16, 16, 16}}}},
        {"32 bits per sample", {{258, 3, {32, 32, 32}}}},
        {"16-bit grey", {{262, 3, {1}}, {277, 3, {1}}, {258, 3, {16}}}},
        {"3-bit grey", {{262, 3, {1}}, {277, 3, {1}}, {258, 3, {3}}}},
        {"palette without a ColorMap", {{262, 3, {3}}, {277, 3, {1}}, {258, 3, {8}}}},
        {"palette with a short ColorMap",
         {{262, 3, {3}}, {277, 3, {1}}, {258, 3, {2}}, {320, 3, std::vector<uint32_t>(11, 0x8000)}}},
        {"palette with a LONG ColorMap",
         {{262, 3, {3}}, {277, 3, {1}}, {258, 3, {1}}, {320, 4, {1, 2, 3, 4, 5, 6}}}},
        {"CMYK", {{262, 3, {5}}, {277, 3, {4}}, {258, 3, {8, 8, 8, 8}}}},
        {"two extra samples", {{277, 3, {5}}, {258, 3, {8, 8, 8, 8, 8}}, {338, 3, {2, 0}}}},
        {"an extra sample of a kind not defined", {{277, 3, {4}}, {258, 3, {8, 8, 8, 8}}, {338, 3, {3}}}},
        {"floating point", {{339, 3, {3, 3, 3}}}},
        {"signed samples", {{339, 3, {2, 2, 2}}}},
        // A predictor belongs to LZW and Deflate (without them it is ignored).
        {"floating-point predictor", {{259, 3, {5}}, {317, 3, {3}}}},
        {"predictor of 4-bit grey", {{259, 3, {8}}, {262, 3, {1}}, {277, 3, {1}}, {258, 3, {4}}, {317, 3, {2}}}},
        {"fill order 3", {{266, 3, {3}}}},
        {"planar configuration 3", {{284, 3, {3}}}},
        {"no width", {{256, 3, {}}}},
        {"no photometric interpretation", {{262, 3, {}}}},
        {"no strips", {{273, 4, {}}}},
        {"strip offsets missing one", {{273, 4, {8}}}},
        {"strip past the end", {{273, 4, {8, 8, 8, 99999}}}},
        {"strip byte count short", {{279, 4, {6, 6, 6, 5}}}},
        {"tiles without byte counts", {{322, 4, {16}}, {323, 4, {16}}, {324, 4, {8}}}},
        {"width as RATIONAL", {{256, 5, {5, 1}}}},
        {"bits per sample past the end", {{258, 3, {}}, {258, 3, {8, 8, 8, 8, 8, 8, 8, 8, 8, 8}}}},
        {"zero rows per strip", {{278, 4, {0}}}},
        // Every strip the same 6 bytes: 2 x 4000 pixels claimed from a file
        // far smaller than their 24000 bytes.
        {"strips overlapping to claim more than the file",
         {{257, 4, {4000}}, {273, 3, std::vector<uint32_t>(4000, 8)}, {279, 3, std::vector<uint32_t>(4000, 6)}}},
        {"BMP past 4 GiB", {{256, 4, {70000}}, {257, 4, {70000}}}, KESTOVATIFF_ERROR_TOO_LARGE},
        // RGBA: 2^33 bytes a tile row times 2^31 rows wraps to 0 in 64 bits.
        {"a tile of 2^31 x 2^31",
         {{277, 3, {4}}, {258, 3, {8, 8, 8, 8}}, {338, 3, {2}}, {322, 4, {0x80000000}}, {323, 4, {0x80000000}},
          {324, 4, {8}}, {325, 4, {32}}},
         KESTOVATIFF_ERROR_TOO_LARGE},
        {"width past 2^31", {{256, 4, {0x80000000}}, {257, 4, {0}}}, KESTOVATIFF_ERROR_TOO_LARGE},
    };
    // Fax codings (of RGB: they code bilevel pictures), JPEG old and new, and the codings of other tools.
    for (const uint32_t compression : {2u, 3u, 4u, 6u, 7u, 32771u, 32809u, 34676u, 34712u, 34925u, 50000u}) {
        cases.push_back({"compression " + std::to_string(compression), {{259, 3, {compression}}}});
    }
    // CIELab and the rest; a transparency mask.
    for (const uint32_t photometric : {4u, 8u, 9u, 10u, 32844u, 32845u}) {
        cases.push_back({"photometric " + std::to_string(photometric), {{262, 3, {photometric}}}});
    }
    // Orientations that do not exist.
    for (const uint32_t orientation : {0u, 9u}) {
        cases.push_back({"orientation " + std::to_string(orientation), {{274, 3, {orientation}}}});
    }
    const Picture picture = MakePicture(2, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffForm form;
        form.rowsPerStrip = 1;
        form.changes = c.changes;
        EXPECT_EQ(TiffToBmp(TiffFile(picture, form)), c.expected);
        EXPECT_EQ(Names(), std::vector<std::string>{"in.tif"});
        std::remove(Path("out.bmp").c_str());
    }
    // A classic header claiming to be BigTIFF.
    Bytes bigTiff = TiffFile(picture);
    bigTiff[3] = 43;
    EXPECT_EQ(TiffToBmp(bigTiff), KESTOVATIFF_ERROR_FORMAT);
}

// Files of at most 4 MB declaring at most 16 megapixels whose chunks would
// cost far more decoding than the picture: zeros in Deflate, which a stored
// byte makes 1032 of, in tiles far wider or taller than the picture or in
// a strip far longer than its rows. Each converts (to black) or is refused
// within 0.5 s of processor time (where the library runs at full speed;
// before the tiles' work was bounded by the picture, some took 2 to 14 s).
TEST_F(ForeignFilesTest, HostileFilesCostWorkBoundedByThePicture)
{
    enum Form { kGrey, kRgb, kPlanes };
    struct Case {
        const char* name;
        uint32_t width, height, tileWidth, tileLength;  // no tiles: one strip
        Form form;
        uint64_t tileBytes;  // each tile's zeros
        uint32_t tiles;
        int32_t expected;
    };
    const Case cases[] = {
        {"1 x 1 in a tile 2^31 wide", 1, 1, 1u << 31, 1, kGrey, 1ull << 31, 1, KESTOVATIFF_OK},
        {"1 x 1 in planes of tiles 2^30 wide", 1, 1, 1u << 30, 1, kPlanes, 1ull << 30, 3, KESTOVATIFF_OK},
        {"1 x 1 in a tile 2^31 tall", 1, 1, 1, 1u << 31, kGrey, 1ull << 31, 1, KESTOVATIFF_OK},
        {"one row over 128 tiles 2^20 tall", 2048, 1, 16, 1u << 20, kGrey, 1ull << 24, 128, KESTOVATIFF_OK},
        // Row 2 lies past 2^30 bytes of row 1, and 1000 rows past 2^20 a row.
        {"2 x 2 in a tile 2^30 wide", 2, 2, 1u << 30, 2, kGrey, 1ull << 31, 1, KESTOVATIFF_ERROR_FORMAT},
        {"1 x 1000 in tiles 2^20 wide", 1, 1000, 1u << 20, 16, kGrey, 1ull << 24, 63,
         KESTOVATIFF_ERROR_FORMAT},
        // A strip gives the picture's rows: what it holds past them is not even decoded.
        {"one row in a strip of 2^31 bytes", 1000, 1, 0, 0, kGrey, 1ull << 31, 1, KESTOVATIFF_OK},
        // 16 million rows of one byte: not a decoder's call each.
        {"1 x 2^24 in one strip", 1, 1u << 24, 0, 0, kGrey, 1ull << 24, 1, KESTOVATIFF_OK},
        {"2^24 x 1 in one strip", 1u << 24, 1, 0, 0, kGrey, 1ull << 24, 1, KESTOVATIFF_OK},
        // Tiles writers make: larger than a small picture, and as large
        // as it is allowed to cost, nearly twice the picture's 48 MB.
        {"10 x 10 in a tile 256 x 256", 10, 10, 256, 256, kRgb, 256ull * 256 * 3, 1, KESTOVATIFF_OK},
        {"4097 x 4095 in tiles 4096 x 4096", 4097, 4095, 4096, 4096, kRgb, 4096ull * 4096 * 3, 2,
         KESTOVATIFF_OK},
        // Small tiles: a write for each tile row would be a million.
        {"4096 x 4096 in tiles 16 x 16", 4096, 4096, 16, 16, kRgb, 16ull * 16 * 3, 65536, KESTOVATIFF_OK},
        {"16 x 2^20 in tiles 16 x 4096", 16, 1u << 20, 16, 4096, kRgb, 16ull * 4096 * 3, 256, KESTOVATIFF_OK},
        // Tiles wider than a narrow picture may waste a 512-pixel side a
        // row, up to 160 MiB in all: 144 MiB of them are fine, 192 not.
        {"1 x 2^20 in a tile 48 wide", 1, 1u << 20, 48, 1u << 20, kRgb, 48ull * 3 << 20, 1, KESTOVATIFF_OK},
        {"1 x 2^20 in a tile 64 wide", 1, 1u << 20, 64, 1u << 20, kRgb, 64ull * 3 << 20, 1,
         KESTOVATIFF_ERROR_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffForm form;
        form.compression = 8;
        form.planar = c.form == kPlanes;
        form.littleEndian = true;
        form.tileSide = c.tileWidth;
        if (c.tileWidth != 0) {
            form.changes = {{322, 4, {c.tileWidth}}, {323, 4, {c.tileLength}}};
        }
        if (c.form == kGrey) {
            form.changes.insert(form.changes.end(), {{258, 3, {8}}, {262, 3, {1}}, {277, 3, {1}}});
        }
        // zlib's own stream where the zeros are few: its header is shorter.
        const Bytes zeros(c.tileBytes < (1u << 20) ? c.tileBytes : 0);
        form.chunks.assign(c.tiles, zeros.empty() ? tiff_encoders::DeflateZeros(c.tileBytes)
                                                  : tiff_encoders::Deflate(zeros.data(), zeros.size(), 9));
        const Bytes file = TiffFile({c.width, c.height, {}}, form);
        ASSERT_LE(file.size(), 4u << 20);
        ASSERT_LE(uint64_t{c.width} * c.height, 16u << 20);
        const std::clock_t start = std::clock();
        EXPECT_EQ(TiffToBmp(file), c.expected);
        const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#if KESTOVATIFF_FULL_SPEED
        EXPECT_LT(seconds, 0.5);
#endif
        if (c.expected == KESTOVATIFF_OK) {
            EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile({c.width, c.height, Bytes(3ull * c.width * c.height, 0)}));
            EXPECT_EQ(std::remove(Path("out.bmp").c_str()), 0);
        }
        EXPECT_EQ(Names(), std::vector<std::string>{"in.tif"}) << seconds;
    }
}

// A coded chunk must decode to exactly its rows: the last strip of a
// picture made a row shorter holds one too many, a strip of more rows or
// a tile taller than stored runs out, a shorter tile has rows left over.
// A coded chunk that holds more than its rows gives its rows, as libtiff
// reads it; one that holds fewer is refused.
TEST_F(ForeignFilesTest, CodedChunksHoldingMoreRowsGiveTheirRowsFewerAreRefused)
{
    const Picture picture = MakePicture(5, 4);
    Picture threeRows = picture;
    threeRows.height = 3;
    threeRows.rgb.resize(5 * 3 * 3);
    for (const uint32_t compression : {5u, 8u, 32773u}) {
        for (const bool tiled : {false, true}) {
            // Tiles 15 rows tall holding 16; 17 tall holding 16. Strips of
            // two rows, the second holding one more than the picture's
            // three; strips of three holding two.
            for (const TiffEntry& change : tiled ? std::vector<TiffEntry>{{323, 4, {15}}, {323, 4, {17}}}
                                                 : std::vector<TiffEntry>{{257, 4, {3}}, {278, 4, {3}}}) {
                SCOPED_TRACE(testing::Message() << "compression " << compression << " tag " << change.tag << " = "
                                                << change.values[0]);
                TiffForm form;
                form.compression = compression;
                form.rowsPerStrip = tiled ? 0 : 2;
                form.tileSide = tiled ? 16 : 0;
                ASSERT_EQ(TiffToBmp(TiffFile(picture, form)), KESTOVATIFF_OK);
                std::remove(Path("out.bmp").c_str());
                form.changes = {change};
                const bool more = change.values[0] == 15 || change.tag == 257;
                EXPECT_EQ(TiffToBmp(TiffFile(picture, form)), more ? KESTOVATIFF_OK : KESTOVATIFF_ERROR_FORMAT);
                if (more) {
                    EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(change.tag == 257 ? threeRows : picture));
                    std::remove(Path("out.bmp").c_str());
                }
                EXPECT_EQ(Names(), std::vector<std::string>{"in.tif"});
            }
        }
    }
}

}  // namespace
}  // namespace testing_files
