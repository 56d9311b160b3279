// Reads a source file forward, byte by byte, through a small buffer: for
// decoders of coded data (run lengths) whose length is known only as they
// go. The buffer is the call's, on the stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/source_file.h"
#include "status.h"

namespace kestova {

class SourceReader {
public:
    SourceReader(SourceFile& source, uint64_t offset) : source_(source), next_(offset) {}
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // The next byte; false at the end of the file or on a read error, which
    // status() then tells apart (Ok at the end).
    bool Next(uint8_t& byte)
    {
        if (at_ == length_ && !Refill()) {
            return false;
        }
        byte = buffer_[at_++];
        return true;
    }

    Status status() const { return status_; }

private:
    static constexpr size_t kBufferSize = 4096;

    bool Refill();

    SourceFile& source_;
    uint64_t next_;  // file offset of the byte after the buffer's
    size_t at_ = 0;
    size_t length_ = 0;
    Status status_ = Status::Ok;
    uint8_t buffer_[kBufferSize];
};

}  // namespace kestova
