// PackBits from memory: any stream against a plain reference decoder, with
// the request cut in two calls and the stream in pieces; and any bytes
// encoded by the tests' encoder must decode to themselves.

#include "codec_fuzz.h"
#include "codecs/packbits.h"
#include "tiff_encoders.h"

using namespace codec_fuzz;
using kestova::Status;

namespace {

// What the stream decodes to, from the first `limit` bytes on no further
// than the run that passes them, and whether more would come after.
Bytes Reference(const uint8_t* data, size_t size, size_t limit, bool& more)
{
    Bytes out;
    size_t i = 0;
    bool cut = false;  // a literal the data ends in
    while (i < size && out.size() < limit) {
        const auto n = static_cast<int8_t>(data[i++]);
        if (n >= 0) {
            const size_t count = std::min<size_t>(size_t(n) + 1, size - i);
            out.insert(out.end(), data + i, data + i + count);
            cut = count <= size_t(n);
            i += count;
        } else if (n != -128 && i < size) {
            out.insert(out.end(), size_t(1 - n), data[i++]);
        }
    }
    more = out.size() > limit || cut;
    for (; !more && i < size; ++i) {
        more = data[i] != 0x80;
    }
    return out;
}

Status Decode(const uint8_t* data, size_t size, const Request& request, std::unique_ptr<uint8_t[]>& out,
              bool& done)
{
    kestova::PackBitsDecoder decoder;
    return DecodeRequest(
        data, size, request, out, done,
        [&](kestova::ByteSource& source, uint8_t* to, size_t n) { return PackBitsRead(decoder, source, to, n); },
        [&](kestova::ByteSource& source) { return PackBitsDone(decoder, source); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Request request;
    if (!ParseRequest(data, size, request)) {
        return 0;
    }
    std::unique_ptr<uint8_t[]> out;
    bool done = false;
    const Status status = Decode(request.stream, request.streamSize, request, out, done);
    bool more = false;
    const Bytes want = Reference(request.stream, request.streamSize, request.size, more);
    if ((status == Status::Ok) != (want.size() >= request.size)) {
        fuzz_support::Fail("PackBits: succeeded where the data is short, or refused enough data", want.size());
    }
    if (status == Status::Ok) {
        CheckSame(out.get(), want.data(), request.size, "PackBits: decoded bytes differ from the reference");
        if (done == more) {
            fuzz_support::Fail("PackBits: the end of the data misjudged");
        }
    }

    CheckRoundTrip(request, tiff_encoders::PackBits(request.stream, request.streamSize), Decode);
    return 0;
}
