// libtiff as the reference peer: it reads every TIFF the library writes,
// and the TIFFs it writes convert (or are refused) as they should.

#include "kestovatiff.h"
#include "test_files.h"

#if KESTOVATIFF_HAVE_LIBTIFF

#include <tiffio.h>

#include <cstdarg>

namespace testing_files {
namespace {

std::string g_messages;  // what libtiff complained of, errors and warnings alike

void Collect(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    g_messages += std::string(module != nullptr ? module : "") + ": " + text + "\n";
}

class LibtiffPeerTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        TIFFSetErrorHandler(Collect);
        TIFFSetWarningHandler(Collect);
        g_messages.clear();
    }

    // The pixels libtiff reads from the file, top row first.
    Bytes ReadWithLibtiff(const std::string& path, uint32_t& width, uint32_t& height)
    {
        Bytes pixels;
        TIFF* tiff = TIFFOpen(path.c_str(), "r");
        if (tiff == nullptr) {
            ADD_FAILURE() << "libtiff cannot open " << path << ": " << g_messages;
            return pixels;
        }
        uint16_t bits = 0, samples = 0, photometric = 0, planar = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
        EXPECT_EQ(bits, 8);
        EXPECT_EQ(samples, 3);
        EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
        EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
        Bytes row(TIFFScanlineSize(tiff));
        for (uint32_t y = 0; y < height; ++y) {
            EXPECT_EQ(TIFFReadScanline(tiff, row.data(), y, 0), 1);
            pixels.insert(pixels.end(), row.begin(), row.end());
        }
        TIFFClose(tiff);
        return pixels;
    }

    // Writes the picture with libtiff. `mode` picks the byte order ("wb"
    // big-endian, "wl" little-endian); `setup` adds or changes fields.
    template <typename Setup>
    void WriteWithLibtiff(const std::string& path, const Picture& picture, const char* mode,
                          uint32_t rowsPerStrip, Setup setup)
    {
        TIFF* tiff = TIFFOpen(path.c_str(), mode);
        ASSERT_NE(tiff, nullptr);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, picture.width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, picture.height);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        const int rowBytes = setup(tiff);
        Bytes row(static_cast<size_t>(rowBytes));
        for (uint32_t y = 0; y < picture.height; ++y) {
            for (size_t i = 0; i < row.size(); ++i) {
                row[i] = picture.rgb[(size_t{y} * picture.width * 3 + i) % picture.rgb.size()];
            }
            ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
        }
        TIFFClose(tiff);
    }
};

TEST_F(LibtiffPeerTest, ReadsEveryTiffTheLibraryWrites)
{
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {2, 3}, {3, 2}, {5, 7}, {4, 4},
                                                   {666, 3}, {667, 2}, {1, 1000}, {4095, 3}, {65535, 1}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const Picture picture = MakePicture(width, height, 3);
        WriteFile(Path("in.bmp"), BmpFile(picture));
        ASSERT_EQ(Bmp2Tiff(Path16("in.bmp").c_str(), Path16("out.tif").c_str()), KESTOVATIFF_OK);
        uint32_t readWidth = 0, readHeight = 0;
        EXPECT_EQ(ReadWithLibtiff(Path("out.tif"), readWidth, readHeight), picture.rgb);
        EXPECT_EQ(readWidth, width);
        EXPECT_EQ(readHeight, height);
        EXPECT_EQ(g_messages, "");
        g_messages.clear();
    }
}

TEST_F(LibtiffPeerTest, TiffsLibtiffWritesConvert)
{
    for (const char* mode : {"wb", "wl"}) {
        for (uint32_t rowsPerStrip : {1u, 3u, 64u}) {
            for (const auto& [width, height] : {std::pair{5u, 7u}, {1u, 1u}, {300u, 200u}}) {
                SCOPED_TRACE(testing::Message() << mode << " rows/strip " << rowsPerStrip << " " << width << "x"
                                                << height);
                const Picture picture = MakePicture(width, height, rowsPerStrip);
                WriteWithLibtiff(Path("peer.tif"), picture, mode, rowsPerStrip, [](TIFF* tiff) {
                    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 300.0);
                    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 300.0);
                    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
                    TIFFSetField(tiff, TIFFTAG_SOFTWARE, "peer test");
                    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
                    return static_cast<int>(TIFFScanlineSize(tiff));
                });
                ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
                EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(picture));
            }
        }
    }
}

TEST_F(LibtiffPeerTest, FormsLibtiffWritesThatTheLibraryDoesNotReadAreRefused)
{
    const Picture picture = MakePicture(6, 5);
    struct Case {
        const char* name;
        void (*setup)(TIFF*);
    };
    const Case cases[] = {
        {"LZW", [](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW); }},
        {"16 bits", [](TIFF* t) { TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16); }},
        {"palette",
         [](TIFF* t) {
             static uint16_t map[256] = {};
             TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
             TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
             TIFFSetField(t, TIFFTAG_COLORMAP, map, map, map);
         }},
        {"separate planes", [](TIFF* t) { TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE); }},
        {"alpha",
         [](TIFF* t) {
             static uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
             TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
             TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWithLibtiff(Path("peer.tif"), picture, "wb", 2, [&](TIFF* tiff) {
            c.setup(tiff);
            return static_cast<int>(TIFFScanlineSize(tiff));
        });
        EXPECT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_ERROR_FORMAT);
        EXPECT_FALSE(FileExists(Path("out.bmp")));
    }
}

}  // namespace
}  // namespace testing_files

#else

TEST(LibtiffPeerTest, NeedsLibtiff)
{
    GTEST_SKIP() << "libtiff was not found when this was configured: install libtiff-dev to run the peer tests";
}

#endif
