// A window on an area of pixel rows in the output, for rows that are made
// in another order than the file keeps them: run-length BMPs and compressed
// or turned TIFFs. The rows, `rowBytes` each, lie at `base` + n * rowBytes
// for n = 0 to rows - 1. They are made one after another, each left to
// right, going down the file (n falling, as a picture made top row first
// lands in a BMP) or up it (n rising).
//
// The window sits in the caller's buffer and holds as many whole rows as
// fit, or a piece of a row too wide for it; each is written at its offset
// once full. Rows may be mirrored: each is then reversed, pixel by pixel
// (3 bytes), before it is written, and the pieces of a wide one go to the
// mirrored places.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output_stream.h"
#include "platform/output_file.h"

namespace kestova {

class RowWindow {
public:
    RowWindow(OutputStream& out, Scratch buffer, uint64_t base, uint64_t rowBytes, uint64_t rows, bool downward,
              bool mirrored);
    RowWindow(const RowWindow&) = delete;
    RowWindow& operator=(const RowWindow&) = delete;

    // Where the current row's next bytes go, and how many fit there (a
    // multiple of 3, at least 3 while the row is not full).
    uint8_t* Room(size_t& bytes)
    {
        if (cursor_ == limit_) {
            NextPiece();
        }
        bytes = static_cast<size_t>(limit_ - cursor_);
        return cursor_;
    }

    // The caller filled `bytes` of the room.
    void Took(size_t bytes) { cursor_ += bytes; }

    // One pixel, and `count` of two by turns: for run lengths.
    void Put(const uint8_t* pixel)
    {
        if (cursor_ == limit_) {
            NextPiece();
        }
        cursor_[0] = pixel[0];
        cursor_[1] = pixel[1];
        cursor_[2] = pixel[2];
        cursor_ += 3;
    }
    void PutRun(const uint8_t* first, const uint8_t* second, uint32_t count);

    // The current row is full.
    void EndRow();

    bool failed() const { return out_.failed(); }

private:
    uint64_t RowOffset(uint64_t made) const;
    void Open();
    void NextPiece();
    void Write();

    OutputStream& out_;
    uint8_t* buffer_;
    uint64_t base_;
    uint64_t rowBytes_;
    uint64_t rows_;
    bool downward_;
    bool mirrored_;
    size_t rowsPerWindow_ = 0;  // 0: a row is wider than the window
    size_t pieceBytes_ = 0;
    uint64_t made_ = 0;       // rows made so far; the current one is made_
    uint64_t firstMade_ = 0;  // the window's first row made
    uint64_t lastMade_ = 0;   // and its last
    uint64_t start_ = 0;      // file offset of buffer_[0]
    uint64_t rowStart_ = 0;   // of the current row (pieces)
    uint64_t pieceAt_ = 0;    // bytes of the row before this piece
    size_t bytes_ = 0;
    uint8_t* cursor_ = nullptr;
    uint8_t* limit_ = nullptr;
};

}  // namespace kestova
