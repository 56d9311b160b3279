#include "row_copy.h"

#include <cstddef>

#include "pixel_swap.h"

namespace kestova {
namespace {

// Fixed working storage: a row of any width passes through it in pieces, and
// many narrow rows are fetched with one read. What one read fetches fits in
// the output buffer, so each block is swapped straight into it.
constexpr size_t kReadBufferSize = OutputStream::kBlockSize;
constexpr size_t kPieceSize = kReadBufferSize / 3 * 3;  // whole pixels only

uint64_t Min(uint64_t a, uint64_t b) { return a < b ? a : b; }

Status CopyWideRows(SourceFile& source, OutputStream& out, const RowRun& run, RowOrder order,
                    uint8_t* buffer)
{
    for (uint64_t k = 0; k < run.rows; ++k) {
        const uint64_t row = order == RowOrder::Reversed ? run.rows - 1 - k : k;
        const uint64_t rowStart = run.offset + row * run.stride;
        for (uint64_t done = 0; done < run.rowBytes;) {
            const auto piece = static_cast<size_t>(Min(kPieceSize, run.rowBytes - done));
            if (const Status status = ReadSource(source, rowStart + done, buffer, piece);
                status != Status::Ok) {
                return status;
            }
            SwapPixels(out.Claim(piece), buffer, piece);
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
    uint8_t buffer[kReadBufferSize];
    if (run.rowBytes > kReadBufferSize) {
        return CopyWideRows(source, out, run, order, buffer);
    }

    const auto rowBytes = static_cast<size_t>(run.rowBytes);
    const uint64_t rowsPerRead = 1 + (kReadBufferSize - rowBytes) / run.stride;
    for (uint64_t done = 0; done < run.rows;) {
        const auto count = static_cast<size_t>(Min(rowsPerRead, run.rows - done));
        // The block holds stored rows [first, first + count).
        const uint64_t first = order == RowOrder::Reversed ? run.rows - done - count : done;
        const auto span = static_cast<size_t>((count - 1) * run.stride + run.rowBytes);
        if (const Status status = ReadSource(source, run.offset + first * run.stride, buffer, span);
            status != Status::Ok) {
            return status;
        }
        SwapRows(out.Claim(count * rowBytes), buffer, count, static_cast<size_t>(run.stride), rowBytes,
                 order == RowOrder::Reversed);
        if (out.failed()) {
            return Status::DestinationUnwritable;
        }
        done += count;
    }
    return Status::Ok;
}

}  // namespace kestova
