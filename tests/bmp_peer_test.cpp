// Pillow, ImageMagick and netpbm as peers: the BMPs each writes convert to
// the pixels it decodes from them itself. A missing tool skips its test
// with a message; where CI is set it fails it (CI installs them all).

#include <sys/wait.h>

#include <cstdlib>

#include "bmp_forms.h"
#include "kestovatiff.h"

namespace testing_files {
namespace {

#define NEED_TOOL(have, what)                                                                \
    do {                                                                                     \
        if (!(have)) {                                                                       \
            if (std::getenv("CI") != nullptr) {                                              \
                FAIL() << what << " is missing, and CI must run the peer tests";             \
            }                                                                                \
            GTEST_SKIP() << what << " not found: install it to run these peer tests";       \
        }                                                                                    \
    } while (0)

struct Written {
    const char* name;
    std::string write;  // a command writing {bmp} from {in}
    uint32_t infoSize;
    uint16_t bits;
    uint32_t compression;
    int tolerance;  // channels of fewer than 8 bits: the peers scale without rounding
};

class BmpPeerTest : public ScratchDir {
protected:
    // Runs the command with {python}, {in}, {bmp} and {rgb} filled in; its
    // error output becomes the failure's message.
    bool Run(std::string command)
    {
        const std::pair<std::string, std::string> names[] = {
            {"{python}", python_}, {"{in}", Path("in.ppm")}, {"{bmp}", Path("peer.bmp")}, {"{rgb}", Path("peer.rgb")}};
        for (const auto& [name, value] : names) {
            for (size_t at; (at = command.find(name)) != std::string::npos;) {
                command.replace(at, name.size(), value);
            }
        }
        const int status = std::system((command + " 2>" + Path("stderr")).c_str());
        if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            return true;
        }
        const Bytes error = ReadFile(Path("stderr"));
        ADD_FAILURE() << command << ": " << std::string(error.begin(), error.end());
        return false;
    }
    static bool Have(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
    bool HavePillow()
    {
        for (const char* python : {"python3", "/usr/bin/python3"}) {  // Debian's python3-pil is for the latter
            if (Have(std::string(python) + " -c 'import PIL'")) {
                python_ = python;
                return true;
            }
        }
        return false;
    }

    // For pictures of two odd sizes (runs of 3, colours apart): the peer
    // writes the form meant, which converts to the pixels `decode` gives
    // (raw RGB or a binary PPM in {rgb}), each channel within the tolerance.
    void ExpectPeerFilesConvert(const std::vector<Written>& cases, const char* decode)
    {
        for (const auto& [width, height] : {std::pair{13u, 7u}, {61u, 9u}}) {
            const std::string head = "P6 " + std::to_string(width) + " " + std::to_string(height) + " 255\n";
            Bytes ppm(head.begin(), head.end());
            for (uint32_t i = 0; i < width * height; ++i) {
                const uint32_t k = i / width * 21 + i % width / 3;
                ppm.insert(ppm.end(), {static_cast<uint8_t>(k * 37), static_cast<uint8_t>(k * 91 + 50),
                                       static_cast<uint8_t>(k * 53 + 100)});
            }
            WriteFile(Path("in.ppm"), ppm);
            for (const Written& c : cases) {
                SCOPED_TRACE(testing::Message() << c.name << ", " << width << "x" << height);
                if (!Run(c.write)) {
                    continue;
                }
                const Bytes bmp = ReadFile(Path("peer.bmp"));
                ASSERT_GT(bmp.size(), 34u);
                EXPECT_EQ(bmp[14], c.infoSize);
                EXPECT_EQ(bmp[c.infoSize == 12 ? 24 : 28], c.bits);
                EXPECT_EQ(c.infoSize == 12 ? 0 : bmp[30], c.compression);
                ASSERT_EQ(Bmp2Tiff(Path16("peer.bmp").c_str(), Path16("out.tif").c_str()), KESTOVATIFF_OK);
                const Bytes tiff = ReadFile(Path("out.tif"));
                ASSERT_TRUE(Run(decode));
                const Bytes rgb = ReadFile(Path("peer.rgb"));
                const size_t size = size_t{3} * width * height;
                ASSERT_TRUE(rgb.size() == size || (rgb.size() > size && rgb[0] == 'P' && rgb[1] == '6'));
                Bytes expected = ExpectedTiff(Picture{width, height, Bytes(rgb.end() - static_cast<std::ptrdiff_t>(size), rgb.end())});
                ASSERT_EQ(tiff.size(), expected.size());
                int worst = 0;
                for (size_t i = 8; i < 8 + size; ++i) {
                    worst = std::max(worst, std::abs(tiff[i] - expected[i]));
                    expected[i] = tiff[i];
                }
                EXPECT_LE(worst, c.tolerance);
                EXPECT_EQ(tiff, expected);  // the rest, exactly
            }
        }
    }

    std::string python_;
};

TEST_F(BmpPeerTest, FilesPillowWritesConvert)
{
    NEED_TOOL(HavePillow(), "Pillow (python3-pil)");
    // how: Python making `im` ready; then: Python run after the file is saved.
    auto save = [](const std::string& how, const std::string& then = "pass") {
        return "{python} -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); " + how +
               "; im.save(sys.argv[2], \"BMP\"); " + then + "' {in} {bmp}";
    };
    // The padded rows' biSizeImage set to 3·W·H, as some writers set it.
    const std::string unpaddedSize = "f = open(sys.argv[2], \"r+b\"); f.seek(34); "
                                     "f.write((3 * im.width * im.height).to_bytes(4, \"little\"))";
    ExpectPeerFilesConvert(
        {{"1 bit", save("im = im.convert(\"1\", dither=Image.NONE)"), 40, 1, 0, 0},
         {"8 bits, grey", save("im = im.convert(\"L\")"), 40, 8, 0, 0},
         {"8 bits", save("im = im.convert(\"P\", palette=Image.ADAPTIVE, colors=200)"), 40, 8, 0, 0},
         {"24 bits", save("pass"), 40, 24, 0, 0},
         {"24 bits, biSizeImage 3·W·H", save("pass", unpaddedSize), 40, 24, 0, 0},
         {"32 bits, the fourth byte 200", save("im = im.convert(\"RGBA\"); im.putalpha(200)"), 40, 32, 0, 0}},
        "{python} -c 'import sys; from PIL import Image; open(sys.argv[2], \"wb\")"
        ".write(Image.open(sys.argv[1]).convert(\"RGB\").tobytes())' {bmp} {rgb}");
}

TEST_F(BmpPeerTest, FilesImageMagickWritesConvert)
{
    NEED_TOOL(Have("convert -version"), "ImageMagick's convert (imagemagick)");
    ExpectPeerFilesConvert(
        {{"RLE8", "convert {in} -type Palette -compress RLE BMP3:{bmp}", 40, 8, kBiRle8, 0},
         {"RLE8, 124-byte header", "convert {in} -type Palette -compress RLE BMP:{bmp}", 124, 8, kBiRle8, 0},
         {"4 bits", "convert {in} -colors 16 -type Palette -compress None BMP3:{bmp}", 40, 4, 0, 0},
         {"1 bit", "convert {in} -monochrome BMP3:{bmp}", 40, 1, 0, 0},
         {"24 bits, 12-byte header", "convert {in} BMP2:{bmp}", 12, 24, 0, 0},
         {"24 bits, 124-byte header", "convert {in} BMP:{bmp}", 124, 24, 0, 0},
         {"16 bits 5-6-5", "convert {in} -define bmp:subtype=RGB565 BMP:{bmp}", 124, 16, kBiBitfields, 1},
         {"16 bits 5-5-5", "convert {in} -define bmp:subtype=RGB555 BMP:{bmp}", 124, 16, kBiBitfields, 1},
         {"32 bits, opaque alpha", "convert {in} -alpha on BMP:{bmp}", 124, 32, kBiBitfields, 0}},
        "convert {bmp} -depth 8 rgb:{rgb}");
}

TEST_F(BmpPeerTest, FilesNetpbmWritesConvert)
{
    NEED_TOOL(Have("ppmtobmp -version") && Have("bmptopnm -version"), "netpbm");
    ExpectPeerFilesConvert({{"8 bits, 12-byte header", "ppmtobmp -os2 {in} > {bmp}", 12, 8, 0, 0},
                            {"8 bits", "ppmtobmp -bpp 8 {in} > {bmp}", 40, 8, 0, 0},
                            {"24 bits, 12-byte header", "ppmtobmp -os2 -bpp 24 {in} > {bmp}", 12, 24, 0, 0}},
                           "bmptopnm {bmp} | ppmtoppm > {rgb}");
}

#if defined(KESTOVATIFF_CLI)
// The host's BMPs, padded by default (KestovaConvert's padded rows), for
// widths whose rows 3·W are no multiple of 4 (and one that is): every peer
// reads the pixels exactly.
TEST_F(BmpPeerTest, PaddedBmpsFromTheHostAreReadExactly)
{
    NEED_TOOL(HavePillow(), "Pillow (python3-pil)");
    NEED_TOOL(Have("convert -version"), "ImageMagick's convert (imagemagick)");
    NEED_TOOL(Have("bmptopnm -version"), "netpbm");
    const char* const decoders[] = {
        "{python} -c 'import sys; from PIL import Image; open(sys.argv[2], \"wb\")"
        ".write(Image.open(sys.argv[1]).convert(\"RGB\").tobytes())' {bmp} {rgb}",
        "convert {bmp} -depth 8 rgb:{rgb}",
        "bmptopnm {bmp} | ppmtoppm | tail -c +12 > {rgb}",  // past the 11-byte PPM header "P6\nW 3\n255\n"
    };
    for (uint32_t width = 1; width <= 7; ++width) {
        SCOPED_TRACE(testing::Message() << "width " << width);
        const Picture picture = MakePicture(width, 3, width);
        WriteFile(Path("in.tif"), TiffFile(picture));
        ASSERT_TRUE(Run(std::string(KESTOVATIFF_CLI_LAUNCHER) + " '" + KESTOVATIFF_CLI + "' '" +
                        Path("in.tif") + "' {bmp}"));
        const Bytes bmp = ReadFile(Path("peer.bmp"));
        const uint32_t stride = (3 * width + 3) / 4 * 4;
        ASSERT_EQ(bmp.size(), 54 + 3 * stride);
        EXPECT_EQ(bmp[2] | bmp[3] << 8, 54 + 3 * stride);  // bfSize
        EXPECT_EQ(bmp[34] | bmp[35] << 8, 3 * stride);     // biSizeImage
        for (const char* decode : decoders) {
            SCOPED_TRACE(decode);
            ASSERT_TRUE(Run(decode));
            EXPECT_EQ(ReadFile(Path("peer.rgb")), picture.rgb);
        }
    }
}
#endif

}  // namespace
}  // namespace testing_files
