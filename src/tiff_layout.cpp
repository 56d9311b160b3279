#include "tiff_layout.h"

#include <cstring>

namespace kestova {
namespace {

uint32_t HexDigitValue(char digit)
{
    if (digit >= '0' && digit <= '9') {
        return static_cast<uint32_t>(digit - '0');
    }
    if (digit >= 'a' && digit <= 'f') {
        return static_cast<uint32_t>(digit - 'a' + 10);
    }
    if (digit >= 'A' && digit <= 'F') {
        return static_cast<uint32_t>(digit - 'A' + 10);
    }
    return 0;  // the literals below hold hexadecimal digits only
}

}  // namespace

void WriteHexBytes(OutputStream& stream, const char* hexText)
{
    const size_t length = std::strlen(hexText);
    for (size_t i = 0; i < length; i += 2) {
        uint32_t value = HexDigitValue(hexText[i]);
        if (i + 1 < length) {
            value = value * 16 + HexDigitValue(hexText[i + 1]);
        }
        stream.PutByte(static_cast<uint8_t>(value));
    }
}

void WriteTiffHeader(OutputStream& stream, uint32_t pixelBytes)
{
    WriteHexBytes(stream, "4d4d002a");  // "MM", 42
    stream.PutBe32(pixelBytes + 8);     // the directory follows the pixels
}

// Each entry: tag, field type (3 SHORT, 4 LONG), count, then the value or
// the offset of the values. A SHORT value sits in the high half of the
// 4-byte field, followed by "0000".
void WriteTiffDirectory(OutputStream& stream, uint32_t width, uint32_t height, uint32_t pixelBytes)
{
    const uint32_t p = pixelBytes;
    WriteHexBytes(stream, "000e");                      // 14 entries
    WriteHexBytes(stream, "0100000300000001");          // ImageWidth
    stream.PutBe16(width & 0xFFFF);
    WriteHexBytes(stream, "0000");
    WriteHexBytes(stream, "0101000300000001");          // ImageLength
    stream.PutBe16(height & 0xFFFF);
    WriteHexBytes(stream, "0000");
    WriteHexBytes(stream, "0102000300000003");          // BitsPerSample -> array
    stream.PutBe32(p + 182);
    WriteHexBytes(stream, "010300030000000100010000");  // Compression 1: none
    WriteHexBytes(stream, "010600030000000100020000");  // PhotometricInterpretation 2: RGB
    WriteHexBytes(stream, "011100040000000100000008");  // StripOffsets 8
    WriteHexBytes(stream, "011200030000000100010000");  // Orientation 1: top-left
    WriteHexBytes(stream, "011500030000000100030000");  // SamplesPerPixel 3
    WriteHexBytes(stream, "0116000300000001");          // RowsPerStrip: all rows
    stream.PutBe16(height & 0xFFFF);
    WriteHexBytes(stream, "0000");
    WriteHexBytes(stream, "0117000400000001");          // StripByteCounts
    stream.PutBe32(p);
    WriteHexBytes(stream, "0118000300000003");          // MinSampleValue -> array
    stream.PutBe32(p + 188);
    WriteHexBytes(stream, "0119000300000003");          // MaxSampleValue -> array
    stream.PutBe32(p + 194);
    WriteHexBytes(stream, "011c00030000000100010000");  // PlanarConfiguration 1: chunky
    WriteHexBytes(stream, "0153000300000003");          // SampleFormat -> array
    stream.PutBe32(p + 200);
    WriteHexBytes(stream, "00000000");                  // no next directory
    WriteHexBytes(stream, "000800080008");              // BitsPerSample values
    WriteHexBytes(stream, "000000000000");              // MinSampleValue values
    WriteHexBytes(stream, "00ff00ff00ff");              // MaxSampleValue values
    WriteHexBytes(stream, "000100010001");              // SampleFormat values
}

}  // namespace kestova
