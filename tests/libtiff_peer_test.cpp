// libtiff as the reference peer: it reads every TIFF the library writes,
// and the TIFFs it writes convert (or are refused) as they should.

#include "kestovatiff.h"
#include "test_files.h"
#include "tiff_encoders.h"

#if KESTOVATIFF_HAVE_LIBTIFF

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace testing_files {
namespace {

std::string g_messages;  // what libtiff complained of, errors and warnings alike

void Collect(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    g_messages += std::string(module != nullptr ? module : "") + ": " + text + "\n";
}

// ExtraSamples left out: the sample past the colour's is not described.
constexpr uint16_t kNoExtraSamples = 0xFFFF;

// A kind of picture libtiff writes: its colour, bits a sample and samples
// a pixel (one past the colour's is alpha, or another sample as `alpha` says).
struct Kind {
    std::string name;
    uint16_t photometric;
    uint16_t bits;
    uint16_t samples = 1;
    uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
    bool seeThrough = false;  // the last pixel stored is not opaque: refused
    bool byteMap = false;     // a ColorMap of values below 256, as some writers store it
};

std::vector<Kind> Kinds()
{
    std::vector<Kind> kinds = {
        {"RGB", PHOTOMETRIC_RGB, 8, 3},
        {"RGB + alpha", PHOTOMETRIC_RGB, 8, 4},
        {"RGB + associated alpha", PHOTOMETRIC_RGB, 8, 4, EXTRASAMPLE_ASSOCALPHA},
        {"RGB + alpha, a pixel see-through", PHOTOMETRIC_RGB, 8, 4, EXTRASAMPLE_UNASSALPHA, true},
        {"RGB + associated alpha, a pixel see-through", PHOTOMETRIC_RGB, 8, 4, EXTRASAMPLE_ASSOCALPHA, true},
        // Samples past the colour's that are not alpha, ignored whatever they hold.
        {"RGB + an unspecified sample", PHOTOMETRIC_RGB, 8, 4, EXTRASAMPLE_UNSPECIFIED},
        {"RGB + a sample, no ExtraSamples", PHOTOMETRIC_RGB, 8, 4, kNoExtraSamples},
        {"grey + an unspecified sample", PHOTOMETRIC_MINISBLACK, 8, 2, EXTRASAMPLE_UNSPECIFIED},
        {"grey + a sample, no ExtraSamples", PHOTOMETRIC_MINISWHITE, 8, 2, kNoExtraSamples},
        // libtiff's RGBA reading takes grey and palette with alpha at 8 bits only.
        {"grey + alpha", PHOTOMETRIC_MINISBLACK, 8, 2},
        {"white-at-zero grey + associated alpha", PHOTOMETRIC_MINISWHITE, 8, 2, EXTRASAMPLE_ASSOCALPHA},
        {"grey + alpha, a pixel see-through", PHOTOMETRIC_MINISBLACK, 8, 2, EXTRASAMPLE_UNASSALPHA, true},
        {"palette + alpha", PHOTOMETRIC_PALETTE, 8, 2},
        {"palette + alpha, a pixel see-through", PHOTOMETRIC_PALETTE, 8, 2, EXTRASAMPLE_UNASSALPHA, true},
    };
    for (const uint16_t bits : {1, 2, 4, 8}) {
        const std::string b = std::to_string(bits) + "-bit ";
        kinds.push_back({b + "grey, black at zero", PHOTOMETRIC_MINISBLACK, bits});
        kinds.push_back({b + "grey, white at zero", PHOTOMETRIC_MINISWHITE, bits});
        kinds.push_back({b + "palette", PHOTOMETRIC_PALETTE, bits});
        kinds.push_back({b + "palette, a map of bytes", PHOTOMETRIC_PALETTE, bits, 1, 0, false, true});
    }
    return kinds;
}

// How libtiff stores the picture.
struct Layout {
    const char* name;
    const char* mode;       // byte order, and "8" for BigTIFF
    uint32_t rowsPerStrip;  // 0: one strip
    uint32_t tileSide;      // 0: strips
    bool planar;
    bool bitsReversed;      // FillOrder 2
};

void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

const Layout kLayouts[] = {
    {"StripsOfOneRow", "wl", 1, 0, false, false},
    {"StripsOfFiveRows", "wb", 5, 0, false, false},
    {"OneStrip", "wl", 0, 0, false, false},
    {"Tiles", "wb", 0, 16, false, false},
    {"PlanesInStrips", "wl", 5, 0, true, false},
    {"PlanesInTiles", "wb", 0, 16, true, false},
    {"BitsReversed", "wl", 5, 0, false, true},
    {"TilesBitsReversed", "wb", 0, 16, false, true},
    {"BigTiffPlanesInStripsBitsReversed", "w8b", 5, 0, true, true},
    {"BigTiffPlanesInTiles", "w8l", 0, 16, true, false},
};

struct Coding {
    const char* name;
    uint16_t compression;
    bool predictor;
    uint32_t faxOptions = 0;  // T4Options
};

bool IsFax(const Coding& coding)
{
    return coding.compression == COMPRESSION_CCITTRLE || coding.compression == COMPRESSION_CCITTFAX3 ||
        coding.compression == COMPRESSION_CCITTFAX4;
}

const Coding kCodings[] = {
    {"none", COMPRESSION_NONE, false},          {"PackBits", COMPRESSION_PACKBITS, false},
    {"LZW", COMPRESSION_LZW, false},            {"LZW, differenced", COMPRESSION_LZW, true},
    {"Deflate", COMPRESSION_ADOBE_DEFLATE, false}, {"Deflate, differenced", COMPRESSION_ADOBE_DEFLATE, true},
    {"Deflate, old code", COMPRESSION_DEFLATE, false},
    // Bilevel pictures only.
    {"modified Huffman", COMPRESSION_CCITTRLE, false},
    {"fax group 3", COMPRESSION_CCITTFAX3, false},
    {"fax group 3, fill bits", COMPRESSION_CCITTFAX3, false, GROUP3OPT_FILLBITS},
    {"fax group 3, 2-D", COMPRESSION_CCITTFAX3, false, GROUP3OPT_2DENCODING},
    {"fax group 3, 2-D, fill bits", COMPRESSION_CCITTFAX3, false, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS},
    {"fax group 4", COMPRESSION_CCITTFAX4, false},
};

using Values = std::vector<uint16_t>;

// Samples of a picture, top row first as stored, each of `bits` bits.
struct Samples {
    uint32_t width, height, perPixel, bits;
    Values values;

    // Pixels [x0, x0 + n) of stored row y, all samples or one plane's,
    // packed most significant bit first (16-bit ones in the host's order,
    // as libtiff takes them); pixels past the picture are zero.
    Bytes Row(uint32_t y, uint32_t x0, uint32_t n, int plane) const
    {
        const uint32_t each = plane < 0 ? perPixel : 1;
        Bytes row((size_t{n} * each * bits + 7) / 8);
        size_t bit = 0;
        for (uint32_t x = x0; x < x0 + n; ++x) {
            for (uint32_t s = 0; s < each; ++s, bit += bits) {
                const size_t at = (size_t{y} * width + x) * perPixel + (plane < 0 ? s : static_cast<uint32_t>(plane));
                const uint16_t v = x < width && y < height ? values[at] : 0u;
                if (bits == 16) {
                    std::memcpy(row.data() + bit / 8, &v, 2);
                    continue;
                }
                for (uint32_t b = 0; b < bits; ++b) {  // the highest bit first, across bytes
                    if ((v >> (bits - 1 - b) & 1u) != 0) {
                        row[(bit + b) / 8] = static_cast<uint8_t>(row[(bit + b) / 8] | 0x80u >> (bit + b) % 8);
                    }
                }
            }
        }
        return row;
    }
};

// Samples of a kind of picture: alpha opaque but for the last pixel's of
// a see-through kind, everything else from a hash.
Samples MakeSamples(const Kind& kind, uint32_t width, uint32_t height)
{
    Samples picture{width, height, kind.samples, kind.bits, Values(size_t{width} * height * kind.samples)};
    const bool hasAlpha = kind.samples > (kind.photometric == PHOTOMETRIC_RGB ? 3 : 1) &&
        (kind.alpha == EXTRASAMPLE_UNASSALPHA || kind.alpha == EXTRASAMPLE_ASSOCALPHA);
    const auto most = static_cast<uint16_t>((1u << kind.bits) - 1);
    for (size_t i = 0; i < picture.values.size(); ++i) {
        const bool alpha = hasAlpha && i % kind.samples == kind.samples - 1u;
        const bool last = i + 1 == picture.values.size();
        picture.values[i] = alpha ? static_cast<uint16_t>(kind.seeThrough && last ? most / 2 : most)
                                  : static_cast<uint16_t>((i * 2654435761u >> 13) & most);
    }
    return picture;
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

    // Writes the picture with libtiff in the layout, its bits reversed or not.
    void Write(const std::string& path, const Kind& kind, const Coding& coding, uint16_t orientation,
               const Samples& picture, const Layout& layout, bool bitsReversed)
    {
        TIFF* tiff = TIFFOpen(path.c_str(), layout.mode);
        ASSERT_NE(tiff, nullptr);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, picture.width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, picture.height);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, kind.bits);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, kind.samples);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, kind.photometric);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, layout.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, coding.compression);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, orientation);
        if (coding.predictor) {
            TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        }
        if (coding.compression == COMPRESSION_CCITTFAX3) {
            TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, coding.faxOptions);
        }
        if (bitsReversed) {
            TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
        }
        if (kind.samples > (kind.photometric == PHOTOMETRIC_RGB ? 3 : 1) && kind.alpha != kNoExtraSamples) {
            uint16_t extra[1] = {kind.alpha};
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        std::vector<uint16_t> map(3u << kind.bits);
        for (size_t i = 0; i < map.size(); ++i) {
            map[i] = static_cast<uint16_t>((i * 40503u + 7919u) & (kind.byteMap ? 0xFFu : 0xFFFFu));
        }
        if (kind.photometric == PHOTOMETRIC_PALETTE) {
            const size_t entries = map.size() / 3;
            TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data() + entries, map.data() + 2 * entries);
        }
        const uint32_t planes = layout.planar ? kind.samples : 1;
        if (layout.tileSide != 0) {
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, layout.tileSide);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, layout.tileSide);
            for (uint32_t p = 0; p < planes; ++p) {
                for (uint32_t y0 = 0; y0 < picture.height; y0 += layout.tileSide) {
                    for (uint32_t x0 = 0; x0 < picture.width; x0 += layout.tileSide) {
                        Bytes tile;
                        for (uint32_t y = y0; y < y0 + layout.tileSide; ++y) {
                            const Bytes row = picture.Row(y, x0, layout.tileSide, layout.planar ? int(p) : -1);
                            tile.insert(tile.end(), row.begin(), row.end());
                        }
                        ASSERT_GT(TIFFWriteTile(tiff, tile.data(), x0, y0, 0, static_cast<uint16_t>(p)), 0);
                    }
                }
            }
        } else {
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip != 0 ? layout.rowsPerStrip : picture.height);
            for (uint32_t p = 0; p < planes; ++p) {
                for (uint32_t y = 0; y < picture.height; ++y) {
                    Bytes row = picture.Row(y, 0, picture.width, layout.planar ? int(p) : -1);
                    ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, static_cast<uint16_t>(p)), 1);
                }
            }
        }
        TIFFClose(tiff);
    }

    // The BMP of the picture libtiff reads, bottom row first as it shows.
    // libtiff's RGBA reading does not exchange rows and columns: it shows
    // Orientation 5 to 8 as 1 to 4 (5 as 1, 6 as 2, 7 as 3, 8 as 4). Those
    // four only turn or mirror, each undoing itself, so the stored picture
    // is what it shows turned the same way again, and from that the
    // picture shown in 5 to 8 follows.
    Bytes ReadAsBmp(const std::string& path)
    {
        TIFF* tiff = TIFFOpen(path.c_str(), "r");
        uint32_t width = 0;
        uint32_t height = 0;
        uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation);
        std::vector<uint32_t> raster(size_t{width} * height);
        EXPECT_EQ(TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_BOTLEFT, 1), 1)
            << g_messages;
        TIFFClose(tiff);
        // libtiff warns where it takes a map of values below 256 as 8-bit.
        std::istringstream lines(g_messages);
        g_messages.clear();
        for (std::string line; std::getline(lines, line);) {
            g_messages += line.find("Assuming 8-bit colormap") == std::string::npos ? line + "\n" : "";
        }
        Picture shown{width, height, Bytes(raster.size() * 3)};
        for (size_t i = 0; i < raster.size(); ++i) {
            const size_t top = (height - 1 - i / width) * size_t{width} + i % width;
            shown.rgb[3 * top] = static_cast<uint8_t>(TIFFGetR(raster[i]));
            shown.rgb[3 * top + 1] = static_cast<uint8_t>(TIFFGetG(raster[i]));
            shown.rgb[3 * top + 2] = static_cast<uint8_t>(TIFFGetB(raster[i]));
        }
        return BmpFile(orientation >= 5 ? Shown(Shown(shown, orientation - 4u), orientation) : shown);
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
        int32_t reason;  // KestovaConvert's, and its value
        uint64_t value;
        uint16_t codec = COMPRESSION_NONE;  // skipped where libtiff was built without it
    };
    const Case cases[] = {
#if !KESTOVATIFF_WITH_JPEG
        {"JPEG",
         [](TIFF* t) {
             TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
             TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 8);
         },
         KESTOVA_REASON_TIFF_COMPRESSION, 7, COMPRESSION_JPEG},
