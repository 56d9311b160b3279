// Small encoders for the TIFF compressions the library decodes, written for
// the tests, the seed maker and the fuzz targets: they make valid streams
// of any bytes, and CodeWriter makes damaged LZW ones code by code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tiff_encoders {

using Bytes = std::vector<uint8_t>;

// Repeats of three or more as runs, the rest as literals, 128 at most each.
Bytes PackBits(const uint8_t* data, size_t size);

// Packs codes of any width, most significant bit first (new-style LZW) or
// least significant first (old style); the last byte is padded with zeros.
class CodeWriter {
public:
    explicit CodeWriter(bool lsbFirst = false) : lsbFirst_(lsbFirst) {}
    void Put(uint32_t code, uint32_t width);
    Bytes Finish();

private:
    bool lsbFirst_;
    uint64_t bits_ = 0;
    uint32_t count_ = 0;
    Bytes out_;
};

// LZW codes as given, each as wide as the decoder then reads them.
Bytes LzwCodes(const std::vector<uint32_t>& codes, bool oldStyle = false);

// LZW: a clear code first, a clear again before the table passes 4093
// codes, the end code last. Codes widen as the decoder expects: new style
// when its next free code reaches 511, 1023, 2047; old style at 512, 1024,
// 2048.
Bytes Lzw(const uint8_t* data, size_t size, bool oldStyle = false);

// A zlib stream at `level` (0 to 9).
Bytes Deflate(const uint8_t* data, size_t size, int level = 6);

// A zlib stream of `count` (at least 1) zero bytes, a 1032nd of their size,
// made without holding them: the largest that Deflate can declare.
Bytes DeflateZeros(uint64_t count);

#if KESTOVATIFF_WITH_JPEG
// A JPEG stream through libjpeg: grey (1 component) or colour (3), colour
// coded as YCbCr at the given sampling of the luma (2, 2: chroma halved
// both ways) or as RGB given. Abbreviated, the stream leaves its tables
// out; JpegTables gives them as the tables-only stream TIFF's JPEGTables
// holds (the same for the same options).
struct JpegOptions {
    int components = 3;
    bool ycbcr = true;
    int hSampling = 2, vSampling = 2;
    int quality = 90;
    bool progressive = false;
    bool componentScans = false;  // sequential, a scan a component (colour only)
    bool abbreviated = false;
};
Bytes Jpeg(const uint8_t* samples, uint32_t width, uint32_t height, const JpegOptions& options);
Bytes JpegTables(const JpegOptions& options);
#endif

// Fax codes as text: "0011 0101 ..." packed most significant bit first
// (characters other than 0 and 1 skipped, the last byte padded with 0
// bits), and a code of `bits` bits spelled out.
Bytes FromBitText(const std::string& text);
std::string BitText(uint32_t code, uint32_t bits);

}  // namespace tiff_encoders
