#include "conversion.h"

#include <cstring>

#include "kestovatiff.h"

namespace kestovatiff_cli {

Direction DirectionOf(const unsigned char* magic, ssize_t got)
{
    static const unsigned char kTiffBigEndian[4] = {'M', 'M', 0, 42};
    static const unsigned char kTiffLittleEndian[4] = {'I', 'I', 42, 0};
    if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') {
        return Direction::BmpToTiff;
    }
    if (got == 4 && (std::memcmp(magic, kTiffBigEndian, 4) == 0 || std::memcmp(magic, kTiffLittleEndian, 4) == 0)) {
        return Direction::TiffToBmp;
    }
    return Direction::Unknown;
}

std::string ResultReason(int32_t result, int error)
{
    std::string reason = KestovaTiffResultText(result);
    if ((result == KESTOVATIFF_ERROR_SOURCE || result == KESTOVATIFF_ERROR_DESTINATION ||
         result == KESTOVATIFF_ERROR_ARGUMENT) &&
        error != 0) {
        reason += std::string(": ") + std::strerror(error);
    }
    return reason;
}

}  // namespace kestovatiff_cli
