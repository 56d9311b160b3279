// The fax decoder from memory: any stream, in any coding, options and
// width, against a plain reference decoder (bits read one at a time, codes
// matched against the code lists, rows as one byte a pixel, changing
// elements found pixel by pixel), with the request cut in two calls and the
// stream in pieces.
//
// After the request's four bytes: one for the coding (bits 0-1: 2, 3, 4, 4),
// its options (bits 2-4) and whether the width may be wide (bits 5-7 all
// set), two for the width (big-endian; below 1024 unless wide, which keeps
// most inputs fast), then the stream.

#include "codec_fuzz.h"
#include "codecs/ccitt.h"

using namespace codec_fuzz;
using kestova::CcittCode;
using kestova::CcittCoding;
using kestova::Status;

namespace {

struct Setting {
    CcittCoding coding;
    uint32_t options;
    uint32_t width;
};

class Bits {
public:
    Bits(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Next(uint32_t& bit)
    {
        if (at_ == 8 * size_) {
            return false;
        }
        bit = data_[at_ / 8] >> (7 - at_ % 8) & 1;
        ++at_;
        return true;
    }
    // The number of 0 bits from here, and whether a 1 follows them.
    size_t Zeros(bool& one) const
    {
        size_t at = at_;
        while (at < 8 * size_ && (data_[at / 8] >> (7 - at % 8) & 1) == 0) {
            ++at;
        }
        one = at < 8 * size_;
        return at - at_;
    }
    void Skip(size_t n) { at_ = std::min(at_ + n, 8 * size_); }
    void Align() { at_ = (at_ + 7) / 8 * 8; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

template <size_t N>
bool Match(const CcittCode (&codes)[N], uint32_t code, uint32_t bits, uint32_t& run)
{
    for (const CcittCode& c : codes) {
        if (c.bits == bits && c.code == code) {
            run = c.run;
            return true;
        }
    }
    return false;
}

bool Run(Bits& in, bool black, uint32_t limit, uint32_t& total)
{
    total = 0;
    for (;;) {
        uint32_t code = 0;
        uint32_t run = 0;
        bool found = false;
        for (uint32_t bits = 1; bits <= 13 && !found; ++bits) {
            uint32_t bit;
            if (!in.Next(bit)) {
                return false;
            }
            code = code << 1 | bit;
            found = black ? Match(kestova::kCcittBlackCodes, code, bits, run)
                          : Match(kestova::kCcittWhiteCodes, code, bits, run);
            found = found || Match(kestova::kCcittExtendedCodes, code, bits, run);
        }
        if (!found) {
            return false;
        }
        total += run;
        if (total > limit) {
            return false;
        }
        if (run < 64) {
            return true;
        }
    }
}

bool Row1D(Bits& in, std::vector<uint8_t>& row)
{
    const auto width = static_cast<uint32_t>(row.size());
    bool black = false;
    for (uint32_t a0 = 0; a0 < width; black = !black) {
        uint32_t run;
        if (!Run(in, black, width - a0, run)) {
            return false;
        }
        std::fill(row.begin() + a0, row.begin() + a0 + run, black ? 1 : 0);
        a0 += run;
    }
    return true;
}

bool Row2D(Bits& in, std::vector<uint8_t>& row, const std::vector<uint8_t>& above)
{
    const auto width = static_cast<uint32_t>(row.size());
    // Whether `p` is a changing element above to `colour`.
    auto change = [&](uint32_t p, uint8_t colour) { return above[p] == colour && (p == 0 ? 0 : above[p - 1]) != colour; };
    uint32_t a0 = 0;
    bool start = true;
    uint8_t colour = 0;
    while (a0 < width) {
        uint32_t code = 0;
        const kestova::CcittModeCode* mode = nullptr;
        for (uint32_t bits = 1; bits <= 7 && mode == nullptr; ++bits) {
            uint32_t bit;
            if (!in.Next(bit)) {
                return false;
            }
            code = code << 1 | bit;
            for (const kestova::CcittModeCode& m : kestova::kCcittModeCodes) {
                mode = m.bits == bits && m.code == code ? &m : mode;
            }
        }
        if (mode == nullptr || mode->mode == kestova::CcittMode::Extension) {
            return false;
        }
        if (mode->mode == kestova::CcittMode::Horizontal) {
            uint32_t run1;
            uint32_t run2;
            if (!Run(in, colour != 0, width - a0, run1) || !Run(in, colour == 0, width - a0 - run1, run2)) {
                return false;
            }
            std::fill(row.begin() + a0, row.begin() + a0 + run1, colour);
            std::fill(row.begin() + a0 + run1, row.begin() + a0 + run1 + run2, 1 - colour);
            a0 += run1 + run2;
            start = false;
            continue;
        }
        uint32_t b1 = start ? 0 : a0 + 1;
        while (b1 < width && !change(b1, static_cast<uint8_t>(1 - colour))) {
            ++b1;
        }
        uint32_t b2 = b1 + 1;
        while (b2 < width && !change(b2, colour)) {
            ++b2;
        }
        b2 = std::min(b2, width);
        uint32_t a1 = b2;
        if (mode->mode == kestova::CcittMode::Vertical) {
            const int64_t at = int64_t{b1} + mode->offset;
            if (at < a0 || at > width) {
                return false;
            }
            a1 = static_cast<uint32_t>(at);
        }
        std::fill(row.begin() + a0, row.begin() + a1, colour);
        a0 = a1;
        colour = mode->mode == kestova::CcittMode::Vertical ? static_cast<uint8_t>(1 - colour) : colour;
        start = false;
    }
    return true;
}

struct Outcome {
    Bytes out;          // the rows decoded before a fault or the data's end, packed
    bool more = false;  // after `limit` bytes: a row part-way, or bits other than EOLs and 0 bits
};

Outcome Reference(const Setting& s, const uint8_t* data, size_t size, size_t limit)
{
    Outcome result;
    const bool twoD = s.coding == CcittCoding::T4 && (s.options & 1) != 0;
    if (s.width == 0 || s.width > kestova::kCcittMaxWidth ||
        (s.coding != CcittCoding::ModifiedHuffman && (s.options & 2) != 0)) {
        return result;
    }
    Bits in(data, size);
    std::vector<uint8_t> above(s.width, 0);
    std::vector<uint8_t> row(s.width);
    const size_t rowBytes = (s.width + 7) / 8;
    while (result.out.size() < limit) {
        std::fill(row.begin(), row.end(), 0);
        bool ok = true;
        if (s.coding == CcittCoding::ModifiedHuffman) {
            in.Align();
            ok = Row1D(in, row);
        } else if (s.coding == CcittCoding::T6) {
            ok = Row2D(in, row, above);
        } else {
            bool one;
            const size_t zeros = in.Zeros(one);
            if (one && zeros >= 11) {
                in.Skip(zeros + 1);  // an EOL
            }
            uint32_t tag = 1;
            ok = !twoD || in.Next(tag);
            ok = ok && (tag == 0 ? Row2D(in, row, above) : Row1D(in, row));
        }
        if (!ok) {
            return result;
        }
        for (size_t i = 0; i < rowBytes; ++i) {
            uint8_t byte = 0;
            for (size_t k = 0; k < 8; ++k) {
                byte = static_cast<uint8_t>(byte << 1 | (8 * i + k < s.width ? row[8 * i + k] : 0));
            }
            result.out.push_back(byte);
        }
        above = row;
    }
    result.more = result.out.size() > limit;
    while (!result.more) {
        bool one;
        const size_t zeros = in.Zeros(one);
        if (!one) {
            break;
        }
        result.more = zeros < 11;
        in.Skip(zeros + 1 + (twoD ? 1 : 0));  // an EOL and its tag bit
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Request request;
    if (!ParseRequest(data, size, request) || request.streamSize < 3) {
        return 0;
    }
    const uint8_t codings[] = {2, 3, 4, 4};
    const uint32_t width = fuzz_support::Be16(request.stream + 1);
    const Setting setting{static_cast<CcittCoding>(codings[request.stream[0] & 3]),
                          static_cast<uint32_t>(request.stream[0] >> 2 & 7),
                          request.stream[0] >> 5 == 7 ? width : width % 1024};
    request.stream += 3;
    request.streamSize -= 3;

    static std::vector<uint8_t> arena(kestova::kCcittArenaBytes);
    kestova::CcittDecoder decoder;
    kestova::CcittStart(decoder, setting.coding, setting.options, setting.width, arena.data());
    std::unique_ptr<uint8_t[]> out;
    bool done = false;
    const Status status = DecodeRequest(
        request.stream, request.streamSize, request, out, done,
        [&](kestova::ByteSource& source, uint8_t* to, size_t n) { return CcittRead(decoder, source, to, n); },
        [&](kestova::ByteSource& source) { return CcittDone(decoder, source); });

    const Outcome want = Reference(setting, request.stream, request.streamSize, request.size);
    const bool refused = setting.width == 0 || setting.width > kestova::kCcittMaxWidth ||
                         (setting.coding != CcittCoding::ModifiedHuffman && (setting.options & 2) != 0);
    if ((status == Status::Ok) != (!refused && want.out.size() >= request.size)) {
        fuzz_support::Fail("CCITT: succeeded where the data is short or damaged, or refused good data",
                           static_cast<long long>(want.out.size()));
    }
    if (status == Status::Ok) {
        CheckSame(out.get(), want.out.data(), request.size, "CCITT: decoded rows differ from the reference");
        if (done == want.more) {
            fuzz_support::Fail("CCITT: the end of the data misjudged");
        }
    }
    return 0;
}
