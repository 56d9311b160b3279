// JPEG (TIFF compression 7): each strip or tile is a JPEG stream of its own,
// often abbreviated: the quantisation and Huffman tables it uses are kept
// once for the whole picture in the JPEGTables field, itself a stream of
// tables alone (SOI, DQT, DHT, EOI), read before the chunk's stream. The
// decoding is libjpeg's (libjpeg-turbo): this glue feeds it bytes from a
// ByteSource and hands its rows out as the other decoders hand theirs.
//
// Rows come out 8-bit, as TIFF stores RGB or grey: YCbCr is converted to
// RGB by libjpeg (at whatever subsampling the stream declares), RGB and
// grey streams come out as coded.
//
// libjpeg reports a fatal error by calling back and never returning, here
// by longjmp to the glue. Every libjpeg call is therefore made from a small
// function whose frame, like those of the calls it makes, holds only plain
// data, so that nothing with a destructor is jumped over; the error path
// then destroys libjpeg's object, freeing all it allocated. A warning
// (damaged data libjpeg would fill with grey and go on with, a stream that
// ends early) is taken as an error: a conversion never writes a picture
// partly made up.
//
// Memory: libjpeg allocates its own buffers, the one use of the heap in a
// conversion. A sequential stream needs buffers for a few rows of blocks
// of its width only, so its memory grows with the chunk's width, never with
// its height. A progressive or multi-scan stream would need a buffer for
// all its coefficients, so it is refused, as is any precision but 8 bits
// (12-bit JPEG).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/byte_source.h"
#include "status.h"

namespace kestova {

// Whether this build reads JPEG: the Windows DLLs are built without
// libjpeg (Debian has no Windows build of it) and refuse JPEG.
bool JpegAvailable();

enum class JpegColour : uint8_t { YCbCr, Rgb, Grey };

// What the TIFF says a chunk's stream must hold: its colour, the chunk's
// width, and between `rows` and `maxRows` rows (a last strip may be coded
// taller; only its `rows` are decoded).
struct JpegFrame {
    JpegColour colour = JpegColour::YCbCr;
    uint32_t width = 0;
    uint32_t rows = 0;
    uint32_t maxRows = 0;
};

// libjpeg's object, its error and source managers and the jump buffer,
// lent by the caller as an arena (aligned for any object).
constexpr size_t kJpegArenaBytes = size_t{2} * 1024;

struct JpegDecoder {
    void* state = nullptr;  // in the arena while libjpeg's object lives
    const uint8_t* row = nullptr;  // the row last decoded (libjpeg's memory)
    size_t rowBytes = 0;
    size_t rowOut = 0;  // bytes of `row` handed out
    Status failure = Status::Ok;
};

// Creates libjpeg's object in `arena`, or readies the one already there
// (the last chunk's, not ended) for a new stream: creating and destroying
// it for each chunk would cost more than decoding a small one. Tables read
// before stay until others replace them. NotSupported where this build has
// no JPEG or libjpeg cannot start.
Status JpegStart(JpegDecoder& decoder, void* arena);

// Reads a tables-only stream (JPEGTables), whose tables the chunk's stream
// may then use. NotSupported for a damaged stream or one with a picture.
Status JpegTables(JpegDecoder& decoder, ByteSource& source);

// Reads the chunk's stream up to its first row and checks it against
// `frame`: NotSupported for a damaged stream, one of another size, colour
// or component count, 12-bit, progressive or in several scans.
Status JpegBegin(JpegDecoder& decoder, ByteSource& source, const JpegFrame& frame);

// Decodes exactly `size` bytes of rows into `out`, a row possibly split
// across calls. The source's status on a read error, else NotSupported for
// a damaged stream or one that ends first.
Status JpegRead(JpegDecoder& decoder, uint8_t* out, size_t size);

// After the chunk's rows: reads to the stream's end where every row of the
// frame was decoded (damage met on the way refuses it); rows of a frame
// taller than its strip are left undecoded.
bool JpegDone(JpegDecoder& decoder);

// Lets libjpeg go; safe to call more than once.
void JpegEnd(JpegDecoder& decoder);

}  // namespace kestova