#endif
        {"WebP", [](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_WEBP); },
         KESTOVA_REASON_TIFF_COMPRESSION, COMPRESSION_WEBP, COMPRESSION_WEBP},
        {"LZMA", [](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZMA); },
         KESTOVA_REASON_TIFF_COMPRESSION, COMPRESSION_LZMA, COMPRESSION_LZMA},
        {"Zstandard", [](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ZSTD); },
         KESTOVA_REASON_TIFF_COMPRESSION, COMPRESSION_ZSTD, COMPRESSION_ZSTD},
        {"16 bits", [](TIFF* t) { TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16); }, KESTOVA_REASON_DEEP_SAMPLES, 16},
        {"16-bit grey",
         [](TIFF* t) {
             TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
             TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
             TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
         },
         KESTOVA_REASON_DEEP_SAMPLES, 16},
        {"signed samples", [](TIFF* t) { TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT); },
         KESTOVA_REASON_SAMPLE_FORMAT, SAMPLEFORMAT_INT},
        {"floating point",
         [](TIFF* t) {
             TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
             TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
         },
         KESTOVA_REASON_SAMPLE_FORMAT, SAMPLEFORMAT_IEEEFP},
        {"CMYK",
         [](TIFF* t) {
             TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
             TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
             TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
         },
         KESTOVA_REASON_COLOUR_SPACE, PHOTOMETRIC_SEPARATED},
        {"CIELab", [](TIFF* t) { TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CIELAB); },
         KESTOVA_REASON_COLOUR_SPACE, PHOTOMETRIC_CIELAB},
        {"two extra samples",
         [](TIFF* t) {
             static uint16_t extra[2] = {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNSPECIFIED};
             TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 5);
             TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 2, extra);
         },
         KESTOVA_REASON_TIFF_SAMPLES, 5},
        {"grey with alpha in planes",
         [](TIFF* t) {
             static uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
             TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 2);
             TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
             TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
             TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
         },
         KESTOVA_REASON_PLANAR, PLANARCONFIG_SEPARATE},
    };
    // Each refused by both exports, and by KestovaConvert with its reason.
    const auto refused = [&](int32_t reason, uint64_t value) {
        EXPECT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_ERROR_FORMAT);
        KestovaOptions options = {sizeof options, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(KestovaConvert(Path16("peer.tif").c_str(), Path16("out.bmp").c_str(), &options),
                  KESTOVATIFF_ERROR_FORMAT);
        EXPECT_EQ(options.reason, reason) << KestovaReasonText(options.reason);
        EXPECT_EQ(options.reasonValue, value);
        EXPECT_EQ(Names(), std::vector<std::string>{"peer.tif"});
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.codec != COMPRESSION_NONE && TIFFIsCODECConfigured(c.codec) == 0) {
            continue;
        }
        WriteWithLibtiff(Path("peer.tif"), picture, "wb", 2, [&](TIFF* tiff) {
            c.setup(tiff);
            return static_cast<int>(TIFFScanlineSize(tiff));
        });
        refused(c.reason, c.value);
    }
    // Forms libtiff does not write, or writes only where it was built with
    // their codec: the fields changed in a 6 x 5 RGB file.
    const std::vector<TiffEntry> bilevel = {{258, 3, {1}}, {262, 3, {0}}, {277, 3, {1}}};
    const auto with = [](std::vector<TiffEntry> entries, const std::vector<TiffEntry>& more) {
        entries.insert(entries.end(), more.begin(), more.end());
        return entries;
    };
    const struct {
        const char* name;
        std::vector<TiffEntry> changes;
        int32_t reason;
        uint64_t value;
    } edited[] = {
        {"old-style JPEG", {{259, 3, {6}}}, KESTOVA_REASON_TIFF_COMPRESSION, 6},
        {"JBIG", {{259, 3, {34661}}}, KESTOVA_REASON_TIFF_COMPRESSION, 34661},
        {"WebP", {{259, 3, {50001}}}, KESTOVA_REASON_TIFF_COMPRESSION, 50001},
        {"LZMA", {{259, 3, {34925}}}, KESTOVA_REASON_TIFF_COMPRESSION, 34925},
        {"Zstandard", {{259, 3, {50000}}}, KESTOVA_REASON_TIFF_COMPRESSION, 50000},
        {"LogLuv", {{262, 3, {32845}}, {259, 3, {34677}}}, KESTOVA_REASON_TIFF_COMPRESSION, 34677},
        {"LogL", {{262, 3, {32844}}, {259, 3, {34676}}, {277, 3, {1}}, {258, 3, {8}}}, KESTOVA_REASON_TIFF_COMPRESSION,
         34676},
        {"CIELab", {{262, 3, {8}}}, KESTOVA_REASON_COLOUR_SPACE, 8},
        {"fax group 3, uncompressed mode", with(bilevel, {{259, 3, {3}}, {292, 4, {2}}}), KESTOVA_REASON_TIFF_FIELD,
         292},
        {"fax group 4, uncompressed mode", with(bilevel, {{259, 3, {4}}, {293, 4, {2}}}), KESTOVA_REASON_TIFF_FIELD,
         293},
        {"fax group 4, 65536 wide", with(bilevel, {{259, 3, {4}}, {256, 4, {65536}}}), KESTOVA_REASON_TIFF_FIELD, 256},
        {"fax group 4 of RGB", {{259, 3, {4}}}, KESTOVA_REASON_COLOUR_SPACE, 2},
        {"fax group 4 of 8-bit grey", with(bilevel, {{259, 3, {4}}, {258, 3, {8}}}), KESTOVA_REASON_TIFF_FIELD, 258},
        {"fax group 3 of a palette", with(bilevel, {{259, 3, {3}}, {262, 3, {3}}, {320, 3, std::vector<uint32_t>(6)}}),
         KESTOVA_REASON_COLOUR_SPACE, 3},
        {"Orientation 9", {{274, 3, {9}}}, KESTOVA_REASON_ORIENTATION, 9},
        {"PlanarConfiguration 3", {{284, 3, {3}}}, KESTOVA_REASON_PLANAR, 3},
        {"LZW, Predictor 3", {{259, 3, {5}}, {317, 3, {3}}}, KESTOVA_REASON_PREDICTOR, 3},
        {"FillOrder 3", {{266, 3, {3}}}, KESTOVA_REASON_TIFF_FIELD, 266},
        {"ExtraSamples 3", {{277, 3, {4}}, {258, 3, {8}}, {338, 3, {3}}}, KESTOVA_REASON_TIFF_FIELD, 338},
        {"BitsPerSample 8, 8", {{258, 3, {8, 8}}}, KESTOVA_REASON_TIFF_FIELD, 258},
        {"3-bit samples", {{258, 3, {3}}}, KESTOVA_REASON_TIFF_FIELD, 258},
        {"a strip past the end", {{273, 4, {100000}}}, KESTOVA_REASON_FILE_SHORT, 100000 + 6 * 5 * 3},
        {"Orientation as a RATIONAL", {{274, 5, {1, 1}}}, KESTOVA_REASON_TIFF_FIELD, 274},
    };
    for (const auto& c : edited) {
        SCOPED_TRACE(c.name);
        TiffForm form;
        form.changes = c.changes;
        WriteFile(Path("peer.tif"), TiffFile(picture, form));
        refused(c.reason, c.value);
    }
}

