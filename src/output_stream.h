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
    // first one, so that each write(2) carries a whole block. It is the
    // call's one large piece of working storage: the rows are read into it
    // and rearranged in place. At 64 KiB a call fits a thread with 128 KiB
    // of stack, as small runtimes give, and runs within a tenth of a plain
    // copy of the file (README, "Speed and memory").
    static constexpr size_t kBlockSize = size_t{64} * 1024;
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

    // Room for the next `size` bytes (at most kBufferSize) after what is
    // buffered: pixel rows are read straight into it and rearranged there.
    // Keep() then adds what the caller made of it to the buffered bytes.
    uint8_t* Room(size_t size)
    {
        if (kBufferSize - used_ < size) {
            Flush();
        }
        return buffer_ + used_;
    }

    void Keep(size_t size) { used_ += size; }

    bool failed() const { return failed_; }

    // For output whose parts are not made in file order (run-length coded
    // rows, bottom row first): writes `size` bytes at `offset`, which may
    // be the buffer's own, lent out while nothing is buffered. Needs an
    // output opened for positioned writing.
    void WriteAt(uint64_t offset, const uint8_t* data, size_t size)
    {
        if (!failed_ && size > 0 && !WriteOutputAt(file_, offset, data, size)) {
            failed_ = true;
        }
    }

    // Buffered writing goes on at `offset`.
    void MoveTo(uint64_t offset)
    {
        Flush();
        if (!failed_ && !SeekOutput(file_, offset)) {
            failed_ = true;
        }
    }

    // The part of the buffer that holds nothing, lent as working storage:
    // all of it before the first write, after Finish() and after MoveTo().
    Scratch Idle() { return Scratch{buffer_ + used_, kBufferSize - used_}; }

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
