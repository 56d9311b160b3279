#include "row_copy.h"

#include <cstddef>

#include "pixel_swap.h"

namespace kestova {
namespace {

// Rows are read into the output buffer, a block at a time: many narrow rows
// at once, a wide row in pieces of whole pixels.
constexpr size_t kPieceSize = OutputStream::kBlockSize / 3 * 3;

uint64_t Min(uint64_t a, uint64_t b) { return a < b ? a : b; }

Status CopyWideRows(SourceFile& source, OutputStream& out, const RowRun& run, RowOrder order)
{
    for (uint64_t k = 0; k < run.rows; ++k) {
        const uint64_t row = order == RowOrder::Reversed ? run.rows - 1 - k : k;
        const uint64_t rowStart = run.offset + row * run.stride;
        for (uint64_t done = 0; done < run.rowBytes;) {
            const auto piece = static_cast<size_t>(Min(kPieceSize, run.rowBytes - done));
            uint8_t* room = out.Room(piece);
            if (const Status status = ReadSource(source, rowStart + done, room, piece); status != Status::Ok) {
                return status;
            }
            SwapPixels(room, piece);
            out.Keep(piece);
            done += piece;
        }
        if (out.failed()) {
            return Status::DestinationUnwritable;
        }
    }
    return Status::Ok;
}

}  // namespace

Status CopyPixelRows(SourceFile& source, OutputStream& out, const RowRun& run, RowOrder order)
{
    if (run.rows == 0 || run.rowBytes == 0) {
        return Status::Ok;
    }
    if (run.rowBytes > OutputStream::kBlockSize) {
        return CopyWideRows(source, out, run, order);
    }

    const auto rowBytes = static_cast<size_t>(run.rowBytes);
    const uint64_t rowsPerRead = 1 + (OutputStream::kBlockSize - rowBytes) / run.stride;
    for (uint64_t done = 0; done < run.rows;) {
        const auto count = static_cast<size_t>(Min(rowsPerRead, run.rows - done));
        // The block holds stored rows [first, first + count).
        const uint64_t first = order == RowOrder::Reversed ? run.rows - done - count : done;
        const auto span = static_cast<size_t>((count - 1) * run.stride + run.rowBytes);
        uint8_t* block = out.Room(span);
        if (const Status status = ReadSource(source, run.offset + first * run.stride, block, span);
            status != Status::Ok) {
            return status;
        }
        SwapRows(block, count, static_cast<size_t>(run.stride), rowBytes, order == RowOrder::Reversed);
        out.Keep(count * rowBytes);
        if (out.failed()) {
            return Status::DestinationUnwritable;
        }
        done += count;
    }
    return Status::Ok;
}

}  // namespace kestova
