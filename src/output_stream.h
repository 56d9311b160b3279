// A buffered writer over an OutputFile. Writes never report failure one by
// one: the first failure sticks, later writes are dropped, and Finish()
// reports it. Callers check failed() where stopping early saves work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output_file.h"
#include "status.h"

namespace kestova {

class OutputStream {
public:
    static constexpr size_t kBufferSize = 64 * 1024;

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

    // Writes `size` bytes of 3-byte pixels with the first and third byte of
    // each pixel exchanged: BMP's blue, green, red becomes TIFF's red, green,
    // blue and back. `size` is a multiple of 3.
    void PutSwappedPixels(const uint8_t* pixels, size_t size);

    bool failed() const { return failed_; }

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
