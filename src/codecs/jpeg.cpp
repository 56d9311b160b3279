#include "codecs/jpeg.h"

#if KESTOVATIFF_WITH_JPEG

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

namespace kestova {
namespace {

struct JpegState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    jpeg_source_mgr input;
    ByteSource* source;
    JpegFrame frame;
    size_t feed;  // the most bytes handed to libjpeg at a time (FillInputBuffer)
    int header;  // what jpeg_read_header said
    bool multiScan;
    JSAMPARRAY row;  // kept from chunk to chunk, `rowBytes` long
    size_t rowBytes;
    JSAMPROW target;  // where ReadRow puts the next row
    std::jmp_buf jump;
};
static_assert(sizeof(JpegState) <= kJpegArenaBytes, "libjpeg's object must fit its arena");

JpegState& StateOf(j_common_ptr cinfo) { return *static_cast<JpegState*>(cinfo->client_data); }
JpegState& StateOf(j_decompress_ptr cinfo) { return *static_cast<JpegState*>(cinfo->client_data); }

// libjpeg's error manager: an error jumps back to Guarded; a warning
// (message level -1) is an error too; trace messages are dropped, and
// nothing is ever printed.
[[noreturn]] void ErrorExit(j_common_ptr cinfo) { std::longjmp(StateOf(cinfo).jump, 1); }

void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0) {
        std::longjmp(StateOf(cinfo).jump, 1);
    }
}

void OutputMessage(j_common_ptr /*cinfo*/) {}

// libjpeg's source manager over the ByteSource: each piece as it comes.
// The data's end within a stream is an error, not the made-up end of
// image libjpeg would otherwise put there.
void InitSource(j_decompress_ptr /*cinfo*/) {}

// libjpeg-turbo decodes Huffman codes by a fast path where at least 512
// bytes an MCU block are buffered (DCTSIZE2 * 8 * blocks_in_MCU), and that
// path takes a code that is not in the table as a zero without the warning
// its careful path gives. So a damaged stream would pass, with made-up
// pixels, or not, by how the bytes happen to be buffered. Handing it at
// most a byte fewer than that at a time keeps it on the careful path, where
// every bad code is a warning, and a warning refuses the picture. Before
// the frame is known (its headers) the least of these is handed: 511 bytes,
// so that what is left buffered when the rows start is below it too.
constexpr size_t kJpegFastBytesPerBlock = 512;
constexpr size_t kJpegHeaderFeedBytes = kJpegFastBytesPerBlock - 1;

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    ByteSource& source = *StateOf(cinfo).source;
    if (source.next == source.end && !Refill(source)) {
        ERREXIT(cinfo, JERR_INPUT_EOF);
    }
    const size_t available = static_cast<size_t>(source.end - source.next);
    const size_t feed = StateOf(cinfo).feed;
    const size_t n = available < feed ? available : feed;
    cinfo->src->next_input_byte = source.next;
    cinfo->src->bytes_in_buffer = n;
    source.next += n;  // libjpeg's now
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr& input = *cinfo->src;
    while (count > 0) {
        if (input.bytes_in_buffer == 0) {
            FillInputBuffer(cinfo);
        }
        const size_t n = static_cast<size_t>(count) < input.bytes_in_buffer ? static_cast<size_t>(count)
                                                                            : input.bytes_in_buffer;
        input.next_input_byte += n;
        input.bytes_in_buffer -= n;
        count -= static_cast<long>(n);
    }
}

void TermSource(j_decompress_ptr /*cinfo*/) {}

// The jump point. Its frame holds only plain data, as do the frames of the
// calls below and of libjpeg's: a longjmp out of them skips no destructor.
// libjpeg is called only through here.
[[nodiscard]] bool Guarded(JpegState& s, void (*call)(JpegState&))
{
    if (setjmp(s.jump) != 0) {
        return false;
    }
    call(s);
    return true;
}

void Create(JpegState& s) { jpeg_create_decompress(&s.cinfo); }

void ReadTables(JpegState& s) { s.header = jpeg_read_header(&s.cinfo, FALSE); }

void ReadHeader(JpegState& s)
{
    s.header = jpeg_read_header(&s.cinfo, TRUE);
    s.multiScan = jpeg_has_multiple_scans(&s.cinfo) != 0;
}

