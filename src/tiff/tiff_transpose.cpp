#include "tiff/tiff_transpose.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "picture_limits.h"
#include "platform/scratch_file.h"
#include "tiff/tiff_planes.h"
#include "tiff/tiff_rows.h"
#include "tiff/tiff_ycbcr_rows.h"

namespace kestova {
namespace {

// The first pass makes a BMP of the stored picture in Orientation 1 or 4,
// never mirrored (mirroring costs a pass over every row): with W x H
// stored, shown row r (from the top) and column c are, for each
// orientation,
//
//   5   stored row c,         column r            the first pass in 4, mirrored
//   6   stored row H - 1 - c, column r                              1, mirrored
//   7   stored row H - 1 - c, column W - 1 - r                      1
//   8   stored row c,         column W - 1 - r                      4
//
// and the BMP's row b is shown row W - 1 - b: its row b, column c is the
// first pass's row c, column b, or column W - 1 - b where it is mirrored.
uint32_t FirstPassOrientation(uint32_t orientation) { return orientation == 5 || orientation == 8 ? 4 : 1; }

bool ExchangeMirrored(uint32_t orientation) { return orientation <= 6; }

// The pixel area of the first pass's BMP starts at the same offset in the
// scratch file as in the BMP, so that the writers' offsets serve both.
Status WriteFirstPass(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format, SourceFile& scratch,
                      OutputStream& out)
{
    TiffImage turned = image;
    turned.orientation = FirstPassOrientation(image.orientation);
    out.Divert(scratch, kBmpPixelOffset);
    const Status status = image.planar         ? WriteTiffPlanes(source, turned, out)
                          : TiffSubsampled(image) ? WriteYCbCrRows(source, turned, format, out)
                                                  : WriteTiffRows(source, turned, format, out);
    out.EndDivert();
    return status != Status::Ok ? status : out.failed() ? Status::DestinationUnwritable : Status::Ok;
}

// The first pass's BMP (W wide, H tall), exchanged into the BMP (H wide,
// W tall) a block at a time, within the idle output buffer: rows c0 to
// c0 + m of the first pass, columns b0 to b0 + k, become the BMP's rows
// b0 to b0 + k, columns c0 to c0 + m (mirrored: first-pass columns
// W - b0 - k to W - b0, in reverse). A block of some 22,000 pixels,
// as square as the picture allows, keeps the reads and writes (m and k of
// them, of k and m pixels) few; a side the block spans whole (all of a
// first-pass row, all of a BMP row) is one read or one write.
Status Exchange(SourceFile& scratch, const TiffImage& image, OutputStream& out)
{
    const bool mirrored = ExchangeMirrored(image.orientation);
    constexpr uint64_t kSide = 128;  // pixels of a first-pass row read at a time
    const Scratch buffer = out.Idle();
    const uint64_t width = image.width;    // of the first pass; the BMP's height
    const uint64_t height = image.height;  // the BMP's width
    const uint64_t pixels = buffer.size / 3;
    uint64_t k = std::min(width, kSide);
    // Whole rows of the first pass follow each other in the file: read
    // together, into a block as large as the exchanged one; else a row's
    // piece at a time.
    const bool wholeRows = k == width;
    uint64_t m = std::min(height, wholeRows ? pixels / (2 * k) : (pixels - k) / k);
    if (m == height && !wholeRows) {
        k = std::min(width, pixels / (m + 1));  // the BMP's rows whole: as many as fit
    }
    uint8_t* block = buffer.data;             // the BMP's k rows of m pixels
    uint8_t* read = buffer.data + 3 * m * k;  // the first pass's rows read
    for (uint64_t b0 = 0; b0 < width; b0 += k) {
        const uint64_t across = std::min(k, width - b0);
        for (uint64_t c0 = 0; c0 < height; c0 += m) {
            const uint64_t down = std::min(m, height - c0);
            // Mirrored, the BMP's rows b0 on are the first pass's columns
            // W - 1 - b0 down.
            const uint64_t x0 = mirrored ? width - b0 - across : b0;
            const uint64_t first = kBmpPixelOffset + RowBytes(width) * c0 + 3 * x0;
            if (wholeRows) {
                if (const Status status = ReadSource(scratch, first, read, static_cast<size_t>(3 * across * down));
                    status != Status::Ok) {
                    return status;
                }
            }
            for (uint64_t c = 0; c < down; ++c) {
                const uint8_t* from = read + (wholeRows ? 3 * across * c : 0);
                if (!wholeRows) {
                    if (const Status status =
                            ReadSource(scratch, first + RowBytes(width) * c, read, static_cast<size_t>(3 * across));
                        status != Status::Ok) {
                        return status;
                    }
                }
                uint8_t* to = block + 3 * c;
                const ptrdiff_t step = mirrored ? -3 : 3;
                from += mirrored ? 3 * (across - 1) : 0;
                for (uint64_t b = 0; b < across; ++b, from += step, to += 3 * down) {
                    to[0] = from[0];
                    to[1] = from[1];
                    to[2] = from[2];
                }
            }
            const uint64_t at = kBmpPixelOffset + RowBytes(height) * b0 + 3 * c0;
            if (down == height) {
                out.WriteAt(at, block, static_cast<size_t>(3 * down * across));
            } else {
                for (uint64_t b = 0; b < across; ++b) {
                    out.WriteAt(at + RowBytes(height) * b, block + 3 * down * b, static_cast<size_t>(3 * down));
                }
            }
            if (out.failed()) {
                return Status::DestinationUnwritable;
            }
        }
    }
    return Status::Ok;
}

}  // namespace

Status WriteTiffTransposed(SourceFile& source, const TiffImage& image, const TiffPixelFormat& format,
                           OutputStream& out)
{
    if (image.width == 0 || image.height == 0) {
        return Status::Ok;
    }
    // The headers go out first, leaving the whole buffer to each pass.
    out.MoveTo(kBmpPixelOffset + PixelBytes(image.width, image.height));
    SourceFile scratch;
    Status status = OpenScratchFile(scratch, kBmpPixelOffset + PixelBytes(image.width, image.height), out.file());
    if (status == Status::Ok) {
        status = WriteFirstPass(source, image, format, scratch, out);
    }
    if (status == Status::Ok) {
        status = Exchange(scratch, image, out);
    }
    CloseSource(scratch);
    return status;
}

}  // namespace kestova
