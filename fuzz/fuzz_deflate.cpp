// Deflate from memory, through the zlib glue and its fixed arena: any
// stream against zlib inflating it whole with its own allocator, with the
// request cut in two calls and the stream in pieces; and any bytes
// compressed by zlib, at a level the input picks, must decode to themselves.
// The whole-buffer inflater (libdeflate) on the same streams: whatever it
// takes must be what zlib gives, and a stream it takes short zlib must end
// short too; what it does not take zlib decides. Its one known departure:
// it decodes the codes the format reserves, which zlib refuses.

#include <zlib.h>

#include <cstring>

#include "codec_fuzz.h"
#include "codecs/deflate.h"
#include "tiff_encoders.h"

using namespace codec_fuzz;
using kestova::Status;

namespace {

struct Outcome {
    Bytes out;           // the first `limit` bytes, or fewer where the stream ends or is damaged first
    bool clean = false;  // no damage met
    bool more = false;   // after them, a byte more comes
    bool ends = false;   // after them, the stream's end, and nothing more
    bool reserved = false;  // refused at a code the format reserves
};

// zlib's words for a literal/length code of 286 or 287 and a distance code
// of 30 or 31, which the format reserves and no encoder writes. libdeflate
// decodes them (its documented departure); zlib refuses them with these
// words.
bool ReservedCode(const char* message)
{
    return message != nullptr &&
           (std::strcmp(message, "invalid literal/length code") == 0 || std::strcmp(message, "invalid distance code") == 0);
}

Outcome Reference(const uint8_t* data, size_t size, size_t limit)
{
    Outcome result;
    result.out.resize(limit);
    z_stream stream{};
    inflateInit(&stream);
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = result.out.data();
    stream.avail_out = static_cast<uInt>(limit);
    int status = inflate(&stream, Z_NO_FLUSH);
    result.out.resize(limit - stream.avail_out);
    result.clean = status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR;
    if (result.out.size() == limit && status == Z_OK) {
        uint8_t extra;
        stream.next_out = &extra;
        stream.avail_out = 1;
        status = inflate(&stream, Z_NO_FLUSH);
        result.more = stream.avail_out == 0;
    }
    result.ends = status == Z_STREAM_END && !result.more;
    result.reserved = status == Z_DATA_ERROR && ReservedCode(stream.msg);
    inflateEnd(&stream);
    return result;
}

Status Decode(const uint8_t* data, size_t size, const Request& request, std::unique_ptr<uint8_t[]>& out,
              bool& done)
{
    alignas(16) static uint8_t arena[kestova::kDeflateArenaBytes];
    kestova::DeflateDecoder decoder;
    if (DeflateStart(decoder, arena) != Status::Ok) {
        fuzz_support::Fail("Deflate: zlib does not start in the arena");
    }
    const Status status = DecodeRequest(
        data, size, request, out, done,
        [&](kestova::ByteSource& source, uint8_t* to, size_t n) { return DeflateRead(decoder, source, to, n); },
        [&](kestova::ByteSource& source) { return DeflateDone(decoder, source); });
    DeflateEnd(decoder);
    return status;
}

// `room` bytes asked of the whole-buffer inflater; false where it leaves
// the stream to zlib.
bool InflateWhole(const uint8_t* data, size_t size, size_t room, Bytes& out)
{
    alignas(16) static uint8_t arena[kestova::kWholeMappedBytes];
    static kestova::WholeInflater inflater;
    if (!kestova::WholeReady(inflater, arena)) {
        if (kestova::WholeInflaterBuiltIn()) {
            fuzz_support::Fail("Deflate: libdeflate does not start in the arena");
        }
        return false;
    }
    uint8_t* to = kestova::WholeRoom(inflater);
    size_t produced = 0;
    if (room > kestova::kWholeArenaBytes || !kestova::InflateWhole(inflater, data, size, to, room, produced)) {
        return false;
    }
    out.assign(to, to + produced);
    return true;
}

void CheckWhole(const Request& request, const Outcome& want)
{
    Bytes out;
    if (!InflateWhole(request.stream, request.streamSize, request.size, out)) {
        return;
    }
    const bool agrees = out.size() == request.size ? want.out.size() == request.size : want.ends && want.out.size() == out.size();
    // Past a reserved code zlib stops; before it both must give the same.
    const bool departs = want.reserved && want.out.size() < out.size();
    if (departs) {
        CheckSame(out.data(), want.out.data(), want.out.size(), "Deflate: libdeflate's bytes differ from zlib's");
        return;
    }
    if (!agrees) {
        fuzz_support::Fail("Deflate: libdeflate takes a stream zlib inflates otherwise",
                           static_cast<long long>(out.size()));
    }
    CheckSame(out.data(), want.out.data(), out.size(), "Deflate: libdeflate's bytes differ from zlib's");
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
    const Outcome want = Reference(request.stream, request.streamSize, request.size);
    // Damage met just past the bytes asked for may or may not be read: only
    // a clean stream must decode, and only one with the bytes asked for may.
    const bool enough = want.out.size() == request.size;
    if ((enough && want.clean && status != Status::Ok) || (!enough && status == Status::Ok)) {
        fuzz_support::Fail("Deflate: succeeded where zlib ends short, or refused what zlib inflates",
                           static_cast<long long>(want.out.size()));
    }
    if (status == Status::Ok) {
        CheckSame(out.get(), want.out.data(), request.size, "Deflate: inflated bytes differ from zlib's");
        if ((done && want.more) || (!done && want.ends)) {
            fuzz_support::Fail("Deflate: the end of the stream misjudged");
        }
    }

    CheckWhole(request, want);

    const int level = data[0] % 10;
    const Bytes encoded = tiff_encoders::Deflate(request.stream, request.streamSize, level);
    CheckRoundTrip(request, encoded, Decode);
    Bytes whole;
    if (kestova::WholeInflaterBuiltIn() &&
        (!InflateWhole(encoded.data(), encoded.size(), request.streamSize, whole) || whole.size() != request.streamSize)) {
        fuzz_support::Fail("Deflate: libdeflate does not take a stream zlib made");
    }
    CheckSame(whole.data(), request.stream, whole.size(), "Deflate: libdeflate's round trip changed the bytes");
    return 0;
}
