#include "bmp_rle.h"

#include <cstring>

#include "picture_limits.h"
#include "source_reader.h"
#include "tiff_layout.h"

namespace kestova {
namespace {

// A window on the TIFF's pixel area, in the output buffer. Rows arrive
// bottom row first, each left to right; the TIFF holds them top row first.
// A window holds as many whole rows as fit, the first arrived at its end,
// or a piece of a row too wide for it; each is written at its offset once
// full.
class TiffRowWindow {
public:
    TiffRowWindow(OutputStream& out, uint32_t width, uint32_t height)
        : out_(out), buffer_(out.Idle().data), rowBytes_(RowBytes(width)), height_(height)
    {
        const size_t room = OutputStream::kBlockSize;
        rowsPerWindow_ = rowBytes_ > 0 && rowBytes_ <= room ? static_cast<size_t>(room / rowBytes_) : 0;
        pieceBytes_ = room / 3 * 3;
        if (height_ > 0 && rowBytes_ > 0) {
            Open();
        }
    }

    void Put(const uint8_t* rgb)
    {
        if (cursor_ == limit_) {
            NextPiece();
        }
        cursor_[0] = rgb[0];
        cursor_[1] = rgb[1];
        cursor_[2] = rgb[2];
        cursor_ += 3;
    }

    // `count` pixels of two colours by turns, the first first (one colour:
    // both the same). The row has room for them.
    void PutRun(const uint8_t* first, const uint8_t* second, uint32_t count)
    {
        while (count > 0) {
            if (cursor_ == limit_) {
                NextPiece();
            }
            const auto room = static_cast<uint32_t>((limit_ - cursor_) / 3);
            const uint32_t n = count < room ? count : room;
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t* rgb = (i & 1) == 0 ? first : second;
                cursor_[0] = rgb[0];
                cursor_[1] = rgb[1];
                cursor_[2] = rgb[2];
                cursor_ += 3;
            }
            if ((n & 1) != 0) {
                const uint8_t* swap = first;  // the next piece goes on by turns
                first = second;
                second = swap;
            }
            count -= n;
        }
    }

    // The current row is full.
    void EndRow()
    {
        ++row_;
        if (rowBytes_ == 0) {
            return;  // no pixels, nothing to write
        }
        if (rowsPerWindow_ == 0 || row_ > lastRow_) {
            Write();
            if (row_ < height_) {
                Open();
            }
        } else {
            cursor_ = buffer_ + static_cast<size_t>((lastRow_ - row_) * rowBytes_);
            limit_ = cursor_ + rowBytes_;
        }
    }

    bool failed() const { return out_.failed(); }

private:
    uint64_t RowOffset(uint64_t row) const { return kTiffPixelOffset + (height_ - 1 - row) * rowBytes_; }

    // The window for the current row, from its start.
    void Open()
    {
        if (rowsPerWindow_ > 0) {
            const uint64_t rows = height_ - row_ < rowsPerWindow_ ? height_ - row_ : rowsPerWindow_;
            lastRow_ = row_ + rows - 1;
            start_ = RowOffset(lastRow_);
            bytes_ = static_cast<size_t>(rows * rowBytes_);
            cursor_ = buffer_ + static_cast<size_t>((lastRow_ - row_) * rowBytes_);
            limit_ = cursor_ + rowBytes_;
        } else {
            start_ = RowOffset(row_);
            rowEnd_ = start_ + rowBytes_;
            bytes_ = pieceBytes_;
            cursor_ = buffer_;
            limit_ = buffer_ + bytes_;
        }
    }

    // A row too wide for the window goes on in the next piece.
    void NextPiece()
    {
        Write();
        start_ += bytes_;
        bytes_ = rowEnd_ - start_ < pieceBytes_ ? static_cast<size_t>(rowEnd_ - start_) : pieceBytes_;
        cursor_ = buffer_;
        limit_ = buffer_ + bytes_;
    }

    void Write()
    {
        // A piece is written as far as it is filled: the last of a row may
        // be shorter than the window.
        const size_t filled = rowsPerWindow_ > 0 ? bytes_ : static_cast<size_t>(cursor_ - buffer_);
        out_.WriteAt(start_, buffer_, filled);
    }

    OutputStream& out_;
    uint8_t* buffer_;
    uint64_t rowBytes_;
    uint64_t height_;
    size_t rowsPerWindow_ = 0;  // 0: a row is wider than the window
    size_t pieceBytes_ = 0;
    uint64_t row_ = 0;      // counted from the bottom
    uint64_t lastRow_ = 0;  // the window's top row
    uint64_t start_ = 0;    // file offset of buffer_[0]
    uint64_t rowEnd_ = 0;
    size_t bytes_ = 0;
    uint8_t* cursor_ = nullptr;
    uint8_t* limit_ = nullptr;
};

class RleDecoder {
public:
    RleDecoder(SourceReader& in, const BmpInfo& info, const BmpPixelFormat& format, TiffRowWindow& rows)
        : in_(in), rows_(rows), width_(info.width), height_(info.height), colours_(format.colours),
          fourBits_(info.coding == BmpCoding::Rle4)
    {
        for (uint32_t i = 0; i < colours_; ++i) {  // red, green, blue, as the TIFF stores them
            rgb_[i][0] = format.palette[i][3];
            rgb_[i][1] = format.palette[i][2];
            rgb_[i][2] = format.palette[i][1];
        }
    }

