#include "output_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/scratch_file.h"

namespace kestova {

void OutputStream::Flush()
{
    if (!failed_ && used_ > 0 && divert_ != nullptr) {
        failed_ = WriteDiverted(position_, buffer_, used_) != Status::Ok;
    } else if (!failed_ && used_ > 0) {
        const bool written =
            padding_.gap > 0 ? WritePadded(position_, buffer_, used_, false) : WriteOutput(file_, buffer_, used_);
        failed_ = !written;
    }
    position_ += used_;
    used_ = 0;
}

bool OutputStream::WritePadded(uint64_t offset, const uint8_t* data, size_t size, bool positioned)
{
    // The rows and their gaps are gathered here, to write a piece at a time.
    uint8_t piece[2048];
    size_t held = 0;
    uint64_t storedAt = padding_.Stored(offset);
    auto send = [&] {
        const bool sent = positioned ? WriteOutputAt(file_, storedAt, piece, held) : WriteOutput(file_, piece, held);
        storedAt += held;
        held = 0;
        return sent;
    };
    auto hold = [&](const uint8_t* bytes, size_t count) {
        while (count > 0) {
            if (held == sizeof piece && !send()) {
                return false;
            }
            const size_t take = std::min(count, sizeof piece - held);
            if (bytes == nullptr) {
                std::memset(piece + held, 0, take);
            } else {
                std::memcpy(piece + held, bytes, take);
                bytes += take;
            }
            held += take;
            count -= take;
        }
        return true;
    };
    while (size > 0) {
        // Up to the end of the headers, or of the row `offset` is in.
        uint64_t limit = padding_.start - offset;
        if (offset >= padding_.start) {
            limit = padding_.rowBytes - (offset - padding_.start) % padding_.rowBytes;
        }
        const size_t take = limit < size ? static_cast<size_t>(limit) : size;
        const bool rowEnds = offset >= padding_.start && take == limit;
        if (!hold(data, take) || (rowEnds && !hold(nullptr, static_cast<size_t>(padding_.gap)))) {
            return false;
        }
        data += take;
        size -= take;
        offset += take;
    }
    return held == 0 || send();
}

Status OutputStream::WriteDiverted(uint64_t offset, const uint8_t* data, size_t size)
{
    return WriteScratchFile(*divert_, offset, data, size);
}

void OutputStream::PutBytes(const uint8_t* data, size_t size)
{
    while (size > 0) {
        if (used_ == kBufferSize) {
            Flush();
        }
        const size_t take = size < kBufferSize - used_ ? size : kBufferSize - used_;
        std::memcpy(buffer_ + used_, data, take);
        used_ += take;
        data += take;
        size -= take;
    }
}

Status OutputStream::Finish()
{
    Flush();
    return failed_ ? Status::DestinationUnwritable : Status::Ok;
}

}  // namespace kestova
