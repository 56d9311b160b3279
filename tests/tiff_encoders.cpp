#include "tiff_encoders.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#if KESTOVATIFF_WITH_JPEG
#include <jpeglib.h>
#endif

namespace tiff_encoders {

Bytes PackBits(const uint8_t* data, size_t size)
{
    Bytes out;
    for (size_t i = 0; i < size;) {
        size_t run = 1;
        while (i + run < size && run < 128 && data[i + run] == data[i]) {
            ++run;
        }
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            out.push_back(data[i]);
            i += run;
            continue;
        }
        // A literal, up to the next run of three.
        size_t n = 0;
        while (i + n < size && n < 128 &&
               !(i + n + 2 < size && data[i + n] == data[i + n + 1] && data[i + n] == data[i + n + 2])) {
            ++n;
        }
        out.push_back(static_cast<uint8_t>(n - 1));
        out.insert(out.end(), data + i, data + i + n);
        i += n;
    }
    return out;
}

void CodeWriter::Put(uint32_t code, uint32_t width)
{
    if (lsbFirst_) {
        bits_ |= uint64_t{code} << count_;
    } else {
        bits_ = (bits_ << width) | code;
    }
    count_ += width;
    while (count_ >= 8) {
        count_ -= 8;
        if (lsbFirst_) {
            out_.push_back(static_cast<uint8_t>(bits_));
            bits_ >>= 8;
        } else {
            out_.push_back(static_cast<uint8_t>(bits_ >> count_));
        }
    }
}

Bytes CodeWriter::Finish()
{
    if (count_ > 0) {
        Put(0, 8 - count_);
    }
    return out_;
}

Bytes LzwCodes(const std::vector<uint32_t>& codes, bool oldStyle)
{
    CodeWriter writer(oldStyle);
    uint32_t width = 9;
    uint32_t free = 258;  // the decoder's next code: it defines one for each code but a clear's first
    bool first = true;
    for (const uint32_t code : codes) {
        writer.Put(code, width);
        if (code == 256) {
            width = 9;
            free = 258;
            first = true;
        } else if (code != 257 && !std::exchange(first, false) &&
                   ++free >= (1u << width) - (oldStyle ? 0 : 1) && width < 12) {
            ++width;
        }
    }
    return writer.Finish();
}

Bytes Lzw(const uint8_t* data, size_t size, bool oldStyle)
{
    constexpr uint32_t kClear = 256;
    // The table as a trie: child[code * 256 + byte], 0 for none; the
    // entries set are remembered, to clear only them.
    static thread_local std::vector<uint16_t> child(size_t{4096} * 256);
    std::vector<size_t> set;
    std::vector<uint32_t> codes = {kClear};
    uint32_t free = 258;
    for (size_t i = 0; i < size; ++i) {
        uint32_t string = data[i];
        while (i + 1 < size && child[size_t{string} * 256 + data[i + 1]] != 0) {
            string = child[size_t{string} * 256 + data[++i]];
        }
        codes.push_back(string);
        if (i + 1 == size) {
            break;
        }
        if (free < 4093) {
            set.push_back(size_t{string} * 256 + data[i + 1]);
            child[set.back()] = static_cast<uint16_t>(free++);
            continue;
        }
        codes.push_back(kClear);
        free = 258;
        for (const size_t at : set) {
            child[at] = 0;
        }
        set.clear();
    }
    for (const size_t at : set) {
        child[at] = 0;  // the trie empty for the next call
    }
    codes.push_back(257);
    return LzwCodes(codes, oldStyle);
}

Bytes Deflate(const uint8_t* data, size_t size, int level)
{
    uLongf length = compressBound(static_cast<uLong>(size));
    Bytes out(length);
    if (compress2(out.data(), &length, data, static_cast<uLong>(size), level) != Z_OK) {
        throw std::runtime_error("compress2 failed");
    }
    out.resize(length);
    return out;
}

