// The JPEG glue from memory: a tables stream and a chunk's stream, checked
// against the frame the input declares, rows read in two calls. libjpeg
// decodes; what is checked is the glue: that an error anywhere (libjpeg's
// longjmp) leaves nothing behind, and that the bytes handed to libjpeg in
// pieces give what they give in one, success or refusal alike.

#include "codec_fuzz.h"
#include "codecs/jpeg.h"

using namespace codec_fuzz;
using kestova::Status;

namespace {

// The input: the piece size (0: whole), the colour and whether there are
// tables, the frame's width and rows (16 bits each) and rows more a last
// strip may have, the tables' length (16 bits); then the tables, then the
// chunk's stream.
struct JpegInput {
    size_t piece = 0;
    bool tables = false;
    kestova::JpegFrame frame;
    const uint8_t* tablesData = nullptr;
    size_t tablesSize = 0;
    const uint8_t* stream = nullptr;
    size_t streamSize = 0;
};

bool Parse(const uint8_t* data, size_t size, JpegInput& in)
{
    if (size < 9) {
        return false;
    }
    in.piece = data[0] % 64;
    in.frame.colour = static_cast<kestova::JpegColour>(data[1] % 3);
    in.tables = (data[1] & 0x80) != 0;
    in.frame.width = data[2] | uint32_t{data[3]} << 8;
    in.frame.rows = data[4] | uint32_t{data[5]} << 8;
    in.frame.maxRows = in.frame.rows + data[6] % 16;
    in.tablesSize = std::min<size_t>(data[7] | size_t{data[8]} << 8, size - 9);
    in.tablesData = data + 9;
    in.stream = in.tablesData + in.tablesSize;
    in.streamSize = size - 9 - in.tablesSize;
    // Pictures of up to a megapixel, to keep to the fuzzer's pace.
    return uint64_t{in.frame.width} * in.frame.rows <= (uint64_t{1} << 20);
}

// Decodes every row; `rows` gets them where the stream is read whole.
Status Decode(const JpegInput& in, size_t piece, Bytes& rows, bool& done)
{
    alignas(16) static uint8_t arena[kestova::kJpegArenaBytes];
    kestova::JpegDecoder decoder;
    PieceSource tables(in.tablesData, in.tablesSize, piece);
    PieceSource stream(in.stream, in.streamSize, piece);
    const size_t channels = in.frame.colour == kestova::JpegColour::Grey ? 1 : 3;
    rows.assign(size_t{in.frame.width} * in.frame.rows * channels, 0);
    Status status = JpegStart(decoder, arena);
    if (status == Status::Ok && in.tables) {
        status = JpegTables(decoder, tables.source());
    }
    if (status == Status::Ok) {
        status = JpegBegin(decoder, stream.source(), in.frame);
    }
    const size_t first = rows.size() / 3;  // a row split across the calls
    if (status == Status::Ok) {
        status = JpegRead(decoder, rows.data(), first);
    }
    if (status == Status::Ok) {
        status = JpegRead(decoder, rows.data() + first, rows.size() - first);
    }
    done = status == Status::Ok && JpegDone(decoder);
    JpegEnd(decoder);
    JpegEnd(decoder);  // twice is safe
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    JpegInput in;
    if (!Parse(data, size, in)) {
        return 0;
    }
    Bytes whole, pieces;
    bool wholeDone = false, piecesDone = false;
    const Status a = Decode(in, 0, whole, wholeDone);
    const Status b = Decode(in, in.piece, pieces, piecesDone);
    if (a != b || wholeDone != piecesDone) {
        fuzz_support::Fail("JPEG: the stream in pieces is read otherwise than whole");
    }
    if (a == Status::Ok) {
        CheckSame(pieces.data(), whole.data(), whole.size(), "JPEG: the stream in pieces decodes otherwise");
    }
    if (a != Status::Ok && a != Status::NotSupported) {
        fuzz_support::Fail("JPEG: a memory stream gave a read error");
    }
    return 0;
}
