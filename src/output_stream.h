// A buffered writer over an OutputFile. Writes never report failure one by
// one: the first failure sticks, later writes are dropped, and Finish()
// reports it. Callers check failed() where stopping early saves work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/output_file.h"
#include "status.h"

namespace kestova {

class OutputStream {
public:
    // A block of pixel rows, plus room for the header that precedes the
    // first one, so that each write(2) carries a whole block. A call holds
    // two blocks on its stack (this buffer and the row reader's), which
    // must fit a thread with 128 KiB of stack, as small runtimes give; at
    // 32 KiB a block costs no measurable speed against larger ones.
    static constexpr size_t kBlockSize = size_t{32} * 1024;
    static constexpr size_t kBufferSize = kBlockSize + 1024;

    explicit OutputStream(OutputFile& file) : file_(file) {}
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    void PutByte(uint8_t value)
    {
        if (used_ == kBufferSize) {
            Flush();
        }
        buffer_[used_++] = value;
    }

    void PutBe16(uint32_t value)
    {
        PutByte(static_cast<uint8_t>(value >> 8));
        PutByte(static_cast<uint8_t>(value));
    }

    void PutBe32(uint32_t value)
    {
        PutBe16(value >> 16);
        PutBe16(value);
    }

    void PutBytes(const uint8_t* data, size_t size);

    // Room for the next `size` bytes (at most kBufferSize), which the caller
    // fills at once: lets the pixel rows be written straight into the
    // buffer.
    uint8_t* Claim(size_t size)
    {
        if (kBufferSize - used_ < size) {
            Flush();
        }
        uint8_t* room = buffer_ + used_;
        used_ += size;
        return room;
    }

    bool failed() const { return failed_; }

    // The buffer, lent as working storage while nothing is buffered: before
    // the first write and after Finish().
    Scratch Idle() { return Scratch{buffer_, kBufferSize}; }

    // Writes out what is buffered. DestinationUnwritable if any write failed.
    Status Finish();

private:
    void Flush();

    OutputFile& file_;
    size_t used_ = 0;
    bool failed_ = false;
    uint8_t buffer_[kBufferSize];
};

}  // namespace kestova
