// Shared by the in-memory codec targets: how an input is split into a
// request and a stream, and a byte source that hands the stream out in
// pieces, each in an allocation of its own, so that a decoder reading past
// a piece, or writing past what it was asked for, trips AddressSanitizer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/byte_source.h"
#include "fuzz_support.h"

namespace codec_fuzz {

using Bytes = std::vector<uint8_t>;

// The input's first four bytes: the piece size (0: the whole stream in
// one), the bytes asked for (16 bits), and where the request is cut in two
// calls. The rest is the stream.
struct Request {
    size_t piece = 0;
    size_t size = 0;
    size_t firstCall = 0;
    const uint8_t* stream = nullptr;
    size_t streamSize = 0;
};

inline bool ParseRequest(const uint8_t* data, size_t size, Request& request)
{
    if (size < 4) {
        return false;
    }
    request.piece = data[0] % 64;
    request.size = data[1] | (size_t{data[2]} << 8);
    request.firstCall = request.size * data[3] / 255;
    request.stream = data + 4;
    request.streamSize = size - 4;
    return true;
}

class PieceSource {
public:
    PieceSource(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece)
    {
        source_.refill = Next;
        source_.context = this;
    }
    PieceSource(const PieceSource&) = delete;
    PieceSource& operator=(const PieceSource&) = delete;

    kestova::ByteSource& source() { return source_; }

private:
    static bool Next(kestova::ByteSource& source)
    {
        auto& self = *static_cast<PieceSource*>(source.context);
        if (self.at_ == self.size_) {
            return false;
        }
        const size_t n = self.piece_ == 0 ? self.size_ : std::min(self.piece_, self.size_ - self.at_);
        self.current_.reset(new uint8_t[n]);
        std::copy(self.data_ + self.at_, self.data_ + self.at_ + n, self.current_.get());
        self.at_ += n;
        source.next = self.current_.get();
        source.end = source.next + n;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t piece_;
    size_t at_ = 0;
    std::unique_ptr<uint8_t[]> current_;
    kestova::ByteSource source_;
};

// Decodes the stream as the request asks, in two calls cut at
// `firstCall`, into a buffer of exactly the size asked for:
// read(source, out, n) is the decoder's read, isDone(source) its check for
// the stream's end, whose answer goes to `done` after a success.
template <typename Read, typename IsDone>
kestova::Status DecodeRequest(const uint8_t* data, size_t size, const Request& request,
                              std::unique_ptr<uint8_t[]>& out, bool& done, Read&& read, IsDone&& isDone)
{
    PieceSource pieces(data, size, request.piece);
    out.reset(new uint8_t[std::max<size_t>(request.size, 1)]);
    kestova::Status status = read(pieces.source(), out.get(), request.firstCall);
    if (status == kestova::Status::Ok) {
        status = read(pieces.source(), out.get() + request.firstCall, request.size - request.firstCall);
    }
    done = status == kestova::Status::Ok && isDone(pieces.source());
    return status;
}

inline void CheckSame(const uint8_t* got, const uint8_t* want, size_t size, const char* what)
{
    if (!std::equal(got, got + size, want)) {
        fuzz_support::Fail(what);
    }
}

// The request's stream taken as a picture's bytes, `encoded` by the tests'
// encoder: decode(data, size, request, out, done) must give them back.
template <typename Decode>
void CheckRoundTrip(Request request, const Bytes& encoded, Decode&& decode)
{
    request.size = request.streamSize;
    request.firstCall = std::min(request.firstCall, request.size);
    std::unique_ptr<uint8_t[]> out;
    bool done = false;
    if (decode(encoded.data(), encoded.size(), request, out, done) != kestova::Status::Ok || !done) {
        fuzz_support::Fail("an encoded stream does not decode");
    }
    CheckSame(out.get(), request.stream, request.size, "the round trip changed the bytes");
}

}  // namespace codec_fuzz