Bytes DeflateZeros(uint64_t count)
{
    // One block with codes of its own: literal 0 is '10', the end of the
    // block '11', a match of 258 bytes (length code 285) '0' and distance 1
    // '0', so that all but the stream's ends are zero bytes.
    CodeWriter bits(true);
    const auto huffman = [&](uint32_t code, uint32_t width) {  // most significant bit first
        for (uint32_t i = width; i-- > 0;) {
            bits.Put(code >> i & 1, 1);
        }
    };
    bits.Put(1, 1);   // the last block,
    bits.Put(2, 2);   // its codes sent in it:
    bits.Put(29, 5);  // 286 literal and length codes,
    bits.Put(0, 5);   // 1 distance code,
    bits.Put(14, 4);  // 18 code length codes, in the order the format sends them (16, 17, 18, 0, 8, ...):
    for (const uint32_t length : {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}) {
        bits.Put(length, 3);  // length 1 is '10', 2 '11', 18 (a run of zeros) '0'
    }
    const auto unused = [&](uint32_t n) {
        for (uint32_t run = 0; n > 0; n -= run) {
            run = std::min(n, 138u);
            huffman(0, 1);
            bits.Put(run - 11, 7);
        }
    };
    huffman(3, 2);  // literal 0: 2 bits
    unused(255);
    huffman(3, 2);  // the end of the block: 2 bits
    unused(28);
    huffman(2, 2);  // length code 285: 1 bit
    huffman(2, 2);  // distance 1: 1 bit
    huffman(2, 2);
    for (uint64_t left = (count - 1) / 258 * 2; left > 0;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(left, 32));
        bits.Put(0, n);
        left -= n;
    }
    for (uint64_t i = 0; i < (count - 1) % 258; ++i) {
        huffman(2, 2);
    }
    huffman(3, 2);
    Bytes out = {0x78, 0x9C};
    const Bytes block = bits.Finish();
    out.insert(out.end(), block.begin(), block.end());
    const uint32_t adler = static_cast<uint32_t>(count % 65521) << 16 | 1;  // every byte 0
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(adler >> shift));
    }
    return out;
}

Bytes FromBitText(const std::string& text)
{
    Bytes bytes;
    size_t count = 0;
    for (const char c : text) {
        if (c == '0' || c == '1') {
            bytes.resize(count / 8 + 1);
            bytes[count / 8] = static_cast<uint8_t>(bytes[count / 8] | (c - '0') << (7 - count % 8));
            ++count;
        }
    }
    return bytes;
}

std::string BitText(uint32_t code, uint32_t bits)
{
    std::string text;
    for (uint32_t bit = bits; bit-- > 0;) {
        text += (code >> bit & 1) != 0 ? '1' : '0';
    }
    return text;
}

}  // namespace tiff_encoders

#if KESTOVATIFF_WITH_JPEG
namespace tiff_encoders {
namespace {

// Sets up `c` for the options, its output to memory.
void Prepare(jpeg_compress_struct& c, jpeg_error_mgr& errors, const JpegOptions& o, uint32_t width,
             uint32_t height, unsigned char** out, unsigned long* size)
{
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, out, size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = o.components;
    c.in_color_space = o.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, o.quality, TRUE);
    if (o.components == 3) {
        jpeg_set_colorspace(&c, o.ycbcr ? JCS_YCbCr : JCS_RGB);
        c.comp_info[0].h_samp_factor = o.ycbcr ? o.hSampling : 1;
        c.comp_info[0].v_samp_factor = o.ycbcr ? o.vSampling : 1;
    }
    // TIFF's streams carry no JFIF marker: Photometric says the colour.
    c.write_JFIF_header = FALSE;
    c.write_Adobe_marker = FALSE;
    if (o.progressive) {
        jpeg_simple_progression(&c);
    }
    static const jpeg_scan_info kComponentScans[] = {
        {1, {0}, 0, 63, 0, 0}, {1, {1}, 0, 63, 0, 0}, {1, {2}, 0, 63, 0, 0}};
    if (o.componentScans) {
        c.scan_info = kComponentScans;
        c.num_scans = 3;
    }
}

Bytes Take(unsigned char* out, unsigned long size)
{
    Bytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

}  // namespace

Bytes Jpeg(const uint8_t* samples, uint32_t width, uint32_t height, const JpegOptions& options)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    Prepare(c, errors, options, width, height, &out, &size);
    if (options.abbreviated) {
        jpeg_suppress_tables(&c, TRUE);
    }
    jpeg_start_compress(&c, options.abbreviated ? FALSE : TRUE);
    const size_t rowBytes = size_t{width} * static_cast<size_t>(options.components);
    while (c.next_scanline < c.image_height) {
        auto* row = const_cast<JSAMPLE*>(samples + c.next_scanline * rowBytes);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return Take(out, size);
}

Bytes JpegTables(const JpegOptions& options)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    Prepare(c, errors, options, 8, 8, &out, &size);
    jpeg_write_tables(&c);
    jpeg_destroy_compress(&c);
    return Take(out, size);
}

}  // namespace tiff_encoders
#endif
