// A buffered writer over an OutputFile. Writes never report failure one by
// one: the first failure sticks, later writes are dropped, and Finish()
// reports it. Callers check failed() where stopping early saves work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/output_file.h"
#include "platform/source_file.h"
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

    // Before anything is written: from `start` on, the file stores rows of
    // `rowBytes` bytes each followed by `gap` zeros, while the writers go
    // on making and placing them as if they followed each other. Every
    // offset they give past `start` is moved to its row's place, and a row
    // gets its gap when its last byte is written.
    void PadRows(uint64_t start, uint64_t rowBytes, uint64_t gap)
    {
        if (rowBytes > 0) {
            padding_ = RowPadding{start, rowBytes, gap};
        }
    }

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

    // The destination: where a conversion may find room for its own
    // temporary files.
    const OutputFile& file() const { return file_; }

    // For output whose parts are not made in file order (run-length coded
    // rows, bottom row first): writes `size` bytes at `offset`, which may
    // be the buffer's own, lent out while nothing is buffered. Needs an
    // output opened for positioned writing.
    void WriteAt(uint64_t offset, const uint8_t* data, size_t size)
    {
        if (failed_ || size == 0) {
            return;
        }
        if (divert_ != nullptr) {
            failed_ = WriteDiverted(offset, data, size) != Status::Ok;
            return;
        }
        if (padding_.gap > 0 ? !WritePadded(offset, data, size, true) : !WriteOutputAt(file_, offset, data, size)) {
            failed_ = true;
        }
    }

    // Buffered writing goes on at `offset`.
    void MoveTo(uint64_t offset)
    {
        Flush();
        if (!failed_ && divert_ == nullptr && !SeekOutput(file_, padding_.Stored(offset))) {
            failed_ = true;
        }
        position_ = offset;
    }

    // The part of the buffer that holds nothing, lent as working storage:
    // all of it before the first write, after Finish() and after MoveTo().
    Scratch Idle() { return Scratch{buffer_ + used_, kBufferSize - used_}; }

    // Writes out what is buffered. DestinationUnwritable if any write failed.
    Status Finish();

    // For a picture made in two passes (TIFF Orientation 5 to 8, its rows
    // and columns exchanged): until EndDivert(), every write, positioned or
    // buffered, goes to `scratch` instead, at the offset the writers give,
    // rows unpadded; buffered writing goes on at `start` there. A failed
    // write sticks as any other (errno kNoScratchSpace where the scratch
    // file's folder is full). Call both with nothing buffered but for the
    // bytes meant for the scratch file: Divert flushes first.
    void Divert(SourceFile& scratch, uint64_t start)
    {
        Flush();
        divert_ = &scratch;
        divertedFrom_ = position_;
        position_ = start;
    }
    void EndDivert()
    {
        Flush();
        divert_ = nullptr;
        position_ = divertedFrom_;
    }

private:
    struct RowPadding {
        uint64_t start = 0;
        uint64_t rowBytes = 1;
        uint64_t gap = 0;

        // Where the byte the writers place at `offset` is stored.
        uint64_t Stored(uint64_t offset) const
        {
            if (gap == 0 || offset <= start) {
                return offset;
            }
            const uint64_t row = (offset - start) / rowBytes;
            return offset + row * gap;
        }
    };

    void Flush();
    // Writes `size` bytes placed at `offset` with the rows' gaps, at their
    // stored place (`positioned`) or at the current position, which is it.
    bool WritePadded(uint64_t offset, const uint8_t* data, size_t size, bool positioned);
    Status WriteDiverted(uint64_t offset, const uint8_t* data, size_t size);

    OutputFile& file_;
    RowPadding padding_;
    uint64_t position_ = 0;  // where the writers place the buffer's first byte
    size_t used_ = 0;
    bool failed_ = false;
    SourceFile* divert_ = nullptr;  // Divert()'s scratch file
    uint64_t divertedFrom_ = 0;     // position_ before it
    uint8_t buffer_[kBufferSize];
};

}  // namespace kestova
