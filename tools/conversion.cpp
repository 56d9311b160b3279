#include "conversion.h"

#include <cstring>

#include "kestovatiff.h"

namespace kestovatiff_cli {

Direction DirectionOf(const unsigned char* magic, ssize_t got)
{
    if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') {
        return Direction::BmpToTiff;
    }
    // TIFF: "MM" then 42 big-endian, or "II" then 42 little-endian; 43 for
    // BigTIFF.
    const bool bigEndianTiff = magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43);
    const bool littleEndianTiff =
        magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) && magic[3] == 0;
    if (got == 4 && (bigEndianTiff || littleEndianTiff)) {
        return Direction::TiffToBmp;
    }
    return Direction::Unknown;
}

std::string SourceFailure(int error)
{
    return std::string(KestovaTiffResultText(KESTOVATIFF_ERROR_SOURCE)) + ": " + std::strerror(error);
}

}  // namespace kestovatiff_cli