// A tag given twice converts as libtiff reads it: by its first entry, the
// second passed over whatever it holds.
TEST_F(LibtiffPeerTest, DuplicateTagsTakeTheirFirstEntry)
{
    const Picture picture = MakePicture(5, 4, 2);
    const std::vector<TiffEntry> grey = {{256, 4, {15}}, {258, 3, {8}}, {262, 3, {1}}, {277, 3, {1}}};  // 15 wide
    struct Case {
        const char* name;
        std::vector<TiffEntry> changes, duplicates;
    };
    const Case cases[] = {
        {"grey, then white at zero", grey, {{262, 3, {0}}}},
        {"RGB, then palette", {}, {{262, 3, {3}}}},
        {"Orientation 1, then 3", {{274, 3, {1}}}, {{274, 3, {3}}}},
        {"ImageWidth 5, then 4", {}, {{256, 4, {4}}}},
        {"StripOffsets, then past the end", {}, {{273, 4, {100000}}}},
        {"Compression, then a RATIONAL", {}, {{259, 5, {8, 1}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffForm form;
        form.changes = c.changes;
        form.duplicates = c.duplicates;
        WriteFile(Path("peer.tif"), TiffFile(picture, form));
        ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(Path("out.bmp")), ReadAsBmp(Path("peer.tif")));
    }
}

#if KESTOVATIFF_WITH_JPEG
// The largest difference of two BMPs' bytes, or 256 where their sizes or
// headers differ.
int MaxDifference(const Bytes& a, const Bytes& b)
{
    if (a.size() != b.size() || !std::equal(a.begin(), a.begin() + std::min<size_t>(a.size(), 54), b.begin())) {
        return 256;
    }
    int most = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        most = std::max(most, std::abs(int{a[i]} - int{b[i]}));
    }
    return most;
}

// JPEG TIFFs as libtiff's tools, libtiff itself and Pillow write them,
// against libtiff's RGBA reading. For YCbCr that reading has libjpeg
// convert to RGB, as the library does, with the same defaults (the exact
// integer transform, smooth chroma upsampling): the two agree to the byte,
// not merely within the 1 a channel two YCbCr conversions may differ by,
// and the test holds them to that. Odd sides, so that the last strip and
// the tiles at the edges are partial. A last strip coded taller than its
// rows (at the full RowsPerStrip, as some writers make it, or past it)
// reads as libtiff reads it, with a warning there: its extra rows ignored.
TEST_F(LibtiffPeerTest, JpegConvertsToWhatLibtiffReads)
{
    const Picture picture = MakePicture(301, 77, 9);
    WriteFile(Path("rgb.tif"), TiffFile(picture));
    WriteWithLibtiff(Path("grey.tif"), picture, "wl", 77, [](TIFF* tiff) {
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        return static_cast<int>(TIFFScanlineSize(tiff));
    });
    // YCbCr at a sampling libtiff is told, converted to RGB by libjpeg as
    // it writes.
    auto sampled = [&](uint16_t h, uint16_t v, uint32_t rows) {
        WriteWithLibtiff(Path("peer.tif"), picture, "wb", rows, [&](TIFF* tiff) {
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
            TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, h, v);
            TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            return static_cast<int>(TIFFScanlineSize(tiff));
        });
        return std::string();
    };
    // Strips of `rowsPerStrip` rows, the last coded `lastRows` high.
    auto tallLast = [&](uint32_t rowsPerStrip, uint32_t lastRows) {
        TiffForm form;
        form.compression = 7;
        form.rowsPerStrip = rowsPerStrip;
        for (uint32_t y = 0; y < 77; y += rowsPerStrip) {
            const uint32_t end = std::min(77u, y + rowsPerStrip);
            const uint32_t coded = end == 77 ? lastRows : rowsPerStrip;
            Bytes rows(picture.rgb.begin() + y * 301 * 3, picture.rgb.begin() + end * 301 * 3);
            rows.resize(size_t{coded} * 301 * 3, 0x80);  // rows below the picture
            form.chunks.push_back(tiff_encoders::Jpeg(rows.data(), 301, coded, form.jpeg));
        }
        WriteFile(Path("peer.tif"), TiffFile(picture, form));
        return std::string("JPEG strip size exceeds expected dimensions");
    };
    const std::string in = " " + Path("rgb.tif") + " " + Path("peer.tif");
    const std::string grey = " " + Path("grey.tif") + " " + Path("peer.tif");
    const std::string pillow = "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                               "Image.open(sys.argv[1]).save(sys.argv[2], compression='jpeg')\"";
    struct Case {
        std::string name, command;  // writes peer.tif
        std::function<std::string()> write = nullptr;  // or this does
    };
    const Case cases[] = {
        {"tiffcp YCbCr, strips of 16", "tiffcp -c jpeg -r 16" + in},
        {"tiffcp YCbCr, one strip", "tiffcp -c jpeg -r 77" + in},
        {"tiffcp YCbCr quality 50, tiles of 32 x 16", "tiffcp -c jpeg:50 -t -w 32 -l 16" + in},
        {"tiffcp RGB, strips of 8", "tiffcp -c jpeg:r -r 8" + in},
        {"tiffcp RGB, tiles of 64", "tiffcp -c jpeg:r -t -w 64 -l 64" + in},
        {"tiffcp grey, strips of 24", "tiffcp -c jpeg -r 24" + grey},
        {"tiffcp grey, tiles of 16", "tiffcp -c jpeg -t -w 16 -l 16" + grey},
        {"Pillow RGB", pillow + in},
        {"Pillow grey", pillow + grey},
        {"libtiff YCbCr 1 x 1", "", [&] { return sampled(1, 1, 16); }},
        {"libtiff YCbCr 2 x 1", "", [&] { return sampled(2, 1, 16); }},
        {"libtiff YCbCr 4 x 2", "", [&] { return sampled(4, 2, 32); }},
        {"a last strip coded at the full RowsPerStrip", "", [&] { return tallLast(32, 32); }},
        {"one strip coded taller than the picture", "", [&] { return tallLast(80, 200); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(Path("peer.tif").c_str());
        const std::string warning = c.write ? c.write() : std::string();
        if (!c.command.empty()) {
            ASSERT_EQ(std::system((c.command + " 2>/dev/null").c_str()), 0) << c.command;
        }
        g_messages.clear();
        ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
        EXPECT_EQ(MaxDifference(ReadFile(Path("out.bmp")), ReadAsBmp(Path("peer.tif"))), 0);
        EXPECT_TRUE(warning.empty() ? g_messages.empty() : g_messages.find(warning) != std::string::npos)
            << g_messages;
    }
}
#endif

class LibtiffFormsTest : public LibtiffPeerTest, public testing::WithParamInterface<Layout> {};

// Every kind of picture in every coding, turned each of eight ways in
// turn, against what libtiff reads from the same file. The sides fill
// neither a tile nor the last strip.
TEST_P(LibtiffFormsTest, ConvertToWhatLibtiffReads)
{
    const std::vector<Kind> kinds = Kinds();
    const auto layoutIndex = static_cast<size_t>(
        std::find_if(std::begin(kLayouts), std::end(kLayouts),
                     [&](const Layout& layout) { return layout.name == GetParam().name; }) -
        std::begin(kLayouts));
    for (size_t k = 0; k < kinds.size(); ++k) {
        const Kind& kind = kinds[k];
        const Samples picture = MakeSamples(kind, 37, 23);
        for (size_t c = 0; c < std::size(kCodings); ++c) {
            const Coding& coding = kCodings[c];
            if (coding.predictor && kind.bits != 8) {
                continue;  // libtiff differences 8-bit samples and wider only
            }
            if (IsFax(coding) && (kind.bits != 1 || kind.samples != 1 || kind.photometric == PHOTOMETRIC_PALETTE)) {
                continue;  // the fax codings code bilevel pictures only
            }
            if (GetParam().planar && kind.samples == 2) {
                continue;  // refused: planes are read as RGB only (FormsLibtiffWrites...AreRefused)
            }
            const auto orientation = static_cast<uint16_t>(1 + (k + c + layoutIndex) % 8);
            SCOPED_TRACE(testing::Message() << kind.name << ", " << coding.name << ", orientation " << orientation);
            // libtiff's RGBA reading fails on tiles with reversed bits (4.5),
            // and misplaces the rows of a grey tile with an extra sample that
            // passes the picture's right side (it steps over the pixels outside
            // by a sample each, not a pixel): the oracle reads the same picture
            // with its bits in the usual order, or in strips.
            const bool reversed = GetParam().bitsReversed;
            const bool tilesMisread = GetParam().tileSide != 0 && kind.samples == 2;
            const bool oracle = reversed || tilesMisread;
            const std::vector<std::string> sources =
                oracle ? std::vector<std::string>{"oracle.tif", "peer.tif"} : std::vector<std::string>{"peer.tif"};
            Write(Path("peer.tif"), kind, coding, orientation, picture, GetParam(), reversed);
            if (oracle) {
                Write(Path("oracle.tif"), kind, coding, orientation, picture, tilesMisread ? kLayouts[2] : GetParam(),
                      false);
            }
            const std::string legacy = "TIFFWriteDirectorySec: Creating TIFF with legacy Deflate codec identifier, "
                                       "COMPRESSION_ADOBE_DEFLATE is more widely supported\n";
            const std::string noExtra = "TIFFReadDirectory: Sum of Photometric type-related color channels and "
                                        "ExtraSamples doesn't match SamplesPerPixel. Defining non-color channels "
                                        "as ExtraSamples.\n";  // of kNoExtraSamples, as unspecified
            for (size_t at; (at = g_messages.find(noExtra)) != std::string::npos;) {
                g_messages.erase(at, noExtra.size());
            }
            ASSERT_TRUE(g_messages.empty() || g_messages == legacy || g_messages == legacy + legacy) << g_messages;
            g_messages.clear();
            std::remove(Path("out.bmp").c_str());
            const int32_t result = Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str());
            if (kind.seeThrough) {
                EXPECT_EQ(result, KESTOVATIFF_ERROR_FORMAT);
                EXPECT_EQ(Names(), sources);
                continue;
            }
            ASSERT_EQ(result, KESTOVATIFF_OK);
            EXPECT_EQ(ReadFile(Path("out.bmp")), ReadAsBmp(Path(sources[0])));
        }
    }
}

// Orientation 5 to 8 in every layout, for sides that make the exchange of
// rows and columns take each of its paths: one row or one column, blocks
// smaller than the picture both ways, whole rows of either side.
TEST_P(LibtiffFormsTest, ExchangedSidesOfEveryShape)
{
    const Kind kinds[] = {{"RGB", PHOTOMETRIC_RGB, 8, 3}, {"1-bit grey", PHOTOMETRIC_MINISBLACK, 1}};
    const uint32_t sides[][2] = {{1, 300}, {300, 1}, {7, 5}, {300, 200}, {2, 3000}, {3000, 2}};
    for (const Kind& kind : kinds) {
        for (const auto& side : sides) {
            Samples picture{side[0], side[1], kind.samples, kind.bits, Values(size_t{side[0]} * side[1] * kind.samples)};
            for (size_t i = 0; i < picture.values.size(); ++i) {
                picture.values[i] = static_cast<uint8_t>((i * 2654435761u >> 13) & ((1u << kind.bits) - 1));
            }
            for (uint16_t orientation = 5; orientation <= 8; ++orientation) {
                SCOPED_TRACE(testing::Message() << kind.name << ", " << side[0] << " x " << side[1] << ", orientation "
                                                << orientation);
                Write(Path("peer.tif"), kind, kCodings[2], orientation, picture, GetParam(), false);
                ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
                EXPECT_TRUE(ReadFile(Path("out.bmp")) == ReadAsBmp(Path("peer.tif")));
            }
        }
    }
}

// Rows wider than the piece decoded at a time for every kind (65536
// pixels of 1 bit), in LZW strips, mirrored.
TEST_F(LibtiffPeerTest, RowsWiderThanADecodedPiece)
{
    for (const Kind& kind : Kinds()) {
        if (kind.seeThrough) {
            continue;
        }
        SCOPED_TRACE(kind.name);
        const Samples picture = MakeSamples(kind, 70000, 2);
        Write(Path("peer.tif"), kind, kCodings[2], ORIENTATION_TOPRIGHT, picture, kLayouts[1], false);
        ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == ReadAsBmp(Path("peer.tif")));
    }
}

