#include "source_reader.h"

namespace kestova {

bool SourceReader::Refill()
{
    if (status_ != Status::Ok || next_ >= source_.size) {
        return false;
    }
    const uint64_t left = source_.size - next_;
    length_ = left < kBufferSize ? static_cast<size_t>(left) : kBufferSize;
    at_ = 0;
    status_ = ReadSource(source_, next_, buffer_, length_);
    if (status_ != Status::Ok) {
        length_ = 0;
        return false;
    }
    next_ += length_;
    return true;
}

}  // namespace kestova
