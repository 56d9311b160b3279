#include "codecs/packbits.h"

#include <cstring>

namespace kestova {
namespace {

Status Ended(const ByteSource& source) { return source.status != Status::Ok ? source.status : Status::NotSupported; }

}  // namespace

Status PackBitsRead(PackBitsDecoder& decoder, ByteSource& source, uint8_t* out, size_t size)
{
    while (size > 0) {
        if (decoder.repeat > 0) {
            const size_t n = decoder.repeat < size ? decoder.repeat : size;
            std::memset(out, decoder.value, n);
            out += n;
            size -= n;
            decoder.repeat -= static_cast<uint32_t>(n);
            continue;
        }
        if (decoder.literal > 0) {
            if (source.next == source.end && !Refill(source)) {
                return Ended(source);
            }
            size_t n = static_cast<size_t>(source.end - source.next);
            n = n < decoder.literal ? n : decoder.literal;
            n = n < size ? n : size;
            std::memcpy(out, source.next, n);
            source.next += n;
            out += n;
            size -= n;
            decoder.literal -= static_cast<uint32_t>(n);
            continue;
        }
        uint8_t header;
        if (!NextByte(source, header)) {
            return Ended(source);
        }
        const auto n = static_cast<int8_t>(header);
        if (n >= 0) {
            decoder.literal = static_cast<uint32_t>(n) + 1;
        } else if (n != -128) {
            if (!NextByte(source, decoder.value)) {
                return Ended(source);
            }
            decoder.repeat = static_cast<uint32_t>(1 - n);
        }
    }
    return Status::Ok;
}

bool PackBitsDone(PackBitsDecoder& decoder, ByteSource& source)
{
    if (decoder.repeat > 0 || decoder.literal > 0) {
        return false;
    }
    uint8_t header;
    while (NextByte(source, header)) {
        if (header != 0x80) {
            return false;
        }
    }
    return source.status == Status::Ok;
}

}  // namespace kestova