// The directory entry of `tag` in a little-endian classic TIFF: its value
// field (a SHORT's or LONG's one value) read or changed, or its tag.
uint8_t* EntryOf(Bytes& file, uint16_t tag)
{
    const auto le = [&](size_t at, int size) {
        uint32_t v = 0;
        for (int i = size - 1; i >= 0; --i) {
            v = v << 8 | file.at(at + static_cast<size_t>(i));
        }
        return v;
    };
    const size_t ifd = le(4, 4);
    for (size_t i = 0, n = le(ifd, 2); i < n; ++i) {
        if (le(ifd + 2 + 12 * i, 2) == tag) {
            return &file[ifd + 2 + 12 * i];
        }
    }
    ADD_FAILURE() << "no tag " << tag;
    static uint8_t none[12];
    return none;
}

uint32_t ValueOf(Bytes& file, uint16_t tag)
{
    const uint8_t* e = EntryOf(file, tag);
    return e[2] == 3 ? uint32_t{e[8]} | e[9] << 8 : uint32_t{e[8]} | e[9] << 8 | e[10] << 16 | uint32_t{e[11]} << 24;
}

void SetValue(Bytes& file, uint16_t tag, uint32_t value)
{
    uint8_t* e = EntryOf(file, tag);
    for (int i = 0; i < (e[2] == 3 ? 2 : 4); ++i) {
        e[8 + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Chunks that hold more than their rows give their rows, the rest ignored
// as libtiff ignores it: a last strip coded at the full RowsPerStrip height
// (ImageLength made shorter), a PackBits strip counting a byte past its
// rows. One that holds fewer rows than it should is refused. Old libtiff
// versions wrote tiles' tables as StripOffsets and StripByteCounts.
TEST_F(LibtiffPeerTest, ChunksHoldingMoreRowsAndTilesInStripFields)
{
    const Kind grey = {"grey", PHOTOMETRIC_MINISWHITE, 1};
    const Layout strips = {"strips", "wl", 5, 0, false, false};
    const Layout oneStrip = {"one strip", "wl", 0, 0, false, false};
    const Layout tiles = {"tiles", "wl", 0, 16, false, false};
    const Samples picture = MakeSamples(grey, 37, 25);  // five strips of five rows
    for (const Coding& coding : kCodings) {
        if (coding.predictor) {
            continue;
        }
        SCOPED_TRACE(coding.name);
        Write(Path("peer.tif"), grey, coding, 1, picture, strips, false);
        Bytes file = ReadFile(Path("peer.tif"));
        for (const uint32_t height : {22u, 21u, 24u}) {
            SCOPED_TRACE(testing::Message() << "ImageLength " << height);
            SetValue(file, 257, height);
            WriteFile(Path("peer.tif"), file);
            ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
            // The oracle: the picture's first rows coded as libtiff codes them.
            // (libtiff 4.5's RGBA reading of the Deflate strip cut short gets
            // the last row's last pixels wrong.)
            Samples first = picture;
            first.height = height;
            first.values.resize(size_t{37} * height);
            Write(Path("oracle.tif"), grey, coding, 1, first, strips, false);
            EXPECT_EQ(ReadFile(Path("out.bmp")), ReadAsBmp(Path("oracle.tif")));
        }
        std::remove(Path("oracle.tif").c_str());
        // The last strip holds five rows: none of the sixth.
        SetValue(file, 257, 26);
        WriteFile(Path("peer.tif"), file);
        std::remove(Path("out.bmp").c_str());
        EXPECT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_ERROR_FORMAT);
        EXPECT_EQ(Names(), std::vector<std::string>{"peer.tif"});

        // A byte counted past the strip's rows.
        Write(Path("peer.tif"), grey, coding, 1, picture, oneStrip, false);
        file = ReadFile(Path("peer.tif"));
        SetValue(file, 279, ValueOf(file, 279) + 1);
        WriteFile(Path("peer.tif"), file);
        ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(Path("out.bmp")), ReadAsBmp(Path("peer.tif")));

        // Tiles' tables under the strips' tags, read as the same picture.
        Write(Path("peer.tif"), grey, coding, 1, picture, tiles, false);
        const Bytes shown = ReadAsBmp(Path("peer.tif"));
        file = ReadFile(Path("peer.tif"));
        EntryOf(file, 324)[0] = 273 & 0xFF;
        EntryOf(file, 325)[0] = 279 & 0xFF;
        WriteFile(Path("peer.tif"), file);
        ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(Path("out.bmp")), shown);
        EXPECT_EQ(ReadAsBmp(Path("peer.tif")), shown);
        g_messages.clear();  // libtiff warns of the tags out of order
    }
}

