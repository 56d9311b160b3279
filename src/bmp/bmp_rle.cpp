#include "bmp_rle.h"

#include <cstring>

#include "picture_limits.h"
#include "row_window.h"
#include "source_reader.h"
#include "tiff_layout.h"

namespace kestova {
namespace {

class RleDecoder {
public:
    RleDecoder(SourceReader& in, const BmpInfo& info, const BmpPixelFormat& format, RowWindow& rows)
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

    // A write that failed (decoding stops at the first), a read error, or a
    // code that broke a rule.
    Status Failure() const
    {
        if (rows_.failed()) {
            return Status::DestinationUnwritable;
        }
        return in_.status() != Status::Ok ? in_.status() : Status::NotSupported;
    }

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
        return true;
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
        return !rows_.failed();  // a row that could not be written ends the work
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
    RowWindow& rows_;
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
    // Rows come bottom first; the TIFF keeps them top first.
    const Scratch buffer{out.Idle().data, OutputStream::kBlockSize};
    RowWindow rows(out, buffer, kTiffPixelOffset, RowBytes(info.width), info.height, true, false);
    RleDecoder decoder(in, info, format, rows);
    const Status status = decoder.Decode();
    if (status != Status::Ok) {
        return status;
    }
    return rows.failed() ? Status::DestinationUnwritable : Status::Ok;
}

}  // namespace kestova
