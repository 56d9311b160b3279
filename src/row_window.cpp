#include "row_window.h"

#include <algorithm>

namespace kestova {
namespace {

// Reverses the order of the 3-byte pixels of `bytes` bytes.
void MirrorPixels(uint8_t* pixels, size_t bytes)
{
    for (size_t low = 0, high = bytes; high - low >= 6; low += 3, high -= 3) {
        std::swap_ranges(pixels + low, pixels + low + 3, pixels + high - 3);
    }
}

}  // namespace

RowWindow::RowWindow(OutputStream& out, Scratch buffer, uint64_t base, uint64_t rowBytes, uint64_t rows,
                     bool downward, bool mirrored)
    : out_(out), buffer_(buffer.data), base_(base), rowBytes_(rowBytes), rows_(rows), downward_(downward),
      mirrored_(mirrored)
{
    const size_t room = buffer.size / 3 * 3;
    rowsPerWindow_ = rowBytes_ > 0 && rowBytes_ <= room ? static_cast<size_t>(room / rowBytes_) : 0;
    pieceBytes_ = room;
    if (rows_ > 0 && rowBytes_ > 0) {
        Open();
    }
}

uint64_t RowWindow::RowOffset(uint64_t made) const
{
    return base_ + (downward_ ? rows_ - 1 - made : made) * rowBytes_;
}

// The window for the current row, from its start.
void RowWindow::Open()
{
    if (rowsPerWindow_ > 0) {
        const uint64_t rows = rows_ - made_ < rowsPerWindow_ ? rows_ - made_ : rowsPerWindow_;
        firstMade_ = made_;
        lastMade_ = made_ + rows - 1;
        start_ = downward_ ? RowOffset(lastMade_) : RowOffset(firstMade_);
        bytes_ = static_cast<size_t>(rows * rowBytes_);
        const uint64_t slot = downward_ ? lastMade_ - made_ : 0;
        cursor_ = buffer_ + static_cast<size_t>(slot * rowBytes_);
        limit_ = cursor_ + rowBytes_;
    } else {
        rowStart_ = RowOffset(made_);
        pieceAt_ = 0;
        bytes_ = rowBytes_ < pieceBytes_ ? static_cast<size_t>(rowBytes_) : pieceBytes_;
        cursor_ = buffer_;
        limit_ = buffer_ + bytes_;
    }
}

// A row too wide for the window goes on in the next piece.
void RowWindow::NextPiece()
{
    Write();
    pieceAt_ += bytes_;
    const uint64_t left = rowBytes_ - pieceAt_;
    bytes_ = left < pieceBytes_ ? static_cast<size_t>(left) : pieceBytes_;
    cursor_ = buffer_;
    limit_ = buffer_ + bytes_;
}

void RowWindow::Write()
{
    if (rowsPerWindow_ > 0) {
        out_.WriteAt(start_, buffer_, bytes_);
        return;
    }
    // A piece of a wide row, as far as it is filled; mirrored, it goes to
    // the other end of the row, reversed.
    const auto filled = static_cast<size_t>(cursor_ - buffer_);
    if (mirrored_) {
        MirrorPixels(buffer_, filled);
        out_.WriteAt(rowStart_ + rowBytes_ - pieceAt_ - filled, buffer_, filled);
    } else {
        out_.WriteAt(rowStart_ + pieceAt_, buffer_, filled);
    }
}

void RowWindow::PutRun(const uint8_t* first, const uint8_t* second, uint32_t count)
{
    while (count > 0) {
        if (cursor_ == limit_) {
            NextPiece();
        }
        const auto room = static_cast<uint32_t>((limit_ - cursor_) / 3);
        const uint32_t n = count < room ? count : room;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* pixel = (i & 1) == 0 ? first : second;
            cursor_[0] = pixel[0];
            cursor_[1] = pixel[1];
            cursor_[2] = pixel[2];
            cursor_ += 3;
        }
        if ((n & 1) != 0) {
            std::swap(first, second);  // the next piece goes on by turns
        }
        count -= n;
    }
}

void RowWindow::EndRow()
{
    ++made_;
    if (rowBytes_ == 0) {
        return;  // no pixels, nothing to write
    }
    if (rowsPerWindow_ > 0 && mirrored_) {
        MirrorPixels(limit_ - rowBytes_, static_cast<size_t>(rowBytes_));
    }
    if (rowsPerWindow_ == 0 || made_ > lastMade_) {
        Write();
        if (made_ < rows_) {
            Open();
        }
        return;
    }
    const uint64_t slot = downward_ ? lastMade_ - made_ : made_ - firstMade_;
    cursor_ = buffer_ + static_cast<size_t>(slot * rowBytes_);
    limit_ = cursor_ + rowBytes_;
}

}  // namespace kestova
