#include "file_name.h"

#include <cstddef>
#include <cstdint>

namespace kestovatiff_cli {
namespace {

// The code point of the UTF-8 sequence at name[i], and its length; 0 when
// none starts there (a stray byte, a cut or overlong sequence, an encoded
// surrogate, past U+10FFFF).
size_t DecodeUtf8(const std::string& name, size_t i, uint32_t& code)
{
    const auto lead = static_cast<unsigned char>(name[i]);
    size_t length;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        code = lead & 0x1Fu;
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        code = lead & 0x0Fu;
        length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        code = lead & 0x07u;
        length = 4;
    } else {
        return 0;
    }
    if (i + length > name.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(name[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3Fu);
    }
    static const uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

std::u16string FileNameToUtf16(const std::string& name)
{
    std::u16string out;
    for (size_t i = 0; i < name.size();) {
        uint32_t code = 0;
        const size_t length = DecodeUtf8(name, i, code);
        if (length == 0) {
            // Only a byte of 0x80 or more fails to decode.
            out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(name[i])));
            ++i;
        } else if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
            i += length;
        } else {
            out.push_back(static_cast<char16_t>(code));
            i += length;
        }
    }
    return out;
}

}  // namespace kestovatiff_cli