    Status Decode()
    {
        for (;;) {
            uint8_t count;
            uint8_t value;
            if (!Next(count) || !Next(value)) {
                return Ended();
            }
            if (rows_.failed()) {
                return Status::DestinationUnwritable;
            }
            bool ok;
            if (count > 0) {
                ok = Run(count, value);
            } else if (value == 0) {
                ok = y_ >= height_ || EndRow();  // past the last row: nothing to end
            } else if (value == 1) {
                return Finish() ? Status::Ok : Failure();
            } else if (value == 2) {
                ok = Delta();
            } else {
                ok = Absolute(value);
            }
            if (!ok) {
                return Failure();
            }
        }
    }

private:
    bool Next(uint8_t& byte) { return in_.Next(byte); }

    // A read error, or a code that broke a rule.
    Status Failure() const { return in_.status() != Status::Ok ? in_.status() : Status::NotSupported; }

    // The data ended without an end-of-picture code: fine once every row is
    // full, else the file is shorter than it declares.
    Status Ended()
    {
        const bool complete = y_ >= height_ || (y_ + 1 == height_ && x_ == width_);
        if (in_.status() != Status::Ok || !complete) {
            return Failure();
        }
        return Finish() ? Status::Ok : Failure();
    }

    // The rest of the picture takes entry 0.
    bool Finish()
    {
        while (y_ < height_) {
            if (!EndRow()) {
                return false;
            }
        }
        return !rows_.failed();
    }

    bool Put(unsigned index)
    {
        if (index >= colours_) {
            return false;
        }
        rows_.Put(rgb_[index]);
        return true;
    }

    // Pixels passed over take entry 0.
    bool Skip(uint32_t count)
    {
        if (count > 0 && colours_ == 0) {
            return false;
        }
        rows_.PutRun(rgb_[0], rgb_[0], count);
        x_ += count;
        return true;
    }

    bool EndRow()
    {
        if (!Skip(width_ - x_)) {
            return false;
        }
        rows_.EndRow();
        x_ = 0;
        ++y_;
        return true;
    }

    // How many of `count` pixels from here lie in the picture. What passes
    // the row's end or the last row is not the picture's: some writers
    // code a row's padding as pixels. It is dropped, as other readers do.
    uint32_t InPicture(uint32_t count) const
    {
        if (y_ >= height_) {
            return 0;
        }
        return count < width_ - x_ ? count : width_ - x_;
    }

    bool Run(uint32_t count, uint8_t value)
    {
        const uint32_t n = InPicture(count);
        const unsigned first = fourBits_ ? value >> 4 : value;
        const unsigned second = fourBits_ ? value & 15 : value;
        if ((n > 0 && first >= colours_) || (n > 1 && second >= colours_)) {
            return false;
        }
        rows_.PutRun(rgb_[first], rgb_[second], n);
        x_ += n;
        return true;
    }

    // dx pixels right and dy rows up; past the last row, the picture ends.
    bool Delta()
    {
        uint8_t dx;
        uint8_t dy;
        if (!Next(dx) || !Next(dy)) {
            return false;
        }
        if (y_ >= height_) {
            return true;
        }
        const uint64_t toX = uint64_t{x_} + dx;
        const uint64_t toY = uint64_t{y_} + dy;
        if (toY >= height_) {
            return Finish();
        }
        while (y_ < toY) {
            if (!EndRow()) {
                return false;
            }
        }
        return Skip(static_cast<uint32_t>(toX < width_ ? toX : width_) - x_);
    }

    bool Absolute(uint32_t count)
    {
        const uint32_t n = InPicture(count);
        const uint32_t bytes = fourBits_ ? (count + 1) / 2 : count;
        for (uint32_t i = 0; i < bytes; ++i) {
            uint8_t byte;
            if (!Next(byte)) {
                return false;
            }
            const uint32_t pixel = fourBits_ ? 2 * i : i;
            if (fourBits_) {
                if ((pixel < n && !Put(byte >> 4)) || (pixel + 1 < n && !Put(byte & 15))) {
                    return false;
                }
            } else if (pixel < n && !Put(byte)) {
                return false;
            }
        }
        uint8_t padding;
        if (bytes % 2 == 1 && !Next(padding)) {
            return false;
        }
        x_ += n;
        return true;
    }

    SourceReader& in_;
    TiffRowWindow& rows_;
    uint32_t width_;
    uint32_t height_;
    uint32_t colours_;
    bool fourBits_;
    uint32_t x_ = 0;
    uint32_t y_ = 0;  // counted from the bottom
    uint8_t rgb_[256][3] = {};
};

}  // namespace

Status WriteRleRows(SourceFile& source, const BmpInfo& info, const BmpPixelFormat& format, OutputStream& out)
{
    SourceReader in(source, info.pixelOffset);
    TiffRowWindow rows(out, info.width, info.height);
    RleDecoder decoder(in, info, format, rows);
    const Status status = decoder.Decode();
    if (status != Status::Ok) {
        return status;
    }
    return rows.failed() ? Status::DestinationUnwritable : Status::Ok;
}

}  // namespace kestova
