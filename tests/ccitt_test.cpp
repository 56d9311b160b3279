// The fax decoder: every code of the tables, hostile streams, and the strips
// libtiff writes in each fax coding, which must decode to the bits libtiff
// itself decodes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/ccitt.h"
#include "tiff/tiff_chunk.h"
#include "tiff_encoders.h"

#if KESTOVATIFF_HAVE_LIBTIFF
#include <tiffio.h>
#include <unistd.h>
#endif

using namespace kestova;

namespace {

using tiff_encoders::Bytes;

alignas(16) uint8_t g_arena[kCcittArenaBytes];

using tiff_encoders::FromBitText;

std::string ToBits(const CcittCode& c) { return tiff_encoders::BitText(c.code, c.bits); }

struct Stream {
    CcittCoding coding;
    uint32_t options;
    uint32_t width;
    Bytes data;
};

// Decodes `calls` bytes call after call into buffers with a guard past
// their end: the status of the last call made, the bytes, and whether the
// stream is then done.
Status Decode(const Stream& s, const std::vector<size_t>& calls, Bytes& out, bool& done)
{
    CcittDecoder decoder;
    CcittStart(decoder, s.coding, s.options, s.width, g_arena);
    ByteSource source = MemorySource(s.data.data(), s.data.size());
    Status status = Status::Ok;
    out.clear();
    for (size_t i = 0; i < calls.size() && status == Status::Ok; ++i) {
        Bytes buffer(calls[i] + 4, 0xEE);
        status = CcittRead(decoder, source, buffer.data(), calls[i]);
        EXPECT_EQ(Bytes(buffer.end() - 4, buffer.end()), Bytes(4, 0xEE)) << "written past the bytes asked for";
        out.insert(out.end(), buffer.begin(), buffer.end() - 4);
    }
    done = status == Status::Ok && CcittDone(decoder, source);
    return status;
}

// Every code as the one run of an MH row of its length and one pixel of
// the other colour: it must decode to that run.
TEST(CcittTest, EveryCodeDecodesToItsRun)
{
    const std::string white1 = ToBits(kCcittWhiteCodes[1]);
    const std::string black1 = ToBits(kCcittBlackCodes[1]);
    std::vector<std::pair<CcittCode, bool>> codes;  // and whether black
    for (const CcittCode& c : kCcittWhiteCodes) {
        codes.emplace_back(c, false);
    }
    for (const CcittCode& c : kCcittBlackCodes) {
        codes.emplace_back(c, true);
    }
    for (const CcittCode& c : kCcittExtendedCodes) {
        codes.emplace_back(c, false);
        codes.emplace_back(c, true);
    }
    for (const auto& [code, black] : codes) {
        SCOPED_TRACE(std::to_string(code.run) + (black ? " black" : " white"));
        const std::string zero = ToBits(black ? kCcittBlackCodes[0] : kCcittWhiteCodes[0]);
        const std::string run = ToBits(code) + (code.run >= 64 ? zero : "");
        const std::string row = black ? ToBits(kCcittWhiteCodes[0]).append(run).append(white1) : run + black1;
        const uint32_t width = code.run + 1u;
        Bytes want((width + 7) / 8, 0);
        for (uint32_t x = 0; x < width; ++x) {
            if ((x < code.run) == black) {
                want[x / 8] = static_cast<uint8_t>(want[x / 8] | 0x80 >> (x % 8));
            }
        }
        Bytes out;
        bool done = false;
        ASSERT_EQ(Decode({CcittCoding::ModifiedHuffman, 0, width, FromBitText(row)}, {want.size()}, out, done),
                  Status::Ok);
        EXPECT_EQ(out, want);
        EXPECT_TRUE(done);
    }
}

TEST(CcittTest, HostileStreams)
{
    constexpr auto MH = CcittCoding::ModifiedHuffman;
    constexpr auto T4 = CcittCoding::T4;
    constexpr auto T6 = CcittCoding::T6;
    const std::string eol = "000000000001";
    const std::string eofb = eol + eol;
    struct Case {
        const char* name;
        Stream stream;
        std::vector<size_t> calls;
        Status want;
        Bytes out = {};
        bool done = true;
    };
    // Codes: white 8 10011, 2 0111, 6 1110, 9 10100; black 2 11, 4 011.
    // Modes: V0 1, VR1 011, VL1 010, VL3 0000010, pass 0001, horizontal 001.
    const Case cases[] = {
        {"MH, rows byte-aligned", {MH, 0, 8, FromBitText("10011 000 0111 011 0111")}, {1, 1}, Status::Ok, {0x00, 0x3C}},
        {"MH, a white run past the row", {MH, 0, 8, FromBitText("10100")}, {1}, Status::NotSupported},
        {"MH, a row ending short with the data", {MH, 0, 8, FromBitText("0111 11")}, {1}, Status::NotSupported},
        {"MH, no code starts so", {MH, 0, 8, FromBitText("00000000 00000000")}, {1}, Status::NotSupported},
        {"MH, an EOL where a run is due", {MH, 0, 8, FromBitText(eol + "10011")}, {1}, Status::NotSupported},
        {"MH, a row split over calls, bytes left", {MH, 0, 16, FromBitText("0111 011 00111 0000 101010")}, {1, 1, 1},
         Status::Ok, {0x3C, 0x00, 0x00}, false},
        {"T.4 1-D, EOLs with fill bits, the first left out, RTC",
         {T4, 4, 8, FromBitText("10011 0000000 " + eol + "0111 011 0111 " + eol + eol + eol + eol + eol + eol)}, {2},
         Status::Ok, {0x00, 0x3C}},
        {"T.4 1-D, an EOL within a row", {T4, 0, 8, FromBitText(eol + "0111 " + eol + "10011")}, {1},
         Status::NotSupported},
        {"T.4 1-D, fewer rows than asked for", {T4, 0, 8, FromBitText(eol + "10011" + eol + eol)}, {2},
         Status::NotSupported},
        {"T.4 2-D, a 1-D row then a 2-D one, RTC with tag bits",
         {T4, 1, 8, FromBitText(eol + "1 0111 011 0111" + eol + "0 011 011 1" + eol + "1" + eol + "1")}, {2}, Status::Ok,
         {0x3C, 0x1E}},
        {"T.4, uncompressed mode refused", {T4, 2, 8, FromBitText(eol + "10011")}, {1}, Status::NotSupported},
        {"T.6, all-white rows by V0, EOFB", {T6, 0, 8, FromBitText("1 1" + eofb)}, {2}, Status::Ok, {0x00, 0x00}},
        {"T.6, a vertical change past the row's end", {T6, 0, 8, FromBitText("011")}, {1}, Status::NotSupported},
        {"T.6, a vertical change before a0",
         {T6, 0, 8, FromBitText("001 0111 11 1 001 1011 11 0000010")}, {2}, Status::NotSupported},
        {"T.6, horizontal runs past the row", {T6, 0, 8, FromBitText("001 1110 011")}, {1}, Status::NotSupported},
        {"T.6, pass mode over the row above's black",
         {T6, 0, 8, FromBitText("001 0111 011 1 0001 001 00110101 11" + eofb)}, {2}, Status::Ok,
         {0x3C, 0x03}},
        {"T.6, data ending mid-row", {T6, 0, 8, FromBitText("001 0111 11")}, {1}, Status::NotSupported},
        {"T.6, EOFB where a row is due", {T6, 0, 8, FromBitText("1" + eofb)}, {2}, Status::NotSupported},
        {"T.6, the uncompressed-mode extension", {T6, 0, 8, FromBitText("0000001111")}, {1}, Status::NotSupported},
        {"T.6, uncompressed mode in the options", {T6, 2, 8, FromBitText("1")}, {1}, Status::NotSupported},
        {"T.6, bits left after the rows", {T6, 0, 8, FromBitText("1 1")}, {1}, Status::Ok, {0x00}, false},
        {"a width of 0", {T6, 0, 0, FromBitText("1")}, {1}, Status::NotSupported},
        {"a width past the bound", {T6, 0, kCcittMaxWidth + 1, FromBitText("1")}, {1}, Status::NotSupported},
        {"the widest row", {T6, 0, kCcittMaxWidth, FromBitText("1" + eofb)}, {kCcittMaxWidth / 8 + 1}, Status::Ok,
         Bytes(kCcittMaxWidth / 8 + 1, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        bool done = false;
        EXPECT_EQ(Decode(c.stream, c.calls, out, done), c.want);
        if (c.want == Status::Ok) {
            EXPECT_EQ(out, c.out);
            EXPECT_EQ(done, c.done);
        }
    }
}

#if KESTOVATIFF_HAVE_LIBTIFF

// Bilevel pictures of each kind, black as 1 bits.
Bytes Picture(const std::string& kind, uint32_t width, uint32_t height)
{
    const uint32_t rowBytes = (width + 7) / 8;
    Bytes bits(size_t{rowBytes} * height, 0);
    uint32_t random = 12345;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            random = random * 1103515245u + 12345u;
            bool black = kind == "black" || (kind == "noise" && (random >> 16 & 1) != 0);
            if (kind == "text") {
                // Letters: strokes, bars and slants in lines of type.
                const uint32_t cx = x % 23;
                const uint32_t cy = y % 31;
                black = cy >= 4 && cy < 24 && x % 300 < 260 &&
                        (cx < 3 || (cy >= 12 && cy < 15 && cx < 15) || (cx + cy / 2) % 19 < 2 || (x / 23 + y / 31) % 11 == 0);
            }
            if (black) {
                bits[size_t{y} * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    return bits;
}

struct Coding {
    const char* name;
    uint16_t compression;
    uint32_t options;
    uint16_t fillOrder;
};

// Written by libtiff in each coding, strip by strip: our decoder on the
// raw strip gives libtiff's own decoding of it, and nothing is left over.
TEST(CcittTest, LibtiffStripsDecodeAsLibtiffDecodes)
{
    const Coding codings[] = {
        {"MH", COMPRESSION_CCITTRLE, 0, FILLORDER_MSB2LSB},
        {"T.4 1-D", COMPRESSION_CCITTFAX3, 0, FILLORDER_MSB2LSB},
        {"T.4 1-D, fill bits", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, FILLORDER_MSB2LSB},
        {"T.4 2-D", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, FILLORDER_MSB2LSB},
        {"T.4 2-D, fill bits", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS, FILLORDER_MSB2LSB},
        {"T.6", COMPRESSION_CCITTFAX4, 0, FILLORDER_MSB2LSB},
        {"T.6, FillOrder 2", COMPRESSION_CCITTFAX4, 0, FILLORDER_LSB2MSB},
    };
    const std::string path = testing::TempDir() + "ccitt_peer_" + std::to_string(getpid()) + ".tif";
    for (const Coding& coding : codings) {
        for (const char* kind : {"text", "noise", "white", "black"}) {
            for (const uint32_t width : {1u, 7u, 8u, 9u, 1728u, 2480u}) {
                SCOPED_TRACE(std::string(coding.name) + ", " + kind + ", width " + std::to_string(width));
                const uint32_t height = 70;
                const uint32_t rowBytes = (width + 7) / 8;
                const Bytes picture = Picture(kind, width, height);
                TIFF* tiff = TIFFOpen(path.c_str(), "w");
                ASSERT_NE(tiff, nullptr);
                TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
                TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
                TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
                TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
                TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
                TIFFSetField(tiff, TIFFTAG_COMPRESSION, coding.compression);
                TIFFSetField(tiff, TIFFTAG_FILLORDER, coding.fillOrder);
                TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 32);  // the last strip shorter
                if (coding.compression == COMPRESSION_CCITTFAX3) {
                    TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, coding.options);
                }
                for (uint32_t y = 0; y < height; ++y) {
                    ASSERT_EQ(TIFFWriteScanline(tiff, const_cast<uint8_t*>(&picture[size_t{y} * rowBytes]), y), 1);
                }
                TIFFClose(tiff);

                tiff = TIFFOpen(path.c_str(), "r");
                ASSERT_NE(tiff, nullptr);
                for (uint32_t strip = 0; strip < TIFFNumberOfStrips(tiff); ++strip) {
                    const uint32_t rows = std::min(32u, height - strip * 32);
                    Bytes want(size_t{rows} * rowBytes);
                    ASSERT_EQ(TIFFReadEncodedStrip(tiff, strip, want.data(), static_cast<tmsize_t>(want.size())),
                              static_cast<tmsize_t>(want.size()));
                    uint64_t* counts = nullptr;
                    ASSERT_TRUE(TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts));
                    Bytes raw(counts[strip]);
                    ASSERT_EQ(TIFFReadRawStrip(tiff, strip, raw.data(), static_cast<tmsize_t>(raw.size())),
                              static_cast<tmsize_t>(raw.size()));
                    if (coding.fillOrder == FILLORDER_LSB2MSB) {
                        ReverseBits(raw.data(), raw.size());  // as the chunk reader does
                    }
                    Bytes out;
                    bool done = false;
                    // Two calls, the first ending mid-row.
                    const size_t first = want.size() / 2 + 1;
                    ASSERT_EQ(Decode({static_cast<CcittCoding>(coding.compression), coding.options, width, raw},
                                     {first, want.size() - first}, out, done),
                              Status::Ok);
                    EXPECT_EQ(out, want);
                    EXPECT_TRUE(done);
                }
                TIFFClose(tiff);
            }
        }
    }
    (void)std::remove(path.c_str());
}

#endif

}  // namespace
