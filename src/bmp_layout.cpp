#include "bmp_layout.h"

#include <cstring>

#include "byte_order.h"
#include "picture_limits.h"

namespace kestova {

Status ParseBmpHeaders(const uint8_t* head, size_t length, BmpPicture& picture)
{
    if (length < 2 || head[0] != 'B' || head[1] != 'M' || length < kBmpHeadersSize) {
        return Status::NotSupported;
    }
    const uint32_t biSize = ReadLe32(head + 14);
    const auto biWidth = static_cast<int32_t>(ReadLe32(head + 18));
    const auto biHeight = static_cast<int32_t>(ReadLe32(head + 22));
    const uint16_t biPlanes = ReadLe16(head + 26);
    const uint16_t biBitCount = ReadLe16(head + 28);
    const uint32_t biCompression = ReadLe32(head + 30);

    // BITMAPINFOHEADER and its later versions, which only add fields after
    // the first 40 bytes; the 12-byte header of the oldest variant has
    // 16-bit sides and is not read.
    const bool knownHeader = biSize == 40 || biSize == 52 || biSize == 56 || biSize == 108 || biSize == 124;
    if (!knownHeader || biPlanes != 1 || biBitCount != 24 || biCompression != 0) {
        return Status::NotSupported;
    }
    // -2^31 has no positive counterpart, so it cannot name a top-down height.
    if (biWidth < 0 || biHeight == INT32_MIN) {
        return Status::NotSupported;
    }
    const uint64_t width = static_cast<uint64_t>(biWidth);
    const uint64_t height = biHeight < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(biHeight))
                                         : static_cast<uint64_t>(biHeight);
    if (width > kMaxSide || height > kMaxSide) {
        return Status::TooLarge;
    }
    picture.width = static_cast<uint32_t>(width);
    picture.height = static_cast<uint32_t>(height);
    picture.topDown = biHeight < 0;
    picture.infoSize = biSize;
    picture.pixelOffset = ReadLe32(head + 10);  // bfOffBits
    return Status::Ok;
}

Status LocateBmpRows(const BmpPicture& picture, uint64_t fileSize, RowRun& rows)
{
    const uint64_t offset = picture.pixelOffset;
    if (offset < kBmpFileHeaderSize + uint64_t{picture.infoSize} || offset > fileSize) {
        return Status::NotSupported;
    }
    // The published format pads each row to a multiple of 4 bytes; the
    // library's own files do not. The file's length tells which: room for
    // padded rows (the last one's padding may be missing) means padded.
    const uint64_t rowBytes = RowBytes(picture.width);
    const uint64_t padded = (rowBytes + 3) / 4 * 4;
    const uint64_t height = picture.height;
    uint64_t stride;
    if (height == 0 || fileSize - offset >= padded * (height - 1) + rowBytes) {
        stride = padded;
    } else if (fileSize - offset >= rowBytes * height) {
        stride = rowBytes;
    } else {
        return Status::NotSupported;
    }
    rows.offset = offset;
    rows.stride = stride;
    rows.rowBytes = rowBytes;
    rows.rows = height;
    return Status::Ok;
}

void FormatBmpHeaders(uint32_t width, uint32_t height, uint8_t (&headers)[kBmpHeadersSize])
{
    const auto pixelBytes = static_cast<uint32_t>(PixelBytes(width, height));
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
