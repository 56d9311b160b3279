// Test pictures and the files they make, built from the published layouts
// independently of the library's code, plus a scratch directory per test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tiff_encoders.h"

namespace testing_files {

using Bytes = std::vector<uint8_t>;

// A picture, top row first, each pixel red, green, blue.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    Bytes rgb;
};

// A picture whose every byte depends on its column, row and channel, so a
// swapped channel, a reversed row order or a shifted row shows.
Picture MakePicture(uint32_t width, uint32_t height, uint32_t seed = 0);

// The picture as a viewer shows it when stored in Orientation 1 to 8: 2
// mirrors the rows, 4 turns them upside down, 3 does both; 5 to 8 exchange
// rows and columns (the shown picture is as wide as the stored is tall).
Picture Shown(const Picture& stored, uint32_t orientation);

// How a BMP source is stored.
struct BmpForm {
    bool topDown = false;        // negative biHeight
    bool padRows = false;        // rows padded to a multiple of 4 bytes
    bool padLastRow = true;      // with padRows: pad the last stored row too
    uint32_t infoSize = 40;      // biSize
    uint32_t gap = 0;            // bytes between the headers and the pixels
};

// A 24-bit BMP of the picture. The default form is the library's own
// layout: bottom-up, unpadded rows, pixels at offset 54.
Bytes BmpFile(const Picture& picture, const BmpForm& form = {});

// The TIFF the library writes for the picture: header, pixels, the
// 14-entry directory and its value arrays, from the layout's table.
Bytes ExpectedTiff(const Picture& picture);

// A directory entry for TiffFile. Values are written with the type's size;
// a RATIONAL takes two values (numerator, denominator).
struct TiffEntry {
    uint16_t tag;
    uint16_t type;
    std::vector<uint32_t> values;  // empty: leave the tag out
};

// How a TIFF source is stored, as other software may write it.
struct TiffForm {
    bool littleEndian = false;
    uint32_t rowsPerStrip = 0;       // 0: no RowsPerStrip, one strip
    bool shortStripFields = false;   // StripOffsets, StripByteCounts as SHORT
    bool stripByteCounts = true;     // write StripByteCounts
    std::vector<TiffEntry> changes;  // replace or add (or, empty, remove) entries
    std::vector<TiffEntry> duplicates;  // second entries, each after its tag's first
    // How the chunks are coded, each on its own: Compression 1, 5 (LZW,
    // literal codes only), 8 (Deflate) or 32773 (PackBits); differenced
    // (Predictor 2); one plane a sample; square tiles of this side, the
    // parts past the picture zero (0: strips).
    uint32_t compression = 1;
    bool predictor = false;
    bool planar = false;
    uint32_t tileSide = 0;
    std::vector<Bytes> chunks;  // if not empty, stored as they are instead of the picture's
#if KESTOVATIFF_WITH_JPEG
    // Compression 7: each chunk a JPEG stream so made (grey of the red
    // samples for one component), Photometric 6, 2 or 1 to match, and
    // abbreviated streams' tables in JPEGTables.
    tiff_encoders::JpegOptions jpeg;
#endif
};

// An RGB TIFF: header, the chunks (plane after plane) stored last chunk
// first, then the directory (entries in tag order) and its value arrays.
Bytes TiffFile(const Picture& picture, const TiffForm& form = {});

// A bilevel TIFF 300 pixels wide, `rows` tall, in one strip of group 4
// fax codes (Compression 4), white at zero: each row white but for the
// black pixels 100 to 199. `shown` gets the picture it shows.
Bytes FaxTiff(uint32_t rows, Picture& shown);

// A YCbCr TIFF of the picture's sides in `form` (strips or tiles, no
// planes, no predictor), its chroma subsampled `across` x `down`: data
// units of the picture's bytes in turn, taken as codes.
Bytes YCbCrTiffFile(const Picture& picture, uint32_t across, uint32_t down, TiffForm form);

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);

// UTF-8 to the library's UTF-16 paths.
std::u16string U16(const std::string& utf8);

inline void PutLe(Bytes& out, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

inline void PutBe(Bytes& out, uint32_t value, int size)
{
    for (int i = size - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// A fixture with a fresh directory, removed afterwards.
class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::u16string Path16(const std::string& name) const { return U16(Path(name)); }
    // The names in the directory (or its subdirectory `sub`), sorted:
    // shows any file left behind.
    std::vector<std::string> Names(const std::string& sub = {}) const;

    std::string dir_;
};

}  // namespace testing_files
