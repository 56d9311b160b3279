#include "bmp_rows.h"

#include "pixel_swap.h"
#include "picture_limits.h"

namespace kestova {
namespace {

uint64_t Min(uint64_t a, uint64_t b) { return a < b ? a : b; }
uint64_t Max(uint64_t a, uint64_t b) { return a > b ? a : b; }

// What refused rows mean: an index past the palette, or alpha neither all
// opaque nor all clear.
Status RefuseExpansion(const SourceFile& source, const BmpPixelFormat& format, Status status)
{
    return format.bitCount <= 8 ? Refuse(source, status, KESTOVA_REASON_PALETTE_INDEX, format.colours)
                                : Refuse(source, status, KESTOVA_REASON_TRANSPARENCY);
}

// A row too wide for one block goes in pieces of whole bytes of the
// stored row: a multiple of 8 pixels, whose stored bytes and B, G, R both
// fit.
Status CopyWideRows(SourceFile& source, OutputStream& out, const RowRun& rows, uint32_t width,
                    const BmpPixelFormat& format, RowOrder order, AlphaSeen& alpha)
{
    const uint64_t bytesPerPixel = format.bitCount > 24 ? 4 : 3;
    const uint64_t piecePixels = OutputStream::kBlockSize / bytesPerPixel / 8 * 8;
    for (uint64_t k = 0; k < rows.rows; ++k) {
        const uint64_t row = order == RowOrder::Reversed ? rows.rows - 1 - k : k;
        const uint64_t rowStart = rows.offset + row * rows.stride;
        for (uint64_t done = 0; done < width;) {
            const uint64_t pixels = Min(piecePixels, width - done);
            const auto stored = static_cast<size_t>((pixels * format.bitCount + 7) / 8);
            const auto rgb = static_cast<size_t>(RowBytes(pixels));
            uint8_t* room = out.Room(static_cast<size_t>(Max(stored, rgb)));
            if (const Status status = ReadSource(source, rowStart + done * format.bitCount / 8, room, stored);
                status != Status::Ok) {
                return status;
            }
            if (const Status status = ExpandBmpRows(format, room, 1, stored, static_cast<size_t>(pixels), alpha);
                status != Status::Ok) {
                return RefuseExpansion(source, format, status);
            }
            SwapPixels(room, rgb);
            out.Keep(rgb);
            done += pixels;
        }
        if (out.failed()) {
            return Status::DestinationUnwritable;
        }
    }
    return Status::Ok;
}

}  // namespace

Status CopyBmpRows(SourceFile& source, OutputStream& out, const RowRun& rows, uint32_t width,
                   const BmpPixelFormat& format, RowOrder order)
{
    AlphaSeen alpha;
    const uint64_t rgbBytes = RowBytes(width);
    if (rows.rows == 0 || rgbBytes == 0) {
        return Status::Ok;
    }
    // Alpha all zero is a writer's "no alpha", even when flattening; any
    // other alpha is the picture's, and every pixel is composited by it.
    if (format.flatten) {
        if (const Status status = BmpAlphaInUse(source, out, rows, format, alpha.composite); status != Status::Ok) {
            return status;
        }
    }
    // A row takes the larger of its stored and its expanded size.
    const uint64_t rowRoom = Max(rows.stride, rgbBytes);
    if (rowRoom > OutputStream::kBlockSize) {
        return CopyWideRows(source, out, rows, width, format, order, alpha);
    }
    const uint64_t rowsPerBlock = OutputStream::kBlockSize / rowRoom;
    for (uint64_t done = 0; done < rows.rows;) {
        const auto count = static_cast<size_t>(Min(rowsPerBlock, rows.rows - done));
        // The block holds stored rows [first, first + count).
        const uint64_t first = order == RowOrder::Reversed ? rows.rows - done - count : done;
        const auto span = static_cast<size_t>((count - 1) * rows.stride + rows.rowBytes);
        uint8_t* block = out.Room(static_cast<size_t>(count * rowRoom));
        if (const Status status = ReadSource(source, rows.offset + first * rows.stride, block, span);
            status != Status::Ok) {
            return status;
        }
        if (const Status status = ExpandBmpRows(format, block, count, static_cast<size_t>(rows.stride), width, alpha);
            status != Status::Ok) {
            return RefuseExpansion(source, format, status);
        }
        SwapRows(block, count, static_cast<size_t>(rgbBytes), static_cast<size_t>(rgbBytes),
                 order == RowOrder::Reversed);
        out.Keep(static_cast<size_t>(count * rgbBytes));
        if (out.failed()) {
            return Status::DestinationUnwritable;
        }
        done += count;
    }
    return Status::Ok;
}

}  // namespace kestova
