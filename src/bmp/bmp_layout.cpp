#include "bmp_layout.h"

#include <cstring>

#include "byte_order.h"

namespace kestova {

void FormatBmpHeaders(uint32_t width, uint32_t height, uint8_t (&headers)[kBmpHeadersSize], BmpRows rows)
{
    const auto pixelBytes = static_cast<uint32_t>(StoredBmpRowBytes(width, rows) * height);
    std::memset(headers, 0, sizeof headers);
    headers[0] = 'B';                                // bfType
    headers[1] = 'M';
    PutLe32(headers + 2, pixelBytes + kBmpHeadersSize);  // bfSize
    PutLe32(headers + 10, kBmpHeadersSize);          // bfOffBits
    PutLe32(headers + 14, kBmpInfoHeaderSize);       // biSize
    PutLe32(headers + 18, width);                    // biWidth
    PutLe32(headers + 22, height);                   // biHeight
    PutLe16(headers + 26, 1);                        // biPlanes
    PutLe16(headers + 28, 24);                       // biBitCount
    PutLe32(headers + 34, pixelBytes);               // biSizeImage
}

}  // namespace kestova
