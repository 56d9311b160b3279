// The TIFF decoders on hostile streams the peer tests cannot make: each case
// asks for its bytes in the calls given, into a buffer with a guard past
// the end, and checks the status, the bytes and whether the stream is done.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <zlib.h>

#include "codecs/deflate.h"
#include "codecs/lzw.h"
#include "codecs/packbits.h"
#include "tiff/tiff_pixels.h"
#include "tiff_encoders.h"

using namespace kestova;
using tiff_encoders::Bytes;

namespace {

enum class Codec { Lzw, PackBits, Deflate };

struct Case {
    const char* name;
    Codec codec;
    Bytes stream;
    std::vector<size_t> calls;  // bytes asked for by each call
    Status want;                // of the last call
    std::string out;            // the bytes, when all calls succeed
    bool done = true;           // then: nothing more in the stream
};

Bytes Literals(size_t count)
{
    std::vector<uint32_t> codes = {256};
    codes.insert(codes.end(), count, 'a');
    codes.push_back(257);
    return tiff_encoders::LzwCodes(codes);
}

void Check(const Case& c)
{
    SCOPED_TRACE(c.name);
    alignas(16) static uint8_t arena[kLzwArenaBytes > kDeflateArenaBytes ? kLzwArenaBytes : kDeflateArenaBytes];
    std::fill(std::begin(arena), std::end(arena), 0xA5);  // the arena is lent as the last user left it
    ByteSource source = MemorySource(c.stream.data(), c.stream.size());
    LzwDecoder lzw;
    PackBitsDecoder packBits;
    DeflateDecoder deflate;
    c.codec == Codec::Lzw ? LzwStart(lzw, arena) : void();
    ASSERT_EQ(c.codec == Codec::Deflate ? DeflateStart(deflate, arena) : Status::Ok, Status::Ok);
    std::string out;
    Status status = Status::Ok;
    for (size_t i = 0; i < c.calls.size() && status == Status::Ok; ++i) {
        std::vector<uint8_t> buffer(c.calls[i] + 4, 0xEE);  // a guard past the bytes asked for
        status = c.codec == Codec::Lzw        ? LzwRead(lzw, source, buffer.data(), c.calls[i])
                 : c.codec == Codec::PackBits ? PackBitsRead(packBits, source, buffer.data(), c.calls[i])
                                              : DeflateRead(deflate, source, buffer.data(), c.calls[i]);
        EXPECT_EQ(std::vector<uint8_t>(buffer.end() - 4, buffer.end()), std::vector<uint8_t>(4, 0xEE));
        out.append(buffer.begin(), buffer.end() - 4);
    }
    EXPECT_EQ(status, c.want);
    if (status == Status::Ok) {
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(c.codec == Codec::Lzw        ? LzwDone(lzw, source)
                  : c.codec == Codec::PackBits ? PackBitsDone(packBits, source)
                                               : DeflateDone(deflate, source),
                  c.done);
    }
    DeflateEnd(deflate);
}

TEST(TiffCodecsTest, LzwHostileStreams)
{
    const std::string text = "to be or not to be, that is the question: to be or not to be";
    const Bytes lzw = tiff_encoders::Lzw(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::string long_(3000, 'x');
    for (size_t i = 0; i < long_.size(); i += 7) {
        long_[i] = static_cast<char>('a' + i % 26);  // some 2000 codes: widths 10, 11 and 12
    }
    const Bytes oldStyle =
        tiff_encoders::Lzw(reinterpret_cast<const uint8_t*>(long_.data()), long_.size(), true);
    // Runs: strings of up to some 60 bytes, many pieces each, asked for in
    // calls that end at every place within a piece.
    std::string runs;
    for (size_t i = 0; runs.size() < 2500; ++i) {
        runs.append(i % 5 + i % 11 * 17, static_cast<char>('a' + i % 3));
    }
    const Bytes runsLzw = tiff_encoders::Lzw(reinterpret_cast<const uint8_t*>(runs.data()), runs.size());
    // One run of 30000 bytes: each code its predecessor and one byte more,
    // up to some 240 bytes, copied from the output where it is there.
    const std::string paper = std::string(30000, 'w') + "ink";
    const Bytes paperLzw = tiff_encoders::Lzw(reinterpret_cast<const uint8_t*>(paper.data()), paper.size());
    const Case cases[] = {
        {"runs, whole", Codec::Lzw, runsLzw, {runs.size()}, Status::Ok, runs},
        {"runs, cut anywhere", Codec::Lzw, runsLzw, {1, 5, 6, 7, 11, 12, 13, 61, runs.size() - 116}, Status::Ok, runs},
        {"a long run, whole", Codec::Lzw, paperLzw, {paper.size()}, Status::Ok, paper},
        {"a long run, cut amid its strings", Codec::Lzw, paperLzw, {7000, 33, 1, 4000, 17, paper.size() - 11051},
         Status::Ok, paper},
        {"a code defined by itself (KwKwK)", Codec::Lzw, tiff_encoders::LzwCodes({256, 'a', 258, 257}), {3},
         Status::Ok, "aaa"},
        {"a string cut by the request, given out in pieces", Codec::Lzw,
         tiff_encoders::LzwCodes({256, 'a', 258, 259, 257}), {2, 1, 3}, Status::Ok, "aaaaaa"},
        {"a string cut and the rest never asked for", Codec::Lzw, tiff_encoders::LzwCodes({256, 'a', 258, 257}),
         {2}, Status::Ok, "aa", false},
        {"a code past the next free one", Codec::Lzw, tiff_encoders::LzwCodes({256, 'a', 300, 257}), {3},
         Status::NotSupported, ""},
        {"a string code right after a clear", Codec::Lzw, tiff_encoders::LzwCodes({256, 258, 257}), {1},
         Status::NotSupported, ""},
        {"the end code before the bytes asked for", Codec::Lzw, lzw, {text.size() + 1}, Status::NotSupported, ""},
        {"data ending mid-code", Codec::Lzw, Bytes(lzw.begin(), lzw.end() - 4), {text.size()},
         Status::NotSupported, ""},
        {"old style, least significant bit first", Codec::Lzw, oldStyle, {long_.size()}, Status::Ok, long_},
        {"4800 codes without a clear: past 4096, within the slack", Codec::Lzw, Literals(4800), {4800},
         Status::Ok, std::string(4800, 'a')},
        {"a table that overflows without a clear", Codec::Lzw, Literals(4900), {4900}, Status::NotSupported, ""},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

TEST(TiffCodecsTest, PackBitsHostileStreams)
{
    const Case cases[] = {
        {"a run across two requests", Codec::PackBits, {0xFE, 'x', 0x00, 'y'}, {2, 2}, Status::Ok, "xxxy"},
        {"a run past the request", Codec::PackBits, {0xFE, 'x'}, {2}, Status::Ok, "xx", false},
        {"no-op bytes between and after", Codec::PackBits, {0x80, 0x01, 'a', 'b', 0x80, 0x80}, {2}, Status::Ok,
         "ab"},
        {"a literal cut short", Codec::PackBits, {0x03, 'a', 'b'}, {4}, Status::NotSupported, ""},
        {"a run without its byte", Codec::PackBits, {0xFD}, {1}, Status::NotSupported, ""},
        {"a header after the request", Codec::PackBits, {0x00, 'a', 0x00}, {1}, Status::Ok, "a", false},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

TEST(TiffCodecsTest, DeflateDamagedStreams)
{
    const std::string text(5000, 'q');
    const Bytes zlib = tiff_encoders::Deflate(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    Bytes junk = zlib;
    junk.insert(junk.end(), {'j', 'u', 'n', 'k'});
    Bytes badHeader = zlib;
    badHeader[1] ^= 1;  // the header's check bits
    const Case cases[] = {
        {"a whole stream", Codec::Deflate, zlib, {1000, 4000}, Status::Ok, text},
        {"trailing bytes past the stream's end", Codec::Deflate, junk, {5000}, Status::Ok, text},
        {"more asked for than the stream holds", Codec::Deflate, junk, {5001}, Status::NotSupported, ""},
        {"a stream cut short", Codec::Deflate, Bytes(zlib.begin(), zlib.end() - 6), {5000}, Status::NotSupported, ""},
        {"a bad zlib header", Codec::Deflate, badHeader, {1}, Status::NotSupported, ""},
        // Cut before its checksum: zlib takes all 9 bytes into a long match,
        // and owes the match's bytes after its input has run out.
        {"a match owed after the input ends", Codec::Deflate, {0x78, 0x9c, 0x0b, 0x0d, 0x25, 0x02, 0x0c, 0x38, 0x27},
         {76, 76}, Status::Ok, std::string(152, 'U'), false},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

// The check value past the rows: a stream whose Adler-32 is wrong is
// refused however its rows were asked for, one whose data runs out or
// holds more than the bound past the rows is taken, and extra bytes a
// stream holds past the rows are thrown away.
TEST(TiffCodecsTest, DeflateCheckValuePastTheRows)
{
    const std::string text(5001, 'q');
    const auto zlib = [&](size_t size) {
        return tiff_encoders::Deflate(reinterpret_cast<const uint8_t*>(text.data()), size);
    };
    const auto badCheck = [](Bytes stream) {
        if (!stream.empty()) {
            stream.back() ^= 0x55;
        }
        return stream;
    };
    const Bytes whole = zlib(5000);
    // The rows, then 3,000 empty stored blocks, which give nothing out but
    // are read all the same, then an empty last block and the check value.
    Bytes padded(1024);
    z_stream z{};
    deflateInit(&z, 6);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = 5000;
    z.next_out = padded.data();
    z.avail_out = static_cast<uInt>(padded.size());
    deflate(&z, Z_SYNC_FLUSH);  // ends on a byte
    padded.resize(z.total_out);
    deflateEnd(&z);
    const uLong check = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text.data()), 5000);
    const uint8_t emptyBlock[] = {0x00, 0x00, 0x00, 0xFF, 0xFF};
    const uint8_t end[] = {0x03, 0x00, static_cast<uint8_t>(check >> 24), static_cast<uint8_t>(check >> 16),
                           static_cast<uint8_t>(check >> 8), static_cast<uint8_t>(check)};
    for (int block = 0; block < 3000; ++block) {
        padded.insert(padded.end(), std::begin(emptyBlock), std::end(emptyBlock));
    }
    padded.insert(padded.end(), std::begin(end), std::end(end));
    const struct {
        const char* name;
        Bytes stream;
        size_t most;
        Status want;
    } cases[] = {
        {"sound", whole, 4096, Status::Ok},
        {"check value wrong", badCheck(whole), 4096, Status::NotSupported},
        {"one byte more, sound", zlib(5001), 4096, Status::Ok},
        {"one byte more, check value wrong", badCheck(zlib(5001)), 4096, Status::NotSupported},
        {"check value cut off", Bytes(whole.begin(), whole.end() - 4), 4096, Status::Ok},
        {"more past the rows than checked", badCheck(zlib(5000)), 0, Status::Ok},
        {"empty blocks past the rows, sound", padded, 1 << 20, Status::Ok},
        {"empty blocks past the rows, check value wrong", badCheck(padded), 1 << 20, Status::NotSupported},
    };
    alignas(16) static uint8_t arena[kDeflateArenaBytes];
    for (const auto& c : cases) {
        for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}, size_t{4999}}) {
            SCOPED_TRACE(testing::Message() << c.name << ", pieces of " << piece);
            const bool shorter = c.most == 0;  // the rows stop 100 bytes before the data
            const size_t rows = shorter ? 4900 : 5000;
            ByteSource source = MemorySource(c.stream.data(), c.stream.size());
            DeflateDecoder deflate;
            ASSERT_EQ(DeflateStart(deflate, arena), Status::Ok);
            // zlib may meet the check value with the last row, or after.
            std::vector<uint8_t> out(rows);
            Status status = Status::Ok;
            for (size_t at = 0; at < rows && status == Status::Ok; at += piece) {
                status = DeflateRead(deflate, source, &out[at], std::min(piece, rows - at));
            }
            if (status == Status::Ok) {
                status = DeflateCheckEnd(deflate, source, shorter ? 99 : c.most);
            }
            EXPECT_EQ(status, c.want);
            DeflateEnd(deflate);
        }
    }
}

// Horizontal differencing undone on rows of 1 to 4 samples a pixel, whole
// and in pieces of whole pixels, against the running sums taken plainly.
TEST(TiffCodecsTest, PredictorUndoneInPieces)
{
    for (uint32_t samples = 1; samples <= 4; ++samples) {
        for (const size_t pixels : {size_t{1}, size_t{5}, size_t{6}, size_t{11}, size_t{100}}) {
            for (const size_t piece : {size_t{1}, size_t{5}, size_t{16}, pixels}) {
                SCOPED_TRACE(testing::Message() << samples << " samples, " << pixels << " pixels by " << piece);
                std::vector<uint8_t> row(samples * pixels);
                for (size_t i = 0; i < row.size(); ++i) {
                    row[i] = static_cast<uint8_t>(i * 2654435761u >> 11);
                }
                std::vector<uint8_t> want = row;
                for (size_t i = samples; i < want.size(); ++i) {
                    want[i] = static_cast<uint8_t>(want[i] + want[i - samples]);
                }
                uint8_t carry[4] = {};
                for (size_t at = 0; at < pixels; at += piece) {
                    Undifference(row.data() + samples * at, samples * std::min(piece, pixels - at), samples, carry);
                }
                EXPECT_EQ(row, want);
            }
        }
    }
}

}  // namespace
