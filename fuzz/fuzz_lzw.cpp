// LZW from memory: any stream against a plain reference decoder (strings
// kept whole, codes read from one bit string), with the request cut in two
// calls and the stream in pieces; and any bytes encoded by the tests'
// encoder, new or old style, must decode to themselves.

#include <algorithm>
#include <string>

#include "codec_fuzz.h"
#include "codecs/lzw.h"
#include "tiff_encoders.h"

using namespace codec_fuzz;
using kestova::Status;

namespace {

struct Outcome {
    Bytes out;          // what decodes before the data ends, is damaged, or passes `limit`
    bool more = false;  // after `limit` bytes: a string cut, or codes other than clear and end
};

Outcome Reference(const uint8_t* data, size_t size, size_t limit)
{
    Outcome result;
    if (size < 2) {
        return result;
    }
    const bool oldStyle = data[0] == 0 && (data[1] & 1) != 0;
    size_t bit = 0;
    auto next = [&](uint32_t width, uint32_t& code) {
        if (bit + width > 8 * size) {
            return false;
        }
        code = 0;
        for (uint32_t k = 0; k < width; ++k, ++bit) {
            const uint32_t b = oldStyle ? data[bit / 8] >> (bit % 8) & 1 : data[bit / 8] >> (7 - bit % 8) & 1;
            code |= oldStyle ? b << k : b << (width - 1 - k);
        }
        return true;
    };
    std::vector<std::string> table(kestova::kLzwTableEntries);
    uint32_t width = 9;
    uint32_t free = 258;  // the next code to define
    uint32_t code = 0;
    std::string previous;
    bool havePrevious = false;
    while (result.out.size() < limit && next(width, code) && code != 257) {
        if (code == 256) {
            width = 9;
            free = 258;
            havePrevious = false;
            continue;
        }
        if (!havePrevious) {
            if (code > 255) {
                return result;
            }
            previous = std::string(1, static_cast<char>(code));
            havePrevious = true;
            result.out.push_back(static_cast<uint8_t>(code));
            continue;
        }
        if (free == table.size() || code > free) {
            return result;
        }
        const std::string string = code < 256   ? std::string(1, static_cast<char>(code))
                                   : code < free ? table[code]
                                                 : previous + previous[0];
        table[free++] = previous + string[0];
        if (free >= (1u << width) - (oldStyle ? 0 : 1) && width < 12) {
            ++width;
        }
        previous = string;
        result.out.insert(result.out.end(), string.begin(), string.end());
    }
    result.more = result.out.size() > limit;
    while (!result.more && next(width, code) && code != 257) {
        result.more = code != 256;
        width = 9;
    }
    return result;
}

Status Decode(const uint8_t* data, size_t size, const Request& request, std::unique_ptr<uint8_t[]>& out,
              bool& done)
{
    // Exactly the arena's size, so that the sanitizer sees any read past it,
    // and not zeros: the arena is lent as the caller last left it.
    static std::vector<uint32_t> words(kestova::kLzwArenaBytes / 4);
    std::fill(words.begin(), words.end(), 0xA5A5A5A5u);
    kestova::LzwDecoder decoder;
    kestova::LzwStart(decoder, words.data());
    return DecodeRequest(
        data, size, request, out, done,
        [&](kestova::ByteSource& source, uint8_t* to, size_t n) { return LzwRead(decoder, source, to, n); },
        [&](kestova::ByteSource& source) { return LzwDone(decoder, source); });
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
    // A stream too short to tell its style is refused at once.
    const bool enough = request.streamSize >= 2 && want.out.size() >= request.size;
    if ((status == Status::Ok) != enough) {
        fuzz_support::Fail("LZW: succeeded where the data is short or damaged, or refused good data",
                           static_cast<long long>(want.out.size()));
    }
    if (status == Status::Ok) {
        CheckSame(out.get(), want.out.data(), request.size, "LZW: decoded bytes differ from the reference");
        if (done == want.more) {
            fuzz_support::Fail("LZW: the end of the data misjudged");
        }
    }

    const bool oldStyle = (data[0] & 0x40) != 0;
    CheckRoundTrip(request, tiff_encoders::Lzw(request.stream, request.streamSize, oldStyle), Decode);
    return 0;
}