// A Deflate strip is inflated whole (libdeflate) where its stored and
// decoded bytes fit a 1 MiB arena together, and streamed (zlib) where they
// do not: one strip of 1000 RGB pixels a row just on either side of that,
// smooth (decoded bytes decide) and noise (stored bytes count as much),
// converts as libtiff reads it; damaged (cut short, a block of the
// reserved type, the checksum after the rows broken) it is refused for its
// coded data on both sides, nothing written.
TEST_F(LibtiffPeerTest, DeflateStripsEitherSideOfTheWholeBufferArena)
{
    const Kind rgb = {"RGB", PHOTOMETRIC_RGB, 8, 3};
    const Layout oneStrip = {"one strip", "wl", 0, 0, false, false};
    const struct {
        const char* name;
        uint32_t rows;
        bool noise;
    } strips[] = {
        {"smooth, decoded just under the arena", 345, false}, {"smooth, decoded just over", 350, false},
        {"noise, together just under", 174, true}, {"noise, together just over", 175, true},
        {"noise, stored bytes alone over", 360, true},
    };
    enum Damage { kWhole, kCut, kBadBlock, kBadChecksum };
    for (const auto& strip : strips) {
        Samples picture{1000, strip.rows, 3, 8, Values(size_t{3000} * strip.rows)};
        uint32_t noise = 12345;
        for (size_t i = 0; i < picture.values.size(); ++i) {
            noise = noise * 1103515245u + 12345u;
            picture.values[i] = static_cast<uint16_t>(strip.noise ? noise >> 24 : (i / 3 % 1000 + i / 3000) / 8);
        }
        Write(Path("whole.tif"), rgb, kCodings[4], 1, picture, oneStrip, false);
        const Bytes shown = ReadAsBmp(Path("whole.tif"));
        for (const Damage damage : {kWhole, kCut, kBadBlock, kBadChecksum}) {
            SCOPED_TRACE(testing::Message() << strip.name << ", damage " << damage);
            Bytes file = ReadFile(Path("whole.tif"));
            const uint32_t offset = ValueOf(file, 273);
            const uint32_t bytes = ValueOf(file, 279);
            if (damage == kCut) {
                SetValue(file, 279, bytes / 2);
            } else if (damage == kBadBlock) {
                file.at(offset + 2) = 0x07;  // the last block, of the reserved type 3
            } else if (damage == kBadChecksum) {
                file.at(offset + bytes - 1) ^= 0x55;
            }
            WriteFile(Path("peer.tif"), file);
            std::remove(Path("out.bmp").c_str());
            KestovaOptions options = {sizeof options, 0, 0, 0, 0, 0, 0};
            const int32_t result = KestovaConvert(Path16("peer.tif").c_str(), Path16("out.bmp").c_str(), &options);
            if (damage != kWhole) {
                EXPECT_EQ(result, KESTOVATIFF_ERROR_FORMAT);
                EXPECT_EQ(options.reason, KESTOVA_REASON_CODED_DATA) << KestovaReasonText(options.reason);
                EXPECT_EQ(options.reasonValue, 8u);
                EXPECT_EQ(Names(), (std::vector<std::string>{"peer.tif", "whole.tif"}));
            } else {
                ASSERT_EQ(result, KESTOVATIFF_OK);
                EXPECT_TRUE(ReadFile(Path("out.bmp")) == shown);
            }
        }
    }
    g_messages.clear();
}

