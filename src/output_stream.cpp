#include "output_stream.h"

#include <cstring>

namespace kestova {

void OutputStream::Flush()
{
    if (!failed_ && used_ > 0 && !WriteOutput(file_, buffer_, used_)) {
        failed_ = true;
    }
    used_ = 0;
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