// The TIFF's Photometric, not markers in the stream, says what the
// components are: YCbCr is converted to RGB, the rest passed on as coded.
void StartRows(JpegState& s)
{
    switch (s.frame.colour) {
    case JpegColour::YCbCr: s.cinfo.jpeg_color_space = JCS_YCbCr; s.cinfo.out_color_space = JCS_RGB; break;
    case JpegColour::Rgb: s.cinfo.jpeg_color_space = JCS_RGB; s.cinfo.out_color_space = JCS_RGB; break;
    case JpegColour::Grey: s.cinfo.jpeg_color_space = JCS_GRAYSCALE; s.cinfo.out_color_space = JCS_GRAYSCALE; break;
    }
    jpeg_start_decompress(&s.cinfo);
    s.feed = kJpegFastBytesPerBlock * static_cast<size_t>(std::max(s.cinfo.blocks_in_MCU, 1)) - 1;
    // The row lives as long as the object, and is made after the first
    // stream's buffers: above them in the heap, it keeps the allocator from
    // handing their memory back to the system when a chunk ends (they are
    // freed then) only to ask for it again for the next, page by page.
    const JDIMENSION rowBytes = s.cinfo.output_width * static_cast<JDIMENSION>(s.cinfo.output_components);
    if (s.row == nullptr || s.rowBytes != rowBytes) {  // every chunk of a picture has the same width
        s.row = (*s.cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s.cinfo), JPOOL_PERMANENT, rowBytes, 1);
        s.rowBytes = rowBytes;
    }
}

void ReadRow(JpegState& s)
{
    if (jpeg_read_scanlines(&s.cinfo, &s.target, 1) != 1) {
        ERREXIT(&s.cinfo, JERR_INPUT_EOF);  // cannot happen with a source that never suspends
    }
}

void Finish(JpegState& s) { jpeg_finish_decompress(&s.cinfo); }

JpegState* State(JpegDecoder& decoder) { return static_cast<JpegState*>(decoder.state); }

// Destroys libjpeg's object after an error, and says why the chunk failed.
Status Fail(JpegDecoder& decoder)
{
    JpegState& s = *State(decoder);
    decoder.failure = s.source != nullptr && s.source->status != Status::Ok ? s.source->status : Status::NotSupported;
    JpegEnd(decoder);
    return decoder.failure;
}

// Points libjpeg at a new stream.
void Attach(JpegState& s, ByteSource& source)
{
    s.source = &source;
    s.feed = kJpegHeaderFeedBytes;
    s.input.next_input_byte = nullptr;
    s.input.bytes_in_buffer = 0;
}

}  // namespace

bool JpegAvailable() { return true; }

Status JpegStart(JpegDecoder& decoder, void* arena)
{
    if (decoder.state == arena) {
        // The last chunk's object: its buffers for that stream's rows go
        // back (never fails), what it was made with stays, so that its heap
        // is that of one stream however many chunks the picture has.
        jpeg_abort_decompress(&State(decoder)->cinfo);
        decoder.row = nullptr;
        decoder.rowBytes = decoder.rowOut = 0;
        return Status::Ok;
    }
    JpegEnd(decoder);
    decoder = JpegDecoder{};
    auto* s = new (arena) JpegState{};
    s->cinfo.err = jpeg_std_error(&s->errors);
    s->errors.error_exit = ErrorExit;
    s->errors.emit_message = EmitMessage;
    s->errors.output_message = OutputMessage;
    s->cinfo.client_data = s;
    decoder.state = s;
    if (!Guarded(*s, Create)) {
        return Fail(decoder);
    }
    s->input.init_source = InitSource;
    s->input.fill_input_buffer = FillInputBuffer;
    s->input.skip_input_data = SkipInputData;
    s->input.resync_to_restart = jpeg_resync_to_restart;
    s->input.term_source = TermSource;
    s->cinfo.src = &s->input;
    return Status::Ok;
}

Status JpegTables(JpegDecoder& decoder, ByteSource& source)
{
    JpegState* s = State(decoder);
    if (s == nullptr) {
        return decoder.failure != Status::Ok ? decoder.failure : Status::NotSupported;
    }
    Attach(*s, source);
    if (!Guarded(*s, ReadTables)) {
        return Fail(decoder);
    }
    return s->header == JPEG_HEADER_TABLES_ONLY ? Status::Ok : Fail(decoder);
}