// A zlib stream of one block in the fixed codes: literals, and wherever
// the 258 bytes ahead repeat those 3 back, a match of 258 coded as
// `lengthCode`: 285, or 286 or 287, which the format reserves.
Bytes FixedCodeDeflate(const Bytes& bytes, uint32_t lengthCode)
{
    Bytes out = {0x78, 0x01};
    uint32_t bits = 0;
    int count = 0;
    const auto put = [&](uint32_t value, int n) {  // first bit lowest
        bits |= value << count;
        for (count += n; count >= 8; count -= 8, bits >>= 8) {
            out.push_back(static_cast<uint8_t>(bits));
        }
    };
    const auto code = [&](uint32_t value, int n) {  // Huffman codes go highest bit first
        for (int i = n - 1; i >= 0; --i) {
            put(value >> i & 1, 1);
        }
    };
    put(3, 3);  // the last block, fixed codes
    for (size_t i = 0; i < bytes.size();) {
        if (i >= 3 && bytes.size() - i >= 258 && std::equal(&bytes[i], &bytes[i] + 258, &bytes[i - 3])) {
            code(0xC0 + lengthCode - 280, 8);
            code(2, 5);  // distance 3
            i += 258;
        } else if (bytes[i] < 144) {
            code(0x30 + bytes[i++], 8);
        } else {
            code(0x190 + bytes[i++] - 144, 9);
        }
    }
    code(0, 7);  // the block's end
    put(0, 7);
    uint32_t a = 1;
    uint32_t b = 0;
    for (const uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (const uint32_t v : {b >> 8, b, a >> 8, a}) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

// Matches of 258 coded as 286, which the format reserves and no encoder
// writes: libdeflate, which inflates strips that fit its arena (decoded
// and stored bytes within 1 MiB), reads 286 as 285, a length of 258, so
// the strip converts as libtiff shows it coded with 285; zlib, which
// streams the larger ones, refuses it for its coded data, nothing written.
// Pins today's behaviour on either side.
TEST_F(LibtiffPeerTest, DeflateReservedLengthCodeEitherSideOfTheWholeBufferArena)
{
    const Kind rgb = {"RGB", PHOTOMETRIC_RGB, 8, 3};
    const Layout oneStrip = {"one strip", "wl", 0, 0, false, false};
    const struct {
        uint32_t rows;
        uint32_t lengthCode;
        bool converts;
    } cases[] = {{345, 285, true}, {345, 286, true}, {350, 285, true}, {350, 286, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << " rows, length code " << c.lengthCode);
        // A colour for 64 rows at a time: 3000 bytes a row decoded, a few
        // dozen stored, so that decoded and stored bytes together fit the
        // arena at 345 rows and not at 350.
        Samples picture{1000, c.rows, 3, 8, Values(size_t{3000} * c.rows)};
        Bytes decoded(picture.values.size());
        for (size_t i = 0; i < decoded.size(); ++i) {
            decoded[i] = static_cast<uint8_t>(i % 3 * 80 + i / 3000 / 64);
            picture.values[i] = decoded[i];
        }
        Write(Path("whole.tif"), rgb, kCodings[4], 1, picture, oneStrip, false);
        const Bytes shown = ReadAsBmp(Path("whole.tif"));
        Bytes file = ReadFile(Path("whole.tif"));
        const Bytes stream = FixedCodeDeflate(decoded, c.lengthCode);
        ASSERT_EQ(stream.size() + decoded.size() <= size_t{1} << 20, c.rows == 345);
        SetValue(file, 273, static_cast<uint32_t>(file.size()));
        SetValue(file, 279, static_cast<uint32_t>(stream.size()));
        file.insert(file.end(), stream.begin(), stream.end());
        WriteFile(Path("peer.tif"), file);
        std::remove(Path("out.bmp").c_str());
        KestovaOptions options = {sizeof options, 0, 0, 0, 0, 0, 0};
        const int32_t result = KestovaConvert(Path16("peer.tif").c_str(), Path16("out.bmp").c_str(), &options);
        if (c.converts) {
            ASSERT_EQ(result, KESTOVATIFF_OK);
            EXPECT_TRUE(ReadFile(Path("out.bmp")) == shown);
        } else {
            EXPECT_EQ(result, KESTOVATIFF_ERROR_FORMAT);
            EXPECT_EQ(options.reason, KESTOVA_REASON_CODED_DATA) << KestovaReasonText(options.reason);
            EXPECT_EQ(options.reasonValue, 8u);
            EXPECT_EQ(Names(), (std::vector<std::string>{"peer.tif", "whole.tif"}));
        }
    }
    g_messages.clear();
}

// Bilevel pictures as libtiff's tools and Pillow code them: tiffcp in each
// fax coding, in strips and tiles, either FillOrder; fax2tiff from a raw
// group 3 stream (its default output: 2-D, EOLs byte-aligned, FillOrder 2,
// white at zero) and to group 4. Each tool is skipped where it is missing.
TEST_F(LibtiffPeerTest, FaxFilesLibtiffsToolsAndPillowWrite)
{
    const auto have = [](const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    };
    const Layout oneStrip = {"one strip", "wl", 0, 0, false, false};
    const std::string in = Path("in.tif");
    const std::string out = Path("peer.tif");
    const std::string raw = Path("raw.g3");
    // Debian's python3-pil is for /usr/bin/python3, which may not be the first on PATH.
    const std::string python = have("python3 -c 'import PIL'") ? "python3" : "/usr/bin/python3";
    const std::string pillow = python + " -c \"import sys; from PIL import Image; "
                               "Image.open(sys.argv[1]).save(sys.argv[2], compression=sys.argv[3])\" ";
    const std::string commands[] = {
        "tiffcp -c g3 " + in + " " + out,
        "tiffcp -c g3:2d " + in + " " + out,
        "tiffcp -c g3:2d:fill " + in + " " + out,
        "tiffcp -c g3:fill -r 7 " + in + " " + out,
        "tiffcp -c g4 " + in + " " + out,
        "tiffcp -c g4 -f lsb2msb -r 8 " + in + " " + out,
        "tiffcp -c g4 -t -w 32 -l 16 " + in + " " + out,
        "tiffcp -c g3:2d -t -w 16 -l 32 -f lsb2msb " + in + " " + out,
        "fax2tiff -M -X 300 -o " + out + " " + raw,
        "fax2tiff -M -X 300 -8 -m -o " + out + " " + raw,
        "fax2tiff -M -X 300 -5 -p -o " + out + " " + raw,
        pillow + in + " " + out + " group3",
        pillow + in + " " + out + " group4",
    };
    for (const uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
        // Text-like: runs of black and white of every length up to a few dozen.
        Samples picture{300, 40, 1, 1, Values(size_t{300} * 40)};
        for (size_t i = 0; i < picture.values.size(); ++i) {
            picture.values[i] = static_cast<uint8_t>((i % 300 / (1 + i / 300 % 7) + i / 1200) % 3 == 0);
        }
        Write(in, {"bilevel", photometric, 1}, kCodings[0], 1, picture, oneStrip, false);
        // A raw group 3 stream, 1-D, for fax2tiff.
        ASSERT_TRUE(!have("tiffcp -c g3 -r 1000 " + in + " " + out) || [&] {
            TIFF* tiff = TIFFOpen(out.c_str(), "r");
            Bytes data(1u << 16);
            const tmsize_t size = TIFFReadRawStrip(tiff, 0, data.data(), static_cast<tmsize_t>(data.size()));
            TIFFClose(tiff);
            data.resize(static_cast<size_t>(std::max<tmsize_t>(size, 0)));
            WriteFile(raw, data);
            return size > 0;
        }());
        for (const std::string& command : commands) {
            SCOPED_TRACE(command + (photometric == PHOTOMETRIC_MINISWHITE ? ", white at zero" : ", black at zero"));
            std::remove(out.c_str());
            if (!have(command)) {
                std::cout << "skipped (the tool, or its coding, is missing): " << command << "\n";
                continue;
            }
            std::remove(Path("out.bmp").c_str());
            ASSERT_EQ(Tiff2Bmp(U16(out).c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
            EXPECT_EQ(ReadFile(Path("out.bmp")), ReadAsBmp(out));
            EXPECT_EQ(g_messages, "");
            g_messages.clear();
        }
    }
}

// RGB of fewer than 8 bits a sample, and grey with alpha at those depths,
// which libtiff's RGBA reading refuses: each sample scaled as grey is,
// v * 255 / (2^n - 1) rounded, against the samples libtiff wrote.
TEST_F(LibtiffPeerTest, SamplesOfFewerBitsScaleAsGrey)
{
    const Layout strips = {"strips", "wb", 5, 0, false, false};
    for (const uint16_t bits : {1, 2, 4}) {
        const Kind kinds[] = {
            {"RGB", PHOTOMETRIC_RGB, bits, 3},
            {"RGB + an unspecified sample", PHOTOMETRIC_RGB, bits, 4, EXTRASAMPLE_UNSPECIFIED},
            {"RGB + alpha", PHOTOMETRIC_RGB, bits, 4},
            {"grey + alpha", PHOTOMETRIC_MINISBLACK, bits, 2},
            {"white-at-zero grey + associated alpha", PHOTOMETRIC_MINISWHITE, bits, 2, EXTRASAMPLE_ASSOCALPHA},
            {"grey + alpha, a pixel see-through", PHOTOMETRIC_MINISBLACK, bits, 2, EXTRASAMPLE_UNASSALPHA, true},
        };
        for (const Kind& kind : kinds) {
            for (const Coding& coding : {kCodings[0], kCodings[2]}) {
                SCOPED_TRACE(testing::Message() << bits << "-bit " << kind.name << ", " << coding.name);
                const Samples samples = MakeSamples(kind, 13, 11);
                Write(Path("peer.tif"), kind, coding, 1, samples, strips, false);
                std::remove(Path("out.bmp").c_str());
                const int32_t result = Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str());
                if (kind.seeThrough) {
                    EXPECT_EQ(result, KESTOVATIFF_ERROR_FORMAT);
                    EXPECT_EQ(Names(), std::vector<std::string>{"peer.tif"});
                    continue;
                }
                ASSERT_EQ(result, KESTOVATIFF_OK);
                const unsigned most = (1u << bits) - 1;
                Picture shown{13, 11, Bytes(size_t{13} * 11 * 3)};
                for (size_t p = 0; p < size_t{13} * 11; ++p) {
                    for (size_t c = 0; c < 3; ++c) {
                        unsigned v = samples.values[p * kind.samples + (kind.photometric == PHOTOMETRIC_RGB ? c : 0)];
                        v = kind.photometric == PHOTOMETRIC_MINISWHITE ? most - v : v;
                        shown.rgb[3 * p + c] = static_cast<uint8_t>((v * 255 + most / 2) / most);
                    }
                }
                EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(shown));
            }
        }
    }
}

// Samples of 9 to 16 bits libtiff writes (16 in the file's byte order,
// differences summed modulo 2^16; 9 to 15 packed across bytes, where it
// has no predictor), in each coding, layout and turn: with
// KESTOVA_FLAG_REDUCE each value v of n bits becomes
// round(v * 255 / (2^n - 1)), alpha reduced too and then opaque or
// refused; without it, refused with their reason and bits.
TEST_F(LibtiffPeerTest, DeepSamplesReduceOnRequest)
{
    const Kind kinds[] = {
        {"grey", PHOTOMETRIC_MINISBLACK, 16, 1},
        {"white-at-zero grey", PHOTOMETRIC_MINISWHITE, 16, 1},
        {"grey + alpha", PHOTOMETRIC_MINISBLACK, 16, 2},
        {"RGB", PHOTOMETRIC_RGB, 16, 3},
        {"RGB + alpha", PHOTOMETRIC_RGB, 16, 4},
        {"RGB + alpha, a pixel see-through", PHOTOMETRIC_RGB, 16, 4, EXTRASAMPLE_UNASSALPHA, true},
        {"12-bit grey", PHOTOMETRIC_MINISBLACK, 12, 1},
        {"9-bit white-at-zero grey", PHOTOMETRIC_MINISWHITE, 9, 1},
        {"15-bit grey + alpha", PHOTOMETRIC_MINISBLACK, 15, 2},
        {"10-bit RGB", PHOTOMETRIC_RGB, 10, 3},
        {"13-bit RGB", PHOTOMETRIC_RGB, 13, 3},
        {"11-bit RGB + alpha", PHOTOMETRIC_RGB, 11, 4},
        {"14-bit RGB + alpha, a pixel see-through", PHOTOMETRIC_RGB, 14, 4, EXTRASAMPLE_UNASSALPHA, true},
    };
    const Layout layouts[] = {
        {"strips", "wb", 5, 0, false, false},    {"strips of a row", "wl", 1, 0, false, false},
        {"tiles", "wl", 0, 16, false, false},    {"planes in strips", "wl", 5, 0, true, false},
        {"planes in tiles", "w8b", 0, 16, true, false},
    };
    uint32_t turn = 0;
    // Each kind 21 and 2100 pixels wide: rows decoded many at a time, and
    // rows of several pieces, the predictor's sums carried between them.
    for (size_t run = 0; run < 2 * std::size(kinds); ++run) {
        const Kind& kind = kinds[run / 2];
        const uint32_t width = run % 2 == 0 ? 21 : 2100;
        const uint32_t colours = kind.photometric == PHOTOMETRIC_RGB ? 3 : 1;
        const uint32_t most = (1u << kind.bits) - 1;
        // The ends, and each side of where the rounding goes to 1 and to 128.
        const uint32_t edges[] = {0, most / 510, most / 510 + 1, most / 2, most / 2 + 1, most - 1, most};
        Samples samples = MakeSamples(kind, width, 9);
        for (size_t i = 0; i < std::size(edges); ++i) {
            samples.values[(i + 1) * kind.samples] = static_cast<uint16_t>(edges[i]);  // pixels 1 to 7's first
        }
        Picture stored{width, 9, Bytes(size_t{width} * 9 * 3)};
        for (size_t p = 0; p < size_t{width} * 9; ++p) {
            for (size_t c = 0; c < 3; ++c) {
                unsigned v = samples.values[p * kind.samples + (colours == 3 ? c : 0)];
                v = kind.photometric == PHOTOMETRIC_MINISWHITE ? most - v : v;
                stored.rgb[3 * p + c] = static_cast<uint8_t>((v * 255 + most / 2) / most);
            }
        }
        for (const Layout& layout : layouts) {
            // libtiff differences 8, 16, 32 and 64 bits only.
            const bool packed = kind.bits != 16;
            for (const Coding& coding : {kCodings[0], kCodings[1], kCodings[packed ? 2 : 3], kCodings[packed ? 4 : 5]}) {
                const auto orientation = static_cast<uint16_t>(1 + turn++ % 8);
                SCOPED_TRACE(testing::Message() << kind.name << ", " << width << " wide, " << layout.name << " (" << layout.mode << "), "
                                                << coding.name << ", Orientation " << orientation);
                Write(Path("deep.tif"), kind, coding, orientation, samples, layout, false);
                for (const uint32_t flags : {0u, KESTOVA_FLAG_REDUCE}) {
                    std::remove(Path("out.bmp").c_str());
                    KestovaOptions options = {sizeof options, flags, 0, 0, 0, 0, 0};
                    const int32_t result =
                        KestovaConvert(Path16("deep.tif").c_str(), Path16("out.bmp").c_str(), &options);
                    // Grey's planes are not read at any depth.
                    if (flags == 0 || kind.seeThrough || (layout.planar && colours == 1 && kind.samples > 1)) {
                        EXPECT_EQ(result, KESTOVATIFF_ERROR_FORMAT);
                        EXPECT_EQ(options.reason, flags == 0 ? KESTOVA_REASON_DEEP_SAMPLES : options.reason);
                        EXPECT_EQ(options.reasonValue, flags == 0 ? kind.bits : options.reasonValue);
                        EXPECT_EQ(Names(), std::vector<std::string>{"deep.tif"});
                        continue;
                    }
                    EXPECT_EQ(result, KESTOVATIFF_OK);
                    EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(Shown(stored, orientation)));
                }
            }
        }
    }
}

// Narrow pictures in the tiles writers use for everything (256 x 256):
// 16 x 60000 decodes 46 MB of tiles for 3 MB of pixels, and its side
// turned, tiles far below the picture. Each converts to what libtiff
// reads, within 0.5 s of processor time where the library runs at full
// speed (refused before the bound on tiles' work granted such waste).
TEST_F(LibtiffPeerTest, NarrowPicturesInCommonTiles)
{
    const Layout tiles{"Tiles256", "wl", 0, 256, false, false};
    for (const auto& [width, height] : {std::pair{16u, 60000u}, {60000u, 16u}}) {
        Samples picture{width, height, 3, 8, Values(size_t{3} * width * height)};
        for (size_t i = 0; i < picture.values.size(); ++i) {
            picture.values[i] = static_cast<uint8_t>(i % 7 == 0 ? i * 2654435761u >> 13 : i / 4096);
        }
        for (const size_t c : {1, 2, 4}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height << ", " << kCodings[c].name);
            Write(Path("peer.tif"), Kinds()[0], kCodings[c], ORIENTATION_TOPLEFT, picture, tiles, false);
            const std::clock_t start = std::clock();
            ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
            const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#if KESTOVATIFF_FULL_SPEED
            EXPECT_LT(seconds, 0.5);
#endif
            EXPECT_TRUE(ReadFile(Path("out.bmp")) == ReadAsBmp(Path("peer.tif"))) << seconds;
        }
    }
}

