#include "native_path.h"

#include <cerrno>
#include <cstdint>

namespace kestova {

#if defined(_WIN32)

Status ToNativePath(const char16_t* path, NativePath& out)
{
    if (path == nullptr || *path == u'\0') {
        errno = EINVAL;
        return Status::BadArgument;
    }
    size_t n = 0;
    for (const char16_t* p = path; *p != u'\0'; ++p) {
        const uint32_t unit = *p;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (p[1] < 0xDC00 || p[1] > 0xDFFF) {
                errno = EINVAL;
                return Status::BadArgument;
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF && (p == path || p[-1] < 0xD800 || p[-1] > 0xDBFF)) {
            errno = EINVAL;
            return Status::BadArgument;
        }
        if (n + 1 >= kMaxNativePath) {
            errno = ENAMETOOLONG;
            return Status::BadArgument;
        }
        out.text[n++] = static_cast<wchar_t>(unit);
    }
    out.text[n] = L'\0';
    return Status::Ok;
}

#else

// Marks a unit U+DC80..U+DCFF, which stands for the byte 0x80..0xFF: above
// every code point, so it cannot be mistaken for one.
constexpr uint32_t kEscapedByte = 0x110000;

Status ToNativePath(const char16_t* path, NativePath& out)
{
    if (path == nullptr || *path == u'\0') {
        errno = EINVAL;
        return Status::BadArgument;
    }
    size_t n = 0;
    for (const char16_t* p = path; *p != u'\0'; ++p) {
        uint32_t code = *p;
        if (code >= 0xD800 && code <= 0xDBFF) {
            const uint32_t low = p[1];  // the terminator ends an unpaired high surrogate
            if (low < 0xDC00 || low > 0xDFFF) {
                errno = EINVAL;
                return Status::BadArgument;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++p;
        } else if (code >= 0xDC80 && code <= 0xDCFF) {
            code = kEscapedByte;  // a byte of a name that is not UTF-8, kept as it was
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            errno = EINVAL;
            return Status::BadArgument;
        }

        uint8_t bytes[4];
        size_t length;
        if (code == kEscapedByte) {
            bytes[0] = static_cast<uint8_t>(*p - 0xDC00);
            length = 1;
        } else if (code < 0x80) {
            bytes[0] = static_cast<uint8_t>(code);
            length = 1;
        } else if (code < 0x800) {
            bytes[0] = static_cast<uint8_t>(0xC0 | (code >> 6));
            bytes[1] = static_cast<uint8_t>(0x80 | (code & 0x3F));
            length = 2;
        } else if (code < 0x10000) {
            bytes[0] = static_cast<uint8_t>(0xE0 | (code >> 12));
            bytes[1] = static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F));
            bytes[2] = static_cast<uint8_t>(0x80 | (code & 0x3F));
            length = 3;
        } else {
            bytes[0] = static_cast<uint8_t>(0xF0 | (code >> 18));
            bytes[1] = static_cast<uint8_t>(0x80 | ((code >> 12) & 0x3F));
            bytes[2] = static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F));
            bytes[3] = static_cast<uint8_t>(0x80 | (code & 0x3F));
            length = 4;
        }
        if (n + length >= kMaxNativePath) {
            errno = ENAMETOOLONG;
            return Status::BadArgument;
        }
        for (size_t i = 0; i < length; ++i) {
            out.text[n++] = static_cast<char>(bytes[i]);
        }
    }
    out.text[n] = '\0';
    return Status::Ok;
}

#endif

}  // namespace kestova
