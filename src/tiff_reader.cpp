#include "tiff_reader.h"

#include "bmp_layout.h"
#include "byte_order.h"
#include "picture_limits.h"
#include "tiff_layout.h"

namespace kestova {

// Only the library's own layout is read: "MM", 42, the directory right
// after the pixels with its 14 entries, and the file exactly as long as
// the pixels and the layout's 206 bytes. The width and height are taken
// from their fixed places in the directory (value fields of entries 1 and
// 2), the rows from offset 8.
Status ReadTiffPicture(SourceFile& source, TiffPicture& picture)
{
    const uint64_t size = source.size;
    if (size < kTiffLayoutOverhead) {
        return Status::NotSupported;
    }
    uint8_t header[kTiffPixelOffset];
    if (const Status status = ReadSource(source, 0, header, sizeof header); status != Status::Ok) {
        return status;
    }
    const uint64_t directoryAt = size - kTiffDirectorySize - 24;
    if (header[0] != 'M' || header[1] != 'M' || ReadBe16(header + 2) != 42 ||
        ReadBe32(header + 4) != directoryAt) {
        return Status::NotSupported;
    }
    uint8_t tail[kTiffLayoutOverhead - kTiffPixelOffset];
    if (const Status status = ReadSource(source, directoryAt, tail, sizeof tail); status != Status::Ok) {
        return status;
    }
    if (ReadBe16(tail) != 14) {
        return Status::NotSupported;
    }
    const uint32_t width = ReadBe16(tail + 2 + 8);        // ImageWidth's value
    const uint32_t height = ReadBe16(tail + 2 + 12 + 8);  // ImageLength's value
    if (PixelBytes(width, height) + kBmpHeadersSize > kMaxFileSize) {
        return Status::TooLarge;
    }
    if (PixelBytes(width, height) + kTiffLayoutOverhead != size) {
        return Status::NotSupported;
    }
    picture.width = width;
    picture.height = height;
    picture.rows.offset = kTiffPixelOffset;
    picture.rows.stride = RowBytes(width);
    picture.rows.rowBytes = RowBytes(width);
    picture.rows.rows = height;
    return Status::Ok;
}

}  // namespace kestova