// Small tiles across pictures wider than a band of them, decoded band by
// band and gathered into blocks of whole BMP rows (through a scratch file),
// or written a band row at a time where a BMP row is too wide for a block
// (12000 pixels): tiles of 16 and 64, the last column and row of them
// partial, in the codings that leave the decoded bands more or less room.
// And planes interleaved 16 pixels at a time and the rest one by one. All
// mirrored and bottom row first too, against what libtiff reads.
TEST_F(LibtiffPeerTest, TilesAndPlanesAcrossWidePictures)
{
    struct Case {
        uint32_t width, height;
        Layout layout;
    };
    const Case cases[] = {
        {1000, 40, {"tiles of 16", "wl", 0, 16, false, false}},
        {300, 150, {"tiles of 64", "wl", 0, 64, false, false}},
        {130, 70, {"tiles of 64", "wb", 0, 64, false, false}},
        {12000, 20, {"tiles of 64", "wl", 0, 64, false, false}},
        {70, 9, {"planes in strips", "wl", 5, 0, true, false}},
        {300, 40, {"planes in tiles of 16", "wl", 0, 16, true, false}},
    };
    for (const Case& c : cases) {
        const Samples picture = MakeSamples(Kinds()[0], c.width, c.height);
        for (const size_t coding : {0, 1, 3, 4}) {
            for (uint16_t orientation = 1; orientation <= 4; ++orientation) {
                SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " in " << c.layout.name << ", "
                                                << kCodings[coding].name << ", orientation " << orientation);
                Write(Path("peer.tif"), Kinds()[0], kCodings[coding], orientation, picture, c.layout, false);
                ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
                EXPECT_TRUE(ReadFile(Path("out.bmp")) == ReadAsBmp(Path("peer.tif")));
            }
        }
    }
}

// What libtiff's RGBA reading makes of a YCbCr form: the colours of the
// conversion's formulas (within 1), others, or nothing ("can not handle").
enum class Libtiff { Agrees, Departs, Refuses };

// A YCbCr form: its subsampling, coding, chunks and fields.
struct YCbCrForm {
    const char* name;
    uint16_t across, down;  // YCbCrSubSampling
    uint16_t compression;
    uint32_t rowsPerStrip;  // 0: tiles
    uint32_t tileWidth, tileHeight;
    uint16_t orientation;
    std::vector<float> luma;   // YCbCrCoefficients, empty for the default
    std::vector<float> range;  // ReferenceBlackWhite, empty for the default
    Libtiff libtiff = Libtiff::Agrees;
    uint32_t width = 37, height = 23;
    bool predictor = false;
    bool planar = false;  // unsubsampled only
};

// Luma and chroma codes by place: chroma by the block's, so that every
// chunk's data units are cut from one picture.
uint8_t Code(uint32_t x, uint32_t y, uint32_t channel)
{
    return static_cast<uint8_t>(((x * 73856093u) ^ (y * 19349663u) ^ (channel * 83492791u)) >> 7);
}

// The data units of the chunk at (x0, y0), `width` x `rows` rounded up to
// whole blocks.
Bytes DataUnits(const YCbCrForm& f, uint32_t x0, uint32_t y0, uint32_t width, uint32_t rows)
{
    Bytes units;
    for (uint32_t by = y0; by < y0 + rows; by += f.down) {
        for (uint32_t bx = x0; bx < x0 + width; bx += f.across) {
            for (uint32_t y = by; y < by + f.down; ++y) {
                for (uint32_t x = bx; x < bx + f.across; ++x) {
                    units.push_back(Code(x, y, 0));
                }
            }
            units.push_back(Code(bx / f.across, by / f.down, 1));
            units.push_back(Code(bx / f.across, by / f.down, 2));
        }
    }
    return units;
}

// The picture as the conversion of YCbCr to RGB is written: each code by
// ReferenceBlackWhite to a value, then R = Cr (2 - 2 LumaRed) + Y,
// B = Cb (2 - 2 LumaBlue) + Y, G = (Y - LumaBlue B - LumaRed R) / LumaGreen,
// each rounded and held to 0 to 255; each block's chroma over all its pixels.
Picture ConvertedBySection21(const YCbCrForm& f)
{
    const std::vector<double> luma = f.luma.empty() ? std::vector<double>{0.299, 0.587, 0.114}
                                                    : std::vector<double>(f.luma.begin(), f.luma.end());
    const std::vector<double> range = f.range.empty() ? std::vector<double>{0, 255, 128, 255, 128, 255}
                                                      : std::vector<double>(f.range.begin(), f.range.end());
    const auto level = [](double v) { return static_cast<uint8_t>(std::clamp<long>(std::lround(v), 0, 255)); };
    Picture picture{f.width, f.height, {}};
    for (uint32_t y = 0; y < f.height; ++y) {
        for (uint32_t x = 0; x < f.width; ++x) {
            const uint32_t bx = x / f.across, by = y / f.down;
            const double yv = (Code(x, y, 0) - range[0]) * 255 / (range[1] - range[0]);
            const double cb = (Code(bx, by, 1) - range[2]) * 127 / (range[3] - range[2]);
            const double cr = (Code(bx, by, 2) - range[4]) * 127 / (range[5] - range[4]);
            const double r = cr * (2 - 2 * luma[0]) + yv;
            const double b = cb * (2 - 2 * luma[2]) + yv;
            const double g = (yv - luma[2] * b - luma[0] * r) / luma[1];
            picture.rgb.insert(picture.rgb.end(), {level(r), level(g), level(b)});
        }
    }
    return Shown(picture, f.orientation);
}

const YCbCrForm kYCbCrForms[] = {
    {"1x1 uncompressed strips", 1, 1, COMPRESSION_NONE, 5, 0, 0, 1, {}, {}},
    {"1x1 uncompressed planes", 1, 1, COMPRESSION_NONE, 5, 0, 0, 3, {}, {}, Libtiff::Agrees, 37, 23, false, true},
    {"1x1 LZW planes in tiles", 1, 1, COMPRESSION_LZW, 0, 16, 16, 2, {}, {}, Libtiff::Agrees, 37, 23, false, true},
    {"1x1 Deflate tiles, differenced", 1, 1, COMPRESSION_ADOBE_DEFLATE, 0, 16, 16, 2, {}, {}, Libtiff::Agrees, 37, 23,
     true},
    {"2x1 PackBits strips", 2, 1, COMPRESSION_PACKBITS, 4, 0, 0, 2, {}, {}},
    {"1x2 LZW strips", 1, 2, COMPRESSION_LZW, 6, 0, 0, 1, {}, {}},
    {"2x2 LZW strips", 2, 2, COMPRESSION_LZW, 6, 0, 0, 3, {}, {}},
    {"2x2 uncompressed tiles", 2, 2, COMPRESSION_NONE, 0, 16, 16, 4, {}, {}},
    // Rows and columns exchanged, through the first pass's scratch picture.
    {"2x2 LZW strips, orientation 6", 2, 2, COMPRESSION_LZW, 6, 0, 0, 6, {}, {}},
    {"4x2 Deflate tiles, orientation 7", 4, 2, COMPRESSION_ADOBE_DEFLATE, 0, 16, 16, 7, {}, {}},
    {"1x1 LZW planes, orientation 5", 1, 1, COMPRESSION_LZW, 5, 0, 0, 5, {}, {}, Libtiff::Agrees, 37, 23, false, true},
    {"2x1 PackBits strips, orientation 8", 2, 1, COMPRESSION_PACKBITS, 4, 0, 0, 8, {}, {}},
    {"2x2 PackBits, other weights", 2, 2, COMPRESSION_PACKBITS, 8, 0, 0, 1, {0.25f, 0.625f, 0.125f}, {}},
    // libtiff truncates where the references are not the default.
    {"2x2 Deflate, studio range", 2, 2, COMPRESSION_ADOBE_DEFLATE, 10, 0, 0, 1, {}, {16, 235, 128, 240, 128, 240},
     Libtiff::Departs},
    // Taller blocks than wide, which the format does not foresee and libtiff
    // converts only as 1 x 2; laid out alike.
    {"1x4 Deflate strips", 1, 4, COMPRESSION_ADOBE_DEFLATE, 8, 0, 0, 1, {}, {}, Libtiff::Refuses},
    {"2x4 uncompressed strips", 2, 4, COMPRESSION_NONE, 4, 0, 0, 2, {}, {}, Libtiff::Refuses},
    {"4x1 LZW tiles", 4, 1, COMPRESSION_LZW, 0, 16, 16, 3, {}, {}},
    {"4x2 Deflate tiles", 4, 2, COMPRESSION_ADOBE_DEFLATE, 0, 16, 32, 4, {}, {}},
    {"4x4 uncompressed, one strip", 4, 4, COMPRESSION_NONE, 0, 0, 0, 1, {}, {}},
    // libtiff gives 4 x 4 blocks cut by a tile's right edge, and some cut by
    // the picture's, colours of other pixels.
    {"4x4 LZW tiles", 4, 4, COMPRESSION_LZW, 0, 32, 16, 2, {}, {}, Libtiff::Departs},
    {"4x4 PackBits strips", 4, 4, COMPRESSION_PACKBITS, 8, 0, 0, 1, {}, {}},
    // Rows of blocks wider than the window: each piece goes out row by row.
    {"4x4 LZW strips, wide", 4, 4, COMPRESSION_LZW, 8, 0, 0, 2, {}, {}, Libtiff::Departs, 3001, 9},
    {"4x4 Deflate tiles, wide", 4, 4, COMPRESSION_ADOBE_DEFLATE, 0, 2048, 16, 3, {}, {}, Libtiff::Departs, 2101, 19},
    {"2x2 uncompressed strips, wide", 2, 2, COMPRESSION_NONE, 4, 0, 0, 4, {}, {}, Libtiff::Agrees, 12001, 5},
};