Status JpegBegin(JpegDecoder& decoder, ByteSource& source, const JpegFrame& frame)
{
    JpegState* s = State(decoder);
    if (s == nullptr) {
        return decoder.failure != Status::Ok ? decoder.failure : Status::NotSupported;
    }
    Attach(*s, source);
    s->frame = frame;
    if (!Guarded(*s, ReadHeader)) {
        return Fail(decoder);
    }
    const jpeg_decompress_struct& c = s->cinfo;
    const int components = frame.colour == JpegColour::Grey ? 1 : 3;
    // A frame of another size than its chunk: libtiff too refuses one wider
    // or taller (but for a last strip coded taller: `maxRows`), and one
    // smaller would leave pixels undecoded. 12-bit samples, and streams
    // whose decoding needs memory for all their coefficients, are refused.
    if (s->header != JPEG_HEADER_OK || c.image_width != frame.width || c.image_height < frame.rows ||
        c.image_height > frame.maxRows || c.num_components != components || c.data_precision != 8 ||
        c.progressive_mode || s->multiScan) {
        return Fail(decoder);
    }
    if (!Guarded(*s, StartRows)) {
        return Fail(decoder);
    }
    decoder.rowBytes = size_t{s->cinfo.output_width} * static_cast<size_t>(s->cinfo.output_components);
    decoder.rowOut = decoder.rowBytes;
    decoder.row = s->row[0];
    return Status::Ok;
}

Status JpegRead(JpegDecoder& decoder, uint8_t* out, size_t size)
{
    JpegState* s = State(decoder);
    if (s == nullptr) {
        return decoder.failure != Status::Ok ? decoder.failure : Status::NotSupported;
    }
    while (size > 0) {
        if (decoder.rowOut == decoder.rowBytes) {
            // A whole row asked for goes straight to `out`, else to the
            // row kept, to be handed out in parts.
            const bool whole = size >= decoder.rowBytes;
            s->target = whole ? out : s->row[0];
            if (s->cinfo.output_scanline >= s->cinfo.output_height || !Guarded(*s, ReadRow)) {
                return Fail(decoder);  // more rows asked for than the frame has, or damage
            }
            if (whole) {
                out += decoder.rowBytes;
                size -= decoder.rowBytes;
                continue;
            }
            decoder.rowOut = 0;
        }
        const size_t n = std::min(size, decoder.rowBytes - decoder.rowOut);
        std::memcpy(out, decoder.row + decoder.rowOut, n);
        decoder.rowOut += n;
        out += n;
        size -= n;
    }
    return Status::Ok;
}

bool JpegDone(JpegDecoder& decoder)
{
    JpegState* s = State(decoder);
    if (s == nullptr || decoder.rowOut != decoder.rowBytes) {
        return false;
    }
    if (s->cinfo.output_scanline < s->cinfo.output_height) {
        return true;  // a last strip coded taller than the picture: its rows past the picture are ignored
    }
    return Guarded(*s, Finish) || Fail(decoder) == Status::Ok;
}

void JpegEnd(JpegDecoder& decoder)
{
    if (JpegState* s = State(decoder); s != nullptr) {
        jpeg_destroy_decompress(&s->cinfo);  // frees every buffer libjpeg allocated; never fails
        s->~JpegState();
        decoder.state = nullptr;
        decoder.row = nullptr;
    }
}

}  // namespace kestova

#else  // a build without libjpeg: JPEG is refused

namespace kestova {

bool JpegAvailable() { return false; }
Status JpegStart(JpegDecoder& decoder, void*)
{
    decoder = JpegDecoder{};
    decoder.failure = Status::NotSupported;
    return Status::NotSupported;
}
Status JpegTables(JpegDecoder&, ByteSource&) { return Status::NotSupported; }
Status JpegBegin(JpegDecoder&, ByteSource&, const JpegFrame&) { return Status::NotSupported; }
Status JpegRead(JpegDecoder&, uint8_t*, size_t) { return Status::NotSupported; }
bool JpegDone(JpegDecoder&) { return false; }
void JpegEnd(JpegDecoder&) {}

}  // namespace kestova

#endif