// YCbCr as libtiff writes it, each subsampling in each coding, against the
// formulas of the conversion (exactly) and libtiff's RGBA reading (within 1
// a channel, where the two round differently). Where libtiff departs from
// the formulas (marked), the formulas hold.
TEST_F(LibtiffPeerTest, YCbCrConvertsByTheFormulas)
{
    for (const YCbCrForm& f : kYCbCrForms) {
        SCOPED_TRACE(f.name);
        TIFF* tiff = TIFFOpen(Path("peer.tif").c_str(), "w");
        ASSERT_NE(tiff, nullptr);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, f.width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, f.height);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, f.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, f.compression);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, f.orientation);
        // Plane p of unsubsampled units: every third byte from p.
        const auto plane = [&](const Bytes& units, uint16_t p) {
            Bytes samples;
            for (size_t i = p; i < units.size(); i += 3) {
                samples.push_back(units[i]);
            }
            return f.planar ? samples : units;
        };
        const uint16_t planes = f.planar ? 3 : 1;
        TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, f.across, f.down);
        TIFFSetField(tiff, TIFFTAG_YCBCRPOSITIONING, f.across % 2 == 0 ? YCBCRPOSITION_COSITED : YCBCRPOSITION_CENTERED);
        if (f.predictor) {
            TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        }
        if (!f.luma.empty()) {
            TIFFSetField(tiff, TIFFTAG_YCBCRCOEFFICIENTS, f.luma.data());
        }
        if (!f.range.empty()) {
            TIFFSetField(tiff, TIFFTAG_REFERENCEBLACKWHITE, f.range.data());
        }
        if (f.tileWidth != 0) {
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, f.tileWidth);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, f.tileHeight);
            for (uint16_t p = 0; p < planes; ++p) {
                for (uint32_t y0 = 0; y0 < f.height; y0 += f.tileHeight) {
                    for (uint32_t x0 = 0; x0 < f.width; x0 += f.tileWidth) {
                        Bytes units = plane(DataUnits(f, x0, y0, f.tileWidth, f.tileHeight), p);
                        ASSERT_GT(TIFFWriteEncodedTile(tiff, TIFFComputeTile(tiff, x0, y0, 0, p), units.data(),
                                                       static_cast<tmsize_t>(units.size())), 0);
                    }
                }
            }
        } else {
            const uint32_t rowsPerStrip = f.rowsPerStrip != 0 ? f.rowsPerStrip : f.height;
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
            for (uint16_t p = 0; p < planes; ++p) {
                for (uint32_t y0 = 0; y0 < f.height; y0 += rowsPerStrip) {
                    Bytes units = plane(DataUnits(f, 0, y0, f.width, std::min(rowsPerStrip, f.height - y0)), p);
                    ASSERT_GE(TIFFWriteEncodedStrip(tiff, TIFFComputeStrip(tiff, y0, p), units.data(),
                                                    static_cast<tmsize_t>(units.size())), 0);
                }
            }
        }
        TIFFClose(tiff);
        ASSERT_EQ(g_messages, "");
        ASSERT_EQ(Tiff2Bmp(Path16("peer.tif").c_str(), Path16("out.bmp").c_str()), KESTOVATIFF_OK);
        const Bytes ours = ReadFile(Path("out.bmp"));
        EXPECT_TRUE(ours == BmpFile(ConvertedBySection21(f)));
        if (f.libtiff == Libtiff::Refuses) {
            continue;
        }
        const Bytes theirs = ReadAsBmp(Path("peer.tif"));
        ASSERT_EQ(ours.size(), theirs.size());
        size_t apart = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            apart += std::abs(ours[i] - theirs[i]) > 1 ? 1 : 0;
        }
        EXPECT_EQ(apart > 0, f.libtiff == Libtiff::Departs) << apart << " bytes more than 1 apart";
    }
}

// The YCbCr fields and data as other writers may store them, or damaged:
// each converts by the formulas or is refused with nothing written.
TEST_F(LibtiffPeerTest, YCbCrFieldsAreCheckedAndDefaulted)
{
    YCbCrForm f{"2x2", 2, 2, COMPRESSION_NONE, 0, 0, 0, 1, {}, {}};
    f.width = 9;
    f.height = 6;
    const Bytes units = DataUnits(f, 0, 0, f.width, f.height);
    const Bytes lzw = tiff_encoders::Lzw(units.data(), units.size());
    const size_t blockRow = 5 * 6;  // 5 data units across of 6 bytes
    Bytes longer = units;
    longer.insert(longer.end(), units.begin(), units.begin() + blockRow);
    const TiffEntry ycbcr = {262, 3, {6}};
    struct Case {
        const char* name;
        std::vector<TiffEntry> changes;
        Bytes strip;
        std::vector<float> range = {};  // the references converted with, if it converts
        bool converts = false;
        size_t strips = 1;
    };
    const Case cases[] = {
        {"no YCbCrSubSampling: 2 x 2", {ycbcr}, units, {}, true},
        {"ReferenceBlackWhite in LONGs", {ycbcr, {532, 4, {10, 200, 120, 250, 100, 240}}}, units,
         {10, 200, 120, 250, 100, 240}, true},
        {"ReferenceBlackWhite in RATIONALs", {ycbcr, {532, 5, {20, 2, 200, 1, 240, 2, 250, 1, 200, 2, 240, 1}}},
         units, {10, 200, 120, 250, 100, 240}, true},
        {"YCbCrPositioning 2", {ycbcr, {531, 3, {2}}}, units, {}, true},
        {"subsampling 3 x 1", {ycbcr, {530, 3, {3, 1}}}, units},
        {"subsampling 8 x 8", {ycbcr, {530, 3, {8, 8}}}, units},
        {"subsampling of three values", {ycbcr, {530, 3, {2, 2, 2}}}, units},
        {"YCbCrPositioning 3", {ycbcr, {531, 3, {3}}}, units},
        {"LumaGreen 0", {ycbcr, {529, 5, {299, 1000, 0, 1, 114, 1000}}}, units},
        {"coefficients in SHORTs", {ycbcr, {529, 3, {0, 1, 0}}}, units},
        {"a zero denominator", {ycbcr, {529, 5, {299, 0, 587, 1000, 114, 1000}}}, units},
        {"Cb's black its white", {ycbcr, {532, 4, {0, 255, 128, 128, 128, 255}}}, units},
        {"five references", {ycbcr, {532, 4, {0, 255, 128, 255, 128}}}, units},
        {"RowsPerStrip as a RATIONAL", {ycbcr, {278, 5, {6, 1}}}, units},
        {"4-bit samples", {ycbcr, {258, 3, {4, 4, 4}}}, units},
        {"four samples", {ycbcr, {277, 3, {4}}, {258, 3, {8, 8, 8, 8}}}, units},
        {"in planes", {ycbcr, {284, 3, {2}}}, units, {}, false, 3},
        {"a strip short of a data unit", {ycbcr}, Bytes(units.begin(), units.end() - 1)},
        {"LZW, differenced", {ycbcr, {259, 3, {5}}, {317, 3, {2}}}, lzw},
        {"LZW", {ycbcr, {259, 3, {5}}}, lzw, {}, true},
        {"LZW, a row of blocks short", {ycbcr, {259, 3, {5}}}, tiff_encoders::Lzw(units.data(), units.size() - blockRow)},
        // More than the strip's rows: its rows, the rest ignored, as in every coding.
        {"LZW, a row of blocks over", {ycbcr, {259, 3, {5}}}, tiff_encoders::Lzw(longer.data(), longer.size()), {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffForm form;
        form.changes = c.changes;
        form.chunks.assign(c.strips, c.strip);
        std::remove(Path("out.bmp").c_str());
        WriteFile(Path("in.tif"), TiffFile(Picture{f.width, f.height, {}}, form));
        const int32_t result = Tiff2Bmp(Path16("in.tif").c_str(), Path16("out.bmp").c_str());
        if (!c.converts) {
            EXPECT_EQ(result, KESTOVATIFF_ERROR_FORMAT);
            EXPECT_EQ(Names(), std::vector<std::string>{"in.tif"});
            continue;
        }
        ASSERT_EQ(result, KESTOVATIFF_OK);
        f.range = c.range;
        EXPECT_TRUE(ReadFile(Path("out.bmp")) == BmpFile(ConvertedBySection21(f)));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LibtiffFormsTest, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace testing_files

#else

TEST(LibtiffPeerTest, NeedsLibtiff)
{
    GTEST_SKIP() << "libtiff was not found when this was configured: install libtiff-dev to run the peer tests";
}

#endif
